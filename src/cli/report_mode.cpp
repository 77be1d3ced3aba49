// --report [FOLDER] [--out FILE] [--anticipation MS] [--subject ID ...] [--pdf-all]: the report
// window's table and PDF, written without opening a window.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "analysis/html_report.h"
#include "cli/analysis_modes.h"
#include "gui/report_window.h"
#include "platform/cp932.h"

namespace pyokoran {
namespace {

const QCommandLineOption kPdfAll(
    "pdf-all", "--report: the PDF holds every run and a page of plots per subject (default: the "
               "summary, a row per subject, and the runs and plots of each --subject).");
const QCommandLineOption kAnticipation(
    "anticipation", "--report: responses faster than MS count as anticipations (default 150).", "MS");

std::string CheckReport(const QCommandLineParser& parser) {
  if (!parser.isSet(kAnticipation)) return {};
  bool ok = false;
  const int ms = parser.value(kAnticipation).toInt(&ok);
  return ok && ms >= -1000 && ms <= 5000 ? ""
                                         : "--anticipation needs whole ms from -1000 to 5000.";
}

int RunReport(const ModeRun& run) {
  const QString folder = !run.arguments.isEmpty() ? run.arguments.front()
                         : !run.folder.empty()    ? QString::fromStdString(run.folder)
                                                  : QStringLiteral(".");
  QString base = run.parser.isSet(AnalysisOutOption())
                     ? run.parser.value(AnalysisOutOption())
                     : QDir(folder).filePath(QStringLiteral("ピョコラン_report"));
  if (base.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive) ||
      base.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive))
    base.chop(4);
  else if (base.endsWith(QStringLiteral(".html"), Qt::CaseInsensitive))
    base.chop(5);
  const QString base_name = QFileInfo(base).fileName();
  if (base_name.isEmpty() || base_name == QStringLiteral(".") || base_name == QStringLiteral("..")) {
    std::fprintf(stderr, "pyokoran: --out needs a file name\n");
    return kUsageExitStatus;
  }
  // Every output is checked before any is written: only the program's own earlier reports are
  // replaced, and whatever lies at a temporary name (a FIFO, a planted link) is removed unread.
  for (const char* suffix : {".csv", ".pdf", ".html"}) {
    const std::string path = (base + QLatin1String(suffix)).toStdString();
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0 && !IsOurReport(path)) {
      std::fprintf(stderr, "pyokoran: %s exists and is not a report; not replaced\n", path.c_str());
      return 1;
    }
    const std::string temp = path + ".part";
    if (lstat(temp.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) unlink(temp.c_str());
  }

  // The charts need widgets, not a screen: without a display Qt draws offscreen.
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(run.argc, run.argv);

  ReportWindow window(folder);
  if (run.parser.isSet(kAnticipation)) window.SetAnticipationLimit(run.parser.value(kAnticipation).toInt());
  if (!window.loaded()) {
    Report probe;
    std::string error;
    BuildReport(folder.toStdString(), {}, probe, error);
    std::fprintf(stderr, "pyokoran: %s\n", error.c_str());
    return 1;
  }
  for (const std::string& problem : window.report().results.problems)
    std::fprintf(stderr, "pyokoran: %s\n", problem.c_str());
  // The subjects whose runs and plots the PDF adds to its summary.
  std::vector<std::string> chosen;
  for (const QString& id : run.parser.values(SubjectOption())) {
    std::string cp932;
    const bool known = Utf8ToCp932(id.toStdString(), cp932) &&
                       std::any_of(window.report().subjects.begin(), window.report().subjects.end(),
                                   [&](const SubjectReport& s) { return s.subject == cp932; });
    if (!known) {
      std::fprintf(stderr, "pyokoran: --subject %s: no runs of this subject in %s\n", id.toLocal8Bit().constData(),
                   folder.toLocal8Bit().constData());
      return 1;
    }
    chosen.push_back(cp932);
  }
  window.SetSelectedSubjects(chosen);
  const PdfContent content = run.parser.isSet(kPdfAll) ? PdfContent::kEverything : PdfContent::kSelection;
  const QString csv = base + QStringLiteral(".csv"), pdf = base + QStringLiteral(".pdf");
  QString error;
  if (!window.ExportCsv(csv, &error) || !window.ExportPdf(pdf, content, &error)) {
    std::fprintf(stderr, "pyokoran: %s\n", error.toLocal8Bit().constData());
    return 1;
  }
  std::string html_error;
  if (!WriteReportHtml(window.report(), (base + QStringLiteral(".html")).toStdString(), html_error)) {
    std::fprintf(stderr, "pyokoran: %s\n", html_error.c_str());
    return 1;
  }
  std::printf("%zu runs, %zu subjects%s: %s, %s and %s.html written\n", window.report().results.runs.size(),
              window.report().subjects.size(), window.report().results.simulated ? " (simulated)" : "",
              csv.toLocal8Bit().constData(), pdf.toLocal8Bit().constData(), base.toLocal8Bit().constData());
  return 0;
}

}  // namespace

QCommandLineOption AnalysisOutOption() {
  return QCommandLineOption(
      "out",
      "--report: write FILE.csv, FILE.pdf and FILE.html (default FOLDER/ピョコラン_report). "
      "--simulate: write the runs into the folder FILE (default simulated).",
      "FILE");
}

QCommandLineOption SubjectOption() {
  return QCommandLineOption(
      "subject",
      "--simulate: subject ID (default: the settings'). --report: the PDF adds the runs and plots "
      "of subject ID to its summary (give it again for more subjects).",
      "ID");
}

CommandMode ReportMode() {
  CommandMode mode;
  mode.options = {QCommandLineOption("report",
                                     "Write the go/no-go report of the result files in FOLDER "
                                     "(default: the working folder) as CSV, PDF and HTML, without a window."),
                  AnalysisOutOption(), kAnticipation, SubjectOption(), kPdfAll};
  mode.max_arguments = 1;
  mode.argument_name = "FOLDER";
  mode.argument_description = "--report: the folder of result files.";
  mode.argument_syntax = "[FOLDER]";
  mode.check = CheckReport;
  mode.run = RunReport;
  return mode;
}

}  // namespace pyokoran
