// --report [FOLDER] [--out FILE] [--anticipation MS] [--subject ID ...] [--pdf-all]: the report
// over a folder of result files as CSV and HTML (and, where the system has it, PDF), written
// without opening a window.
#include <cstdio>
#include <filesystem>

#include "analysis/html_report.h"
#include "cli/analysis_modes.h"
#include "platform/file_system.h"

namespace pyokoran {
namespace {

const CommandOption kAnticipation{
    {"anticipation"}, "--report: responses faster than MS count as anticipations (default 150).", "MS"};

std::string CheckReport(const OptionValues& options) {
  if (!options.IsSet("anticipation")) return {};
  long long ms = 0;
  return ParseWholeNumber(options.Value("anticipation"), ms) && ms >= -1000 && ms <= 5000
             ? ""
             : "--anticipation needs whole ms from -1000 to 5000.";
}

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  if (text.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    char c = text[text.size() - suffix.size() + i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

// The last part of a path, after the system's separators.
std::string FileNameOf(const std::string& path) {
  const char* separators = std::filesystem::path::preferred_separator == '\\' ? "/\\" : "/";
  const size_t slash = path.find_last_of(separators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

MeasureOptions ReportMeasureOptions(const OptionValues& options) {
  MeasureOptions measures;
  long long ms = 0;
  if (options.IsSet("anticipation") && ParseWholeNumber(options.Value("anticipation"), ms))
    measures.anticipation_ms = int32_t(ms);
  return measures;
}

bool PrepareReportOutputs(const ModeRun& run, bool pdf, ReportOutputs& outputs, int& status) {
  outputs.pdf = pdf;
  outputs.folder = !run.arguments.empty() ? run.arguments.front() : !run.folder.empty() ? run.folder : ".";
  std::string base = run.options.Value("out");
  if (!run.options.IsSet("out")) {
    base = outputs.folder;
    if (!base.empty() && !FileNameOf(base).empty()) base += char(std::filesystem::path::preferred_separator);
    base += "ピョコラン_report";
  }
  if (EndsWithNoCase(base, ".csv") || EndsWithNoCase(base, ".pdf"))
    base.resize(base.size() - 4);
  else if (EndsWithNoCase(base, ".html"))
    base.resize(base.size() - 5);
  const std::string name = FileNameOf(base);
  if (name.empty() || name == "." || name == "..") {
    std::fprintf(stderr, "pyokoran: --out needs a file name\n");
    status = kUsageExitStatus;
    return false;
  }
  outputs.base = base;
  for (const char* suffix : {".csv", ".pdf", ".html"}) {
    const std::string path = base + suffix;
    if (KindOfPath(path, false) != PathKind::kMissing && !IsOurReport(path)) {
      std::fprintf(stderr, "pyokoran: %s exists and is not a report; not replaced\n", path.c_str());
      status = 1;
      return false;
    }
    const std::string temp = path + ".part";
    if (const PathKind kind = KindOfPath(temp, false); kind != PathKind::kMissing && kind != PathKind::kDirectory)
      RemoveFile(temp);
  }
  return true;
}

int WriteReportOutputs(const Report& report, const ReportOutputs& outputs,
                       const std::function<bool(const std::string& path, std::string& error)>& write_pdf) {
  for (const std::string& problem : report.results.problems) std::fprintf(stderr, "pyokoran: %s\n", problem.c_str());
  const std::string csv = outputs.base + ".csv", pdf = outputs.base + ".pdf", html = outputs.base + ".html";
  std::string error;
  if (!WriteReportCsv(report, csv, error) || (outputs.pdf && !write_pdf(pdf, error)) ||
      !WriteReportHtml(report, html, error)) {
    std::fprintf(stderr, "pyokoran: %s\n", error.c_str());
    return 1;
  }
  const std::string written = outputs.pdf ? csv + ", " + pdf + " and " + html : csv + " and " + html;
  std::printf("%zu runs, %zu subjects%s: %s written\n", report.results.runs.size(), report.subjects.size(),
              report.results.simulated ? " (simulated)" : "", written.c_str());
  return 0;
}

int RunReportCsvHtml(const ModeRun& run) {
  ReportOutputs outputs;
  int status = 0;
  if (!PrepareReportOutputs(run, false, outputs, status)) return status;
  Report report;
  std::string error;
  if (!BuildReport(outputs.folder, ReportMeasureOptions(run.options), report, error)) {
    std::fprintf(stderr, "pyokoran: %s\n", error.c_str());
    return 1;
  }
  return WriteReportOutputs(report, outputs, nullptr);
}

CommandOption AnalysisOutOption(bool report_pdf) {
  return CommandOption{
      {"out"},
      std::string(report_pdf ? "--report: write FILE.csv, FILE.pdf and FILE.html"
                             : "--report: write FILE.csv and FILE.html") +
          " (default FOLDER/ピョコラン_report). --simulate: write the runs into the folder FILE "
          "(default simulated).",
      "FILE"};
}

CommandOption SubjectOption(bool report_pdf) {
  return CommandOption{{"subject"},
                       std::string("--simulate: subject ID (default: the settings').") +
                           (report_pdf ? " --report: the PDF adds the runs and plots of subject ID to its "
                                         "summary (give it again for more subjects)."
                                       : ""),
                       "ID"};
}

CommandMode ReportMode(const SystemCommands& system) {
  CommandMode mode;
  mode.options = {
      CommandOption{{"report"},
                    system.report_pdf
                        ? "Write the go/no-go report of the result files in FOLDER (default: the "
                          "working folder) as CSV, PDF and HTML, without a window."
                        : "Write the go/no-go report of the result files in FOLDER (default: the "
                          "working folder) as CSV and HTML, without a window (the PDF is written "
                          "by the Linux version only).",
                    ""},
      AnalysisOutOption(system.report_pdf), kAnticipation};
  if (system.report_pdf) {
    mode.options.push_back(SubjectOption(true));
    mode.options.push_back(CommandOption{
        {"pdf-all"},
        "--report: the PDF holds every run and a page of plots per subject (default: the "
        "summary, a row per subject, and the runs and plots of each --subject).",
        ""});
  }
  mode.max_arguments = 1;
  mode.argument_name = "FOLDER";
  mode.argument_description = "--report: the folder of result files.";
  mode.argument_syntax = "[FOLDER]";
  mode.check = CheckReport;
  mode.run = system.report ? system.report : RunReportCsvHtml;
  return mode;
}

}  // namespace pyokoran
