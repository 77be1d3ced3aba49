// The report over a folder of result files: one row per run (newest first), one per subject and
// condition (runs alike in all their settings but the seed) and one per subject with all its
// runs pooled, each pooled row with the mean and SD of its runs' own measures beside; the table
// as CSV for spreadsheets, R and pandas, with a side file saying how it was made.
#pragma once

#include <compare>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/measures.h"
#include "analysis/result_reader.h"

namespace pyokoran {

// The settings that make a run's condition: all of a run's settings but the subject and seed.
struct RunCondition {
  int32_t TgtPokko = 0, DstPokko = 0, Holes = 0, Ordered = 0, Dur = 0, ISI_1 = 0, ISI_2 = 0,
          TmLimit = 0;
  friend bool operator==(const RunCondition&, const RunCondition&) = default;
  friend auto operator<=>(const RunCondition&, const RunCondition&) = default;
};
RunCondition ConditionOf(const RunRecord& run);
// A condition's short, stable name from its settings (ASCII), for example
// "T6 D3 H12 60s 2000ms 1000-3000ms rows": targets, distractors, holes, run length, exposure,
// pause range, and holes in rows or at random places.
std::string ConditionName(const RunCondition& condition);

struct SubjectReport {
  std::string subject;       // code page 932 bytes
  std::string subject_utf8;
  std::vector<size_t> runs;  // indices into Report::runs, oldest first
  Measures measures;         // the runs pooled
  RunSpread spread;          // mean and SD of the runs' own measures
  std::vector<size_t> conditions;  // indices into Report::conditions, in order of first run
};

// One subject's runs under one condition.
struct ConditionReport {
  size_t subject = 0;        // index into Report::subjects
  RunCondition condition;
  std::vector<size_t> runs;  // indices into Report::runs, oldest first
  Measures measures;         // the runs pooled
  RunSpread spread;          // mean and SD of the runs' own measures
};

// The program and version a report names: "pyokoran" and the project version this library was
// built with, or what was set (the program sets its full version, commit included, at start).
std::string DefaultProgramVersion();
void SetReportProgramVersion(const std::string& version);

// The spread over subjects of one per-subject figure: n subjects with the value, their mean,
// sample SD, the mean's standard error and its 95% t interval (n - 1 degrees of freedom).
struct GroupStat {
  int32_t n = 0;
  double mean = kNoValue;
  double sd = kNoValue;
  double se = kNoValue;
  Interval ci;
};
GroupStat DescribeGroup(std::vector<double> values);

// The per-subject figures a group row describes, in this order.
inline constexpr int kGroupMeasures = 5;
inline constexpr const char* kGroupMeasureNames[kGroupMeasures] = {"HitRate", "FARate", "dPrime", "Criterion",
                                                                   "HitRT_Mean"};
// One subject's figure under one condition: from its runs pooled, or the mean of its runs' own.
double SubjectFigure(const ConditionReport& condition, int measure, bool run_mean);

// Every subject's runs under one condition, described over the subjects.
struct ConditionGroup {
  RunCondition condition;
  std::vector<size_t> members;  // indices into Report::conditions, one per subject
  int32_t runs = 0;
  int32_t problem_runs = 0;     // runs whose Problems cell is not empty
  GroupStat pooled[kGroupMeasures];    // over the subjects' pooled figures
  GroupStat run_mean[kGroupMeasures];  // over the means of the subjects' runs
};

// Two conditions compared within the subjects who ran both: the differences a - b.
struct ConditionDifference {
  size_t a = 0, b = 0;  // indices into Report::groups
  GroupStat pooled[kGroupMeasures];
  GroupStat run_mean[kGroupMeasures];
};

// The language of the report's text (HTML, PDF, window); the CSVs' column names stay English.
enum class ReportLanguage { kJapanese, kEnglish };

struct Report {
  std::string folder;
  ReportLanguage language = ReportLanguage::kJapanese;
  MeasureOptions options;
  ResultFolder results;              // runs newest first
  std::vector<Measures> run_measures;  // per run, same order
  std::vector<SubjectReport> subjects;  // in order of first appearance in the sorted runs
  std::vector<ConditionReport> conditions;  // per subject, in order of first run
  std::vector<ConditionGroup> groups;        // per condition over subjects, in order of first run
  std::vector<ConditionDifference> differences;  // per pair of groups with a subject in common
  std::string program_version = DefaultProgramVersion();  // "pyokoran 1.6.0 ..."
  std::string simulation_notes;  // the simulator's mark file (UTF-8), for a simulated folder
};

// Reads folder and computes every measure. False with a reason when nothing can be read (or
// control stopped the reading).
// A reason the reading or writing gives (English, a file name on a line of its own) with its
// first line said in Japanese where it is one of the known ones; as it is otherwise.
std::string ReasonInJapanese(const std::string& reason);

bool BuildReport(const std::string& folder, const MeasureOptions& options, Report& report,
                 std::string& error, ReadControl* control = nullptr);
// Computes every measure of report's runs (as read, newest first) again with report.options:
// the runs' measures, the subjects and their conditions.
void MeasureReport(Report& report);
// The runs of one subject (by code page 932 bytes), oldest first.
std::vector<const RunRecord*> SubjectRuns(const Report& report, const SubjectReport& subject);
// The same report over one subject's runs alone (run ids kept).
Report ReportOfSubject(const Report& report, size_t subject);

// What the "Level" column says of a row.
inline constexpr const char* kLevelRun = "run";
inline constexpr const char* kLevelCondition = "subject_condition";
inline constexpr const char* kLevelSubject = "subject";
inline constexpr const char* kLevelGroup = "group_condition";
inline constexpr const char* kLevelDifference = "condition_difference";

// The table: a header, one row per run, then for each subject its condition rows and its
// pooled row. UTF-8 with a byte-order mark, comma-separated, CR LF; empty cells where a value
// does not exist; decimal points whatever the locale.
std::string ReportCsv(const Report& report);
// Writes ReportCsv to path, replacing an earlier report but no other file. False with a
// reason on failure.
bool WriteReportCsv(const Report& report, const std::string& path, std::string& error);

// The group table: for each condition, each figure over subjects (from their pooled runs and
// from the means of their runs), then the paired differences between conditions; the same CSV
// form as the table.
const std::vector<std::string>& GroupColumns();
std::string GroupCsv(const Report& report);
// The group table's name for a report written as base + ".csv".
std::string GroupsPathFor(const std::string& base);
// Writes the group table and the schemas of both tables beside base + ".csv".
bool WriteReportSchemas(const Report& report, const std::string& base, std::string& error);

// A Frictionless Data table schema (JSON) of a CSV with these columns: each column's type, and
// how pandas, R and readr read the file with the subject kept as text.
std::string TableSchemaJson(const std::vector<std::string>& columns, const std::string& title,
                            const std::string& csv_name, bool na_marks_missing);
// The schema's name beside the CSV at path (its ".csv" ending replaced by ".schema.json").
std::string SchemaPathFor(const std::string& csv_path);
// The first bytes of every schema this program writes.
inline constexpr const char* kSchemaHead = "{\n  \"x-generator\": \"pyokoran\",\n";
// A text cell as a spreadsheet shows it as text: one starting with =, +, -, @, a tab or CR
// gets a leading apostrophe.
std::string SpreadsheetText(const std::string& cell);

// Every exclusion in force under options, one sentence each (English), for the side file and
// the HTML report.
std::vector<std::string> ExclusionsInForce(const MeasureOptions& options, bool japanese = false);

// How the table was made, as UTF-8 text: program version, folder, anticipation limit and
// whether anticipations were left out of the counts, the simulation's parameters, what the
// columns mean. Kept beside the CSV (kept out of it, so that every CSV reader reads the table
// without options).
std::string ReportAbout(const Report& report);
bool WriteReportAbout(const Report& report, const std::string& path, std::string& error);
// The side file's name for a report written as base + ".csv".
std::string AboutPathFor(const std::string& base);
// The first bytes of every such side file.
inline constexpr const char* kAboutHead = "pyokoran report: how the table was made\n";

// Column names of the table, in order.
const std::vector<std::string>& ReportColumns();
// One row's cells as text, in column order (for the window, the PDF and the HTML report).
std::vector<std::string> RunCells(const Report& report, size_t run);
std::vector<std::string> ConditionCells(const Report& report, size_t condition);
std::vector<std::string> SubjectCells(const Report& report, size_t subject);

// True when path is a regular file this program wrote as a report: a CSV starting with its BOM
// and "Level," (the table) or "RunId," (the trials), the side file, an HTML report, or a PDF
// naming the program as its creator. Never blocks on a FIFO; a link is not followed.
bool IsOurReport(const std::string& path);
// Writes bytes to path through a new file beside it, replacing an earlier report but no other
// file and never following a link. False with a reason; the file at path is then as it was.
bool WriteReportFile(const std::string& path, const std::string& bytes, std::string& error);
// The same with the bytes given piece by piece: produce calls the sink with each piece and
// returns false (the sink's false passed on) to give up, leaving path as it was.
using ReportSink = std::function<bool(std::string_view)>;
bool WriteReportStreamed(const std::string& path, const std::function<bool(const ReportSink&)>& produce,
                         std::string& error);

}  // namespace pyokoran
