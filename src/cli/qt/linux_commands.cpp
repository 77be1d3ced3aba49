#include "cli/qt/linux_commands.h"

#include <QApplication>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "cli/analysis_modes.h"
#include "gui/report_window.h"
#include "platform/cp932.h"
#include "platform/qt/qt_platform.h"
#include "timing/timing_check.h"

namespace pyokoran {
namespace {

int RunCheckTiming(const ModeRun& run) {
  QtPlatform platform(run.argc, run.argv);
  return CheckTiming(platform, stdout);
}

// --report: the folder read by the report window, which draws the PDF.
int RunReport(const ModeRun& run) {
  // The runs' rows take tens of MB in thousands of pieces: the heap grows in large steps
  // rather than a page or two at a time (the pages are still taken only as they are used).
  mallopt(M_TOP_PAD, 64 << 20);
  ReportOutputs outputs;
  int status = 0;
  if (!PrepareReportOutputs(run, true, outputs, status)) return status;
  // The charts need widgets, not a screen: without a display Qt draws offscreen.
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(run.argc, run.argv);
  // Read once, with the options given; no table, and plots only for the PDF's pages.
  ReportWindow window(QString::fromStdString(outputs.folder), nullptr, false, ReportMeasureOptions(run.options),
                      /*table=*/false);
  if (!window.loaded()) {
    std::fprintf(stderr, "pyokoran: %s\n", window.error().c_str());
    return 1;
  }
  // The subjects whose runs and plots the PDF adds to its summary.
  std::vector<std::string> chosen;
  for (const std::string& id : run.options.Values("subject")) {
    std::string cp932;
    const auto& subjects = window.report().subjects;
    if (!Utf8ToCp932(id, cp932) || std::none_of(subjects.begin(), subjects.end(), [&](const SubjectReport& s) {
          return s.subject == cp932;
        })) {
      std::fprintf(stderr, "pyokoran: --subject %s: no runs of this subject in %s\n", id.c_str(),
                   outputs.folder.c_str());
      return 1;
    }
    chosen.push_back(cp932);
  }
  window.SetSelectedSubjects(chosen);
  window.SetLanguage(ReportLanguageOption(run.options));
  const PdfContent content = run.options.IsSet("pdf-all") ? PdfContent::kEverything : PdfContent::kSelection;
  return WriteReportOutputs(window.report(), outputs, [&](const std::string& path, std::string& error) {
    QString why;
    if (window.ExportPdf(QString::fromStdString(path), content, &why)) return true;
    error = why.toStdString();
    return false;
  });
}

}  // namespace

SystemCommands LinuxCommands() {
  SystemCommands system;
  system.launcher = "desktop menu";
  system.present_help =
      "Present frames in MODE: locked (OpenGL, locked to the display's refresh) or fallback "
      "(the window's backing store, paced by the clock), whatever the measurement says. The "
      "PYOKORAN_PRESENT variable does the same.";
  system.report_pdf = true;
  system.report = RunReport;
  system.check_timing = RunCheckTiming;
  return system;
}

}  // namespace pyokoran
