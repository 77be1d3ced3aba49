// The program's modal dialogs over Qt: About box, condition dialog, result dialog.
#pragma once

#include "platform/platform.h"

class QWidget;

namespace pyokoran {

class CSubject;

void RunAboutBox(QWidget* parent, const AboutBoxContent& content);
// IDOK or IDCANCEL.
int RunConditionDialog(QWidget* parent, CSubject& dialog);
void RunResultDialog(QWidget* parent, const ResultDialogContent& content);

}  // namespace pyokoran
