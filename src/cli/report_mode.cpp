// --report [FOLDER] [--out FILE] [--anticipation MS] [--exclude-anticipations] [--max-rt MS]
// [--onset-locked-only] [--exclude-flagged-onsets] [--exclude-problem-runs] [--trials FILE] [--subject ID ...] [--pdf-all]: the report over a folder of result files as CSV (with its side
// file) and HTML (and, where the system has it, PDF), and the trial file, written without
// opening a window.
#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <filesystem>
#include <vector>

#include "analysis/html_report.h"
#include "analysis/trial_export.h"
#include "cli/analysis_modes.h"
#include "cli/build_version.h"
#include "platform/file_system.h"
#include "platform/utf8_path.h"

namespace pyokoran {
namespace {

const CommandOption kAnticipation{
    {"anticipation"}, "--report: responses faster than MS count as anticipations (default 150).", "MS"};

const CommandOption kExcludeAnticipations{
    {"exclude-anticipations"},
    "--report: leave anticipations out of Hit and FA (and so out of the rates, d' and c) too, "
    "not only out of the RT figures.",
    ""};
const CommandOption kMaxRt{
    {"max-rt"}, "--report: responses slower than MS are left out of every RT figure (default: none).", "MS"};
const CommandOption kOnsetLockedOnly{
    {"onset-locked-only"},
    "--report: onset RTs only from runs whose frames were locked to the display's refresh.", ""};
const CommandOption kExcludeFlaggedOnsets{
    {"exclude-flagged-onsets"},
    "--report: leave out of the onset RTs the hits whose timing row is flagged (onset stamp over its "
    "bound, or press stamped at its arrival).",
    ""};
const CommandOption kExcludeProblemRuns{
    {"exclude-problem-runs"},
    "--report: leave runs whose files disagree (see Problems) out of the pooled rows and groups.", ""};
const CommandOption kLang{
    {"lang"}, "--report: the language of the HTML and PDF reports: ja (Japanese, the default) or en (English).",
    "LANG"};
const CommandOption kTrials{
    {"trials"}, "--report: also write one row per appearance of every run to FILE (CSV).", "FILE"};

std::string CheckReport(const OptionValues& options) {
  if (options.IsSet("trials") && options.Value("trials").empty()) return "--trials needs a file name.";
  if (options.IsSet("lang") && options.Value("lang") != "ja" && options.Value("lang") != "en")
    return "--lang needs ja or en.";
  long long ms = 0;
  if (options.IsSet("max-rt") && !(ParseWholeNumber(options.Value("max-rt"), ms) && ms >= 1 && ms <= 600000))
    return "--max-rt needs whole ms from 1 to 600000.";
  if (!options.IsSet("anticipation")) return {};
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

// Whether two names are one file: the same file where both exist (a link or another
// spelling), else the same absolute name as the system compares names (letters in any case
// on Windows).
bool SameFile(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path x = fs::absolute(PathFromUtf8(a), ec).lexically_normal();
  const fs::path y = fs::absolute(PathFromUtf8(b), ec).lexically_normal();
  if (fs::equivalent(x, y, ec)) return true;
  if (fs::path::preferred_separator != '\\') return x == y;
  const auto &p = x.native(), &q = y.native();
  return p.size() == q.size() && std::equal(p.begin(), p.end(), q.begin(), [](auto c, auto d) {
           return std::towupper(std::wint_t(c)) == std::towupper(std::wint_t(d));
         });
}

}  // namespace

ReportLanguage ReportLanguageOption(const OptionValues& options) {
  return options.IsSet("lang") && options.Value("lang") == "en" ? ReportLanguage::kEnglish : ReportLanguage::kJapanese;
}

MeasureOptions ReportMeasureOptions(const OptionValues& options) {
  MeasureOptions measures;
  long long ms = 0;
  if (options.IsSet("anticipation") && ParseWholeNumber(options.Value("anticipation"), ms))
    measures.anticipation_ms = int32_t(ms);
  measures.exclude_anticipations = options.IsSet("exclude-anticipations");
  if (options.IsSet("max-rt") && ParseWholeNumber(options.Value("max-rt"), ms)) measures.max_rt_ms = int32_t(ms);
  measures.onset_locked_only = options.IsSet("onset-locked-only");
  measures.exclude_flagged_onsets = options.IsSet("exclude-flagged-onsets");
  measures.exclude_problem_runs = options.IsSet("exclude-problem-runs");
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
  outputs.about = AboutPathFor(base);
  std::vector<std::string> paths = {base + ".csv",           base + ".pdf",
                                    base + ".html",          outputs.about,
                                    SchemaPathFor(base + ".csv"), GroupsPathFor(base),
                                    SchemaPathFor(GroupsPathFor(base))};
  if (run.options.IsSet("trials")) {
    outputs.trials = run.options.Value("trials");
    // Not one of the report's own files under another spelling.
    const auto same = [&](const std::string& p) { return SameFile(p, outputs.trials); };
    if (FileNameOf(outputs.trials).empty() || std::any_of(paths.begin(), paths.end(), same)) {
      std::fprintf(stderr, "pyokoran: --trials needs a file of its own\n");
      status = kUsageExitStatus;
      return false;
    }
    paths.push_back(outputs.trials);
    if (std::any_of(paths.begin(), paths.end() - 1, [&](const std::string& p) {
          return SameFile(p, SchemaPathFor(outputs.trials));
        })) {
      std::fprintf(stderr, "pyokoran: --trials needs a file of its own\n");
      status = kUsageExitStatus;
      return false;
    }
    paths.push_back(SchemaPathFor(outputs.trials));
  }
  // The files name the program's whole version, commit included.
  SetReportProgramVersion("pyokoran " + VersionText());
  for (const std::string& path : paths) {
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
  const std::string groups = GroupsPathFor(outputs.base);
  std::string error;
  if (!WriteReportCsv(report, csv, error) || !WriteReportAbout(report, outputs.about, error) ||
      !WriteReportSchemas(report, outputs.base, error) ||
      (outputs.pdf && !write_pdf(pdf, error)) || !WriteReportHtml(report, html, error) ||
      (!outputs.trials.empty() && !WriteTrialsCsv(report, outputs.trials, error))) {
    std::fprintf(stderr, "pyokoran: %s\n", error.c_str());
    return 1;
  }
  std::string written = csv + ", " + groups + " (with their schemas), " + outputs.about +
                        (outputs.pdf ? ", " + pdf : std::string()) + " and " + html;
  if (!outputs.trials.empty()) written += "; trials: " + outputs.trials + " (with its schema)";
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
  report.language = ReportLanguageOption(run.options);
  return WriteReportOutputs(report, outputs, nullptr);
}

CommandOption AnalysisOutOption(bool report_pdf) {
  return CommandOption{
      {"out"},
      std::string(report_pdf ? "--report: write FILE.csv (with FILE_about.txt), FILE.pdf and FILE.html"
                             : "--report: write FILE.csv (with FILE_about.txt) and FILE.html") +
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
      AnalysisOutOption(system.report_pdf), kAnticipation, kExcludeAnticipations, kMaxRt, kOnsetLockedOnly,
      kExcludeFlaggedOnsets, kExcludeProblemRuns, kLang, kTrials};
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
