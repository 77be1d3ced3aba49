// Identifiers of the program's resources, shared by pyokoran.rc and the code. Only #define
// lines: the resource compiler reads this file too.
#pragma once

// The program's icon.
#define IDI_PYOKORAN 1

// Menu and dialog templates.
#define IDR_MAINFRAME 101
#define IDD_ABOUTBOX 102
#define IDD_SUBJECT 104
#define IDD_RESULT 111

// Menu commands (the same numbers as ID_APP_EXIT ... in platform/platform.h).
#define IDM_APP_EXIT 40001
#define IDM_APP_ABOUT 40002
#define IDM_START 40005
#define IDM_SHOW_RESULT 40007
#define IDM_REPORT 40008

// Controls of the About box: the name line and the credit under it.
#define IDC_ABOUT_NAME 1000
#define IDC_ABOUT_CREDIT 1002

// Controls of the condition dialog (the same numbers as IDC_SUBJECT ... in
// settings/condition_dialog.h).
#define IDC_SUBJECT_EDIT 1001
#define IDC_TARGETS_EDIT 1006
#define IDC_DISTRACTORS_EDIT 1007
#define IDC_DURATION_EDIT 1008
#define IDC_ISI1_EDIT 1009
#define IDC_ISI2_EDIT 1010
#define IDC_HOLES_EDIT 1011
#define IDC_TIME_LIMIT_EDIT 1012
#define IDC_SEED_EDIT 1013
#define IDC_ORDERED_CHECK 1014

// Controls of the result dialog.
#define IDC_RESULT_LIST 1007
#define IDC_RESULT_SUMMARY 1008
