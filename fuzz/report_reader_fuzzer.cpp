// The report's reading and measures: a summary file, an appearance file and a timing record
// cut from one input (at the first two NUL bytes) are read as a working folder, measured and
// written out as the CSV table and the HTML report without a fault.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "analysis/html_report.h"
#include "analysis/report.h"
#include "fuzz_support.h"
#include "results/result_files.h"

using namespace pyokoran;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t first = std::min(input.find('\0'), input.size());
  const std::string_view rest = input.substr(std::min(first + 1, input.size()));
  const size_t second = std::min(rest.find('\0'), rest.size());
  const std::string_view summary = input.substr(0, first);
  const std::string_view appearances = rest.substr(0, second);
  const std::string_view timing = rest.substr(std::min(second + 1, rest.size()));

  Report report;
  std::string error;
  bool built = false;
  {
    fuzz::InScratchFolder scratch;
    auto write = [](const char* name, std::string_view bytes) {
      fuzz::WriteWholeFile(name, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    };
    write(kSummaryFileName, summary);
    write("SBJ0000.csv", appearances);
    write("SBJ0000_timing.csv", timing);
    built = BuildReport(".", MeasureOptions{}, report, error);
  }
  if (!built) return 0;

  if (report.run_measures.size() != report.results.runs.size()) std::abort();
  for (const RunRecord& run : report.results.runs) {
    if (run.rows.size() > size_t(kLoggedRowLimit)) {
      fuzz::PropertyFailed("a run keeps more rows than the log limit",
                           std::to_string(kLoggedRowLimit), std::to_string(run.rows.size()));
    }
  }
  // Header, a row per run, a row per subject: every one ended by CR LF.
  const std::string csv = ReportCsv(report);
  const size_t lines = size_t(std::count(csv.begin(), csv.end(), '\n'));
  const size_t expected = 1 + report.results.runs.size() + report.subjects.size();
  if (lines < expected || csv.empty() || csv.back() != '\n') {
    fuzz::PropertyFailed("the CSV table lacks rows", std::to_string(expected), std::to_string(lines));
  }
  const std::string html = ReportHtml(report);
  if (html.rfind(std::string(kHtmlReportHead), 0) != 0) std::abort();
  return 0;
}
