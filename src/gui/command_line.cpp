#include "gui/command_line.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "gui/report_window.h"
#include "simulation/simulator.h"

namespace pyokoran {
namespace {

void Fail(const QString& text) {
  std::fprintf(stderr, "pyokoran: %s\n", text.toLocal8Bit().constData());
}

const QCommandLineOption& Option(const char* name) {
  static const QCommandLineOption options[] = {
      {QStringLiteral("report"),
       QStringLiteral("Write the go/no-go report (CSV table and PDF) over the result files of "
                      "FOLDER (default: the working folder), without a window.")},
      {QStringLiteral("simulate"),
       QStringLiteral("Run N complete runs of the working folder's settings with a simulated "
                      "participant, into a folder of their own."),
       QStringLiteral("N")},
      {QStringLiteral("out"),
       QStringLiteral("--report: the file name of the report (.csv and .pdf are written; "
                      "default FOLDER/ピョコラン_report). --simulate: the folder for the runs "
                      "(default simulated)."),
       QStringLiteral("FILE|DIR")},
      {QStringLiteral("anticipation"),
       QStringLiteral("--report: responses faster than this are anticipations (default 150)."),
       QStringLiteral("MS")},
      {QStringLiteral("hit"), QStringLiteral("--simulate: probability of striking a target (default 0.85)."),
       QStringLiteral("P")},
      {QStringLiteral("false-alarm"),
       QStringLiteral("--simulate: probability of striking a distractor (default 0.10)."),
       QStringLiteral("P")},
      {QStringLiteral("rt"),
       QStringLiteral("--simulate: ex-Gaussian delay from the onset in ms (default 400,50,100)."),
       QStringLiteral("MU,SIGMA,TAU")},
      {QStringLiteral("refresh"), QStringLiteral("--simulate: display refresh in Hz (default 60)."),
       QStringLiteral("HZ")},
      {QStringLiteral("seed"),
       QStringLiteral("--simulate: seed of the first run (run k uses SEED + k); also makes the "
                      "participant reproducible. Default: the settings' seed."),
       QStringLiteral("S")},
      {QStringLiteral("subject"), QStringLiteral("--simulate: subject ID (default: the settings')."),
       QStringLiteral("ID")},
  };
  for (const QCommandLineOption& o : options) {
    if (o.names().front() == QLatin1String(name)) return o;
  }
  std::abort();
}

constexpr const char* kOptionNames[] = {"report", "simulate", "out",     "anticipation", "hit",
                                        "false-alarm", "rt",   "refresh", "seed",         "subject"};

bool ToDouble(const QString& text, double& value) {
  bool ok = false;
  value = text.toDouble(&ok);
  return ok;
}

int RunReport(const QCommandLineParser& parser) {
  const QStringList positional = parser.positionalArguments();
  if (positional.size() > 1) {
    Fail(QStringLiteral("--report takes one folder"));
    return 2;
  }
  const QString folder = positional.isEmpty() ? QStringLiteral(".") : positional.front();
  QString base = parser.isSet(Option("out")) ? parser.value(Option("out"))
                                             : QDir(folder).filePath(QStringLiteral("ピョコラン_report"));
  if (base.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive) ||
      base.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive))
    base.chop(4);
  if (base.isEmpty()) {
    Fail(QStringLiteral("--out needs a file name"));
    return 2;
  }

  ReportWindow window(folder);
  if (parser.isSet(Option("anticipation"))) {
    bool ok = false;
    const int ms = parser.value(Option("anticipation")).toInt(&ok);
    if (!ok || ms < -1000 || ms > 5000) {
      Fail(QStringLiteral("--anticipation needs a whole number of ms between -1000 and 5000"));
      return 2;
    }
    window.SetAnticipationLimit(ms);
  }
  if (!window.loaded()) {
    std::string error;
    Report probe;
    BuildReport(folder.toStdString(), {}, probe, error);
    Fail(QString::fromStdString(error));
    return 1;
  }
  for (const std::string& problem : window.report().results.problems)
    std::fprintf(stderr, "pyokoran: %s\n", problem.c_str());
  QString error;
  const QString csv = base + QStringLiteral(".csv"), pdf = base + QStringLiteral(".pdf");
  if (!window.ExportCsv(csv, &error) || !window.ExportPdf(pdf, true, &error)) {
    Fail(error);
    return 1;
  }
  std::printf("%zu runs of %zu subjects%s: %s, %s\n", window.report().results.runs.size(),
              window.report().subjects.size(),
              window.report().results.simulated ? " (simulated)" : "", csv.toLocal8Bit().constData(),
              pdf.toLocal8Bit().constData());
  return 0;
}

