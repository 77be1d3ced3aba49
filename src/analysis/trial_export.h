// The trial file: one row per logged appearance of every run in a report, in the tidy form R
// (read.csv, readr) and pandas read without options: UTF-8 with a byte-order mark, a header
// row, comma-separated, CR LF, "NA" where a value does not exist.
#pragma once

#include <string>
#include <vector>

#include "analysis/report.h"

namespace pyokoran {

// Column names of the trial file, in order. RunId matches the report table's RunId.
const std::vector<std::string>& TrialColumns();

// Writes the rows of every run in report (subjects in order of their IDs, runs oldest first,
// rows in log order) to path, with the columns of the subjects' timing records read from the
// report's folder where they exist. Replaces an earlier report file but no other file, and
// never follows a link; then its table schema beside it (SchemaPathFor). False with a reason;
// the file at path is then as it was.
bool WriteTrialsCsv(const Report& report, const std::string& path, std::string& error);

}  // namespace pyokoran
