// --report [FOLDER] [--out FILE] [--anticipation MS] [--exclude-anticipations] [--trials FILE]:
// the report window's table (with its side file), PDF and HTML, and the trial file, written
// without opening a window.
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
#include "analysis/trial_export.h"
#include "cli/analysis_modes.h"
#include "cli/build_version.h"
#include "gui/report_window.h"

namespace pyokoran {
namespace {

const QCommandLineOption kAnticipation(
    "anticipation", "--report: responses faster than MS count as anticipations (default 150).", "MS");

const QCommandLineOption kExcludeAnticipations(
    "exclude-anticipations",
    "--report: leave anticipations out of Hit and FA (and so out of the rates, d' and c) too, "
    "not only out of the RT figures.");
const QCommandLineOption kTrials(
    "trials", "--report: also write one row per appearance of every run to FILE (CSV).", "FILE");

std::string CheckReport(const QCommandLineParser& parser) {
  if (parser.isSet(kTrials) && parser.value(kTrials).isEmpty()) return "--trials needs a file name.";
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
  const QString about = QString::fromStdString(AboutPathFor(base.toStdString()));
  const QString trials = run.parser.isSet(kTrials) ? run.parser.value(kTrials) : QString();
  QStringList outputs = {base + QStringLiteral(".csv"), base + QStringLiteral(".pdf"),
                         base + QStringLiteral(".html"), about};
  if (!trials.isEmpty()) {
    auto same = [&](const QString& other) {
      return QDir::cleanPath(QFileInfo(other).absoluteFilePath()) == QDir::cleanPath(QFileInfo(trials).absoluteFilePath());
    };
    if (std::any_of(outputs.begin(), outputs.end(), same) || QFileInfo(trials).fileName().isEmpty()) {
      std::fprintf(stderr, "pyokoran: --trials needs a file of its own\n");
      return kUsageExitStatus;
    }
    outputs << trials;
  }
  // Every output is checked before any is written: only the program's own earlier reports are
  // replaced, and whatever lies at a temporary name (a FIFO, a planted link) is removed unread.
  for (const QString& output : outputs) {
    const std::string path = output.toStdString();
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
  SetReportProgramVersion("pyokoran " + VersionText());

  ReportWindow window(folder);
  if (run.parser.isSet(kAnticipation)) window.SetAnticipationLimit(run.parser.value(kAnticipation).toInt());
  if (run.parser.isSet(kExcludeAnticipations)) window.SetExcludeAnticipations(true);
  if (!window.loaded()) {
    Report probe;
    std::string error;
    BuildReport(folder.toStdString(), {}, probe, error);
    std::fprintf(stderr, "pyokoran: %s\n", error.c_str());
    return 1;
  }
  for (const std::string& problem : window.report().results.problems)
    std::fprintf(stderr, "pyokoran: %s\n", problem.c_str());
  const QString csv = base + QStringLiteral(".csv"), pdf = base + QStringLiteral(".pdf");
  QString error;
  if (!window.ExportCsv(csv, &error) || !window.ExportPdf(pdf, true, &error)) {
    std::fprintf(stderr, "pyokoran: %s\n", error.toLocal8Bit().constData());
    return 1;
  }
  std::string more_error;
  if (!WriteReportAbout(window.report(), about.toStdString(), more_error) ||
      !WriteReportHtml(window.report(), (base + QStringLiteral(".html")).toStdString(), more_error) ||
      (!trials.isEmpty() && !WriteTrialsCsv(window.report(), trials.toStdString(), more_error))) {
    std::fprintf(stderr, "pyokoran: %s\n", more_error.c_str());
    return 1;
  }
  std::printf("%zu runs, %zu subjects%s: %s, %s, %s.html and %s written%s%s\n", window.report().results.runs.size(),
              window.report().subjects.size(), window.report().results.simulated ? " (simulated)" : "",
              csv.toLocal8Bit().constData(), pdf.toLocal8Bit().constData(), base.toLocal8Bit().constData(),
              about.toLocal8Bit().constData(), trials.isEmpty() ? "" : "; trials: ",
              trials.toLocal8Bit().constData());
  return 0;
}

}  // namespace

QCommandLineOption AnalysisOutOption() {
  return QCommandLineOption(
      "out",
      "--report: write FILE.csv (with FILE_about.txt), FILE.pdf and FILE.html (default "
      "FOLDER/ピョコラン_report). "
      "--simulate: write the runs into the folder FILE (default simulated).",
      "FILE");
}

CommandMode ReportMode() {
  CommandMode mode;
  mode.options = {QCommandLineOption("report",
                                     "Write the go/no-go report of the result files in FOLDER "
                                     "(default: the working folder) as CSV, PDF and HTML, without a window."),
                  AnalysisOutOption(), kAnticipation, kExcludeAnticipations, kTrials};
  mode.max_arguments = 1;
  mode.argument_name = "FOLDER";
  mode.argument_description = "--report: the folder of result files.";
  mode.argument_syntax = "[FOLDER]";
  mode.check = CheckReport;
  mode.run = RunReport;
  return mode;
}

}  // namespace pyokoran
