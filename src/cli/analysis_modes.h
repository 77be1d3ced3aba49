// The modes over the result files: the report (--report) and simulated participants
// (--simulate). Both run without any display.
#pragma once

#include <functional>
#include <string>

#include "analysis/report.h"
#include "cli/command_line.h"

namespace pyokoran {

CommandMode ReportMode(const SystemCommands& system);
CommandMode SimulateMode();
// --out, which both modes take (a file name for the report, a folder for the runs).
CommandOption AnalysisOutOption(bool report_pdf);
// --subject, which both modes take (the simulated subject; the subjects the report's PDF adds
// to its summary).
CommandOption SubjectOption(bool report_pdf);

// Where --report writes: base + ".csv", ".html" (and ".pdf").
struct ReportOutputs {
  std::string folder;  // of the result files
  std::string base;    // --out without its suffix, or folder/ピョコラン_report
  std::string about;   // the CSV's side file
  std::string trials;  // --trials, or empty
  bool pdf = false;
};

// The folder and outputs run asks for, each output checked before any is written: only the
// program's own earlier reports are replaced, and whatever lies at a temporary name (a FIFO,
// a planted link) is removed unread. False, with the message printed and the exit status in
// status, when one cannot be written.
bool PrepareReportOutputs(const ModeRun& run, bool pdf, ReportOutputs& outputs, int& status);
// The measure options --report's options ask for.
MeasureOptions ReportMeasureOptions(const OptionValues& options);
// The language --lang asks for (Japanese unless en).
ReportLanguage ReportLanguageOption(const OptionValues& options);
// Prints the problems found in the files, writes the CSV and its side file, then (write_pdf) the
// PDF, then the HTML and the trial file, and says what was written; the exit status.
int WriteReportOutputs(const Report& report, const ReportOutputs& outputs,
                       const std::function<bool(const std::string& path, std::string& error)>& write_pdf);
// --report where the system has no PDF: the folder read, the CSV and the HTML written.
int RunReportCsvHtml(const ModeRun& run);

}  // namespace pyokoran