int RunSimulate(const QCommandLineParser& parser) {
  SimulationOptions o;
  bool ok = false;
  o.runs = parser.value(Option("simulate")).toInt(&ok);
  if (!ok || o.runs < 1 || o.runs > 1000000) {
    Fail(QStringLiteral("--simulate needs a number of runs from 1 to 1000000"));
    return 2;
  }
  if (parser.isSet(Option("hit")) && !ToDouble(parser.value(Option("hit")), o.hit)) {
    Fail(QStringLiteral("--hit needs a probability"));
    return 2;
  }
  if (parser.isSet(Option("false-alarm")) &&
      !ToDouble(parser.value(Option("false-alarm")), o.false_alarm)) {
    Fail(QStringLiteral("--false-alarm needs a probability"));
    return 2;
  }
  if (parser.isSet(Option("rt")) &&
      !ParseRtTriple(parser.value(Option("rt")).toStdString(), o.rt_mu, o.rt_sigma, o.rt_tau)) {
    Fail(QStringLiteral("--rt needs MU,SIGMA,TAU in ms, e.g. 400,50,100"));
    return 2;
  }
  if (parser.isSet(Option("refresh"))) {
    o.refresh_hz = parser.value(Option("refresh")).toInt(&ok);
    if (!ok) {
      Fail(QStringLiteral("--refresh needs a whole number of Hz"));
      return 2;
    }
  }
  if (parser.isSet(Option("seed"))) {
    o.has_seed = true;
    o.seed = parser.value(Option("seed")).toUInt(&ok);
    if (!ok) {
      Fail(QStringLiteral("--seed needs a whole number from 0 to 4294967295"));
      return 2;
    }
  }
  if (parser.isSet(Option("subject"))) {
    o.has_subject = true;
    o.subject = parser.value(Option("subject")).toStdString();
  }
  if (parser.isSet(Option("out"))) o.out_dir = parser.value(Option("out")).toStdString();
  if (!parser.positionalArguments().isEmpty()) {
    Fail(QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().front()));
    return 2;
  }
  const std::string problem = CheckSimulationOptions(o);
  if (!problem.empty()) {
    Fail(QString::fromStdString(problem));
    return 2;
  }
  SimulationResult result;
  std::string error;
  const bool done = RunSimulation(o, result, error);
  if (result.runs > 0 || done) {
    std::printf("%d simulated runs written to %s/ (Hit %d, Miss %d, FA %d, CR %d; %lld appearances)\n",
                result.runs, result.out_dir.c_str(), result.totals.Hit, result.totals.Miss,
                result.totals.FA, result.totals.CR, static_cast<long long>(result.appearances));
  }
  if (!done) {
    Fail(QString::fromStdString(error));
    return 1;
  }
  return 0;
}

}  // namespace

void AddAnalysisOptions(QCommandLineParser& parser) {
  for (const char* name : kOptionNames) parser.addOption(Option(name));
  parser.addPositionalArgument(QStringLiteral("FOLDER"),
                               QStringLiteral("--report: the folder of result files."),
                               QStringLiteral("[FOLDER]"));
}

bool IsAnalysisCommand(const QCommandLineParser& parser) {
  return parser.isSet(Option("report")) || parser.isSet(Option("simulate"));
}

int RunAnalysisCommand(const QCommandLineParser& parser) {
  if (parser.isSet(Option("report")) && parser.isSet(Option("simulate"))) {
    Fail(QStringLiteral("--report and --simulate cannot be combined"));
    return 2;
  }
  return parser.isSet(Option("report")) ? RunReport(parser) : RunSimulate(parser);
}

int RunAnalysisCommandLine(int& argc, char** argv) {
  bool report = false, simulate = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    report = report || std::strcmp(a, "--report") == 0;
    simulate = simulate || std::strcmp(a, "--simulate") == 0 || std::strncmp(a, "--simulate=", 11) == 0;
  }
  if (!report && !simulate) return -1;

  // No display needed: without one, Qt's offscreen platform draws the report.
  const bool no_display = !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY");
  if (no_display && !std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::unique_ptr<QCoreApplication> app;
  if (report) {
    app = std::make_unique<QApplication>(argc, argv);
  } else {
    app = std::make_unique<QCoreApplication>(argc, argv);
  }
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("ピョコラン"));
  parser.addHelpOption();
  AddAnalysisOptions(parser);
  if (!parser.parse(app->arguments())) {
    Fail(parser.errorText());
    return 2;
  }
  if (parser.isSet(QStringLiteral("help"))) {
    std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
    return 0;
  }
  return RunAnalysisCommand(parser);
}

}  // namespace pyokoran
