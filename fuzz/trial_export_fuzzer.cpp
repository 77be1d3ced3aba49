// The trial file: a summary file, an appearance file and a timing record cut from one input
// (at the first two NUL bytes) are read as a working folder and written out as the trial
// file, which must read back as a CSV of whole rows: every row as many cells as the header,
// quotes closed, one row per appearance of every run.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "analysis/report.h"
#include "analysis/trial_export.h"
#include "fuzz_support.h"
#include "results/result_files.h"

using namespace pyokoran;

namespace {

// The rows of a CSV as a reader takes them (quoted cells may hold commas, quotes and line
// breaks), each with its number of cells; false when a quote is left open.
bool CellsPerRow(std::string_view csv, std::vector<size_t>& rows) {
  size_t cells = 1;
  bool quoted = false;
  for (size_t i = 0; i < csv.size(); ++i) {
    const char c = csv[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < csv.size() && csv[i + 1] == '"') ++i;
        else quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      ++cells;
    } else if (c == '\n') {
      rows.push_back(cells);
      cells = 1;
    }
  }
  return !quoted;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t first = std::min(input.find('\0'), input.size());
  const std::string_view rest = input.substr(std::min(first + 1, input.size()));
  const size_t second = std::min(rest.find('\0'), rest.size());

  fuzz::InScratchFolder scratch;
  auto write = [](const char* name, std::string_view bytes) {
    fuzz::WriteWholeFile(name, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  };
  write(kSummaryFileName, input.substr(0, first));
  write("SBJ0000.csv", rest.substr(0, second));
  write("SBJ0000_timing.csv", rest.substr(std::min(second + 1, rest.size())));
  Report report;
  std::string error;
  if (!BuildReport(".", MeasureOptions{}, report, error)) return 0;
  if (!WriteTrialsCsv(report, "trials.csv", error)) fuzz::PropertyFailed("the trial file is written", "", error);
  std::ifstream in("trials.csv", std::ios::binary);
  const std::string csv((std::istreambuf_iterator<char>(in)), {});
  std::vector<size_t> rows;
  if (!CellsPerRow(csv, rows)) fuzz::PropertyFailed("every quote in the trial file is closed", "", csv);
  size_t appearances = 0;
  for (const SubjectReport& s : report.subjects) {
    for (size_t r : s.runs) appearances += report.results.runs[r].rows.size();
  }
  if (rows.size() != 1 + appearances)
    fuzz::PropertyFailed("a row per appearance", std::to_string(1 + appearances), std::to_string(rows.size()));
  for (size_t cells : rows) {
    if (cells != TrialColumns().size())
      fuzz::PropertyFailed("every row has every column", std::to_string(TrialColumns().size()), std::to_string(cells));
  }
  return 0;
}
