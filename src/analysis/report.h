// The report over a folder of result files: one row per run (newest first) and one per
// subject with its runs pooled, and the table as CSV for spreadsheets, R and pandas.
#pragma once

#include <string>
#include <vector>

#include "analysis/measures.h"
#include "analysis/result_reader.h"

namespace pyokoran {

struct SubjectReport {
  std::string subject;       // code page 932 bytes
  std::string subject_utf8;
  std::vector<size_t> runs;  // indices into Report::runs, oldest first
  Measures measures;         // the runs pooled
};

struct Report {
  std::string folder;
  MeasureOptions options;
  ResultFolder results;              // runs newest first
  std::vector<Measures> run_measures;  // per run, same order
  std::vector<SubjectReport> subjects;  // in order of first appearance in the sorted runs
};

// Reads folder and computes every measure. False with a reason when nothing can be read (or
// control stopped the reading).
bool BuildReport(const std::string& folder, const MeasureOptions& options, Report& report,
                 std::string& error, ReadControl* control = nullptr);
// The runs of one subject (by code page 932 bytes), oldest first.
std::vector<const RunRecord*> SubjectRuns(const Report& report, const SubjectReport& subject);

// The table: a header, one row per run, then one row per subject ("Level" run or subject).
// UTF-8 with a byte-order mark, comma-separated, CR LF; empty cells where a value does not
// exist; decimal points whatever the locale.
std::string ReportCsv(const Report& report);
// Writes ReportCsv to path, replacing an earlier report but no other file. False with a
// reason on failure.
bool WriteReportCsv(const Report& report, const std::string& path, std::string& error);

// Column names of the table, in order.
const std::vector<std::string>& ReportColumns();
// One run's or subject's cells as text, in column order (for the window and the PDF).
std::vector<std::string> RunCells(const Report& report, size_t run);
std::vector<std::string> SubjectCells(const Report& report, size_t subject);

// True when path is a regular file this program wrote as a report: a CSV starting with its BOM
// and "Level,", an HTML report, or a PDF naming the program as its creator. Never blocks on a
// FIFO; a link is not followed.
bool IsOurReport(const std::string& path);

}  // namespace pyokoran
