// The modes over the result files: the report (--report) and simulated participants
// (--simulate). Both run without any display.
#pragma once

#include <QCommandLineOption>

#include "cli/command_line.h"

namespace pyokoran {

CommandMode ReportMode();
CommandMode SimulateMode();
// --out, which both modes take (a file name for the report, a folder for the runs).
QCommandLineOption AnalysisOutOption();
// --subject, which both modes take (the simulated subject; the subjects the report's PDF shows).
QCommandLineOption SubjectOption();

}  // namespace pyokoran
