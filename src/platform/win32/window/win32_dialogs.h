// The program's modal dialogs from their templates in pyokoran.rc (About box 102, condition
// dialog 104, result dialog 111), and its message boxes. Each runs the system's modal loop
// and returns when it has closed.
#pragma once

#include <string>

#include "platform/platform.h"
#include "platform/win32/window/windows_api.h"

namespace pyokoran {

class CSubject;

void RunAboutBox(HINSTANCE instance, HWND owner, const AboutBoxContent& content);
// IDOK or IDCANCEL; stays open (with the field's message) while a field fails.
int RunConditionDialog(HINSTANCE instance, HWND owner, CSubject& dialog);
void RunResultDialog(HINSTANCE instance, HWND owner, const ResultDialogContent& content);
// A message box with one OK button.
// A message box with 再試行 and キャンセル (the system's own texts); true for 再試行.
bool RunRetryBox(HWND owner, const std::string& text, const std::string& caption);
void RunMessageBox(HWND owner, const std::string& text, const std::string& caption,
                   MessageIcon icon);

// A dialog whose template face lacks Japanese glyphs here gets a face that has them
// (win32_text.h), at the same size, in every control. Called at WM_INITDIALOG.
void GiveDialogJapaneseFont(HWND dialog);

}  // namespace pyokoran
