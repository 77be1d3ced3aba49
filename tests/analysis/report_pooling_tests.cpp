// What the pooled rows say: a row per subject and condition, and beside every pooled figure
// the mean and SD of the runs' own, so that pooling neither mixes conditions unseen nor hides
// how a pooled d' grows with the number of runs.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "analysis/html_report.h"
#include "analysis/report.h"
#include "support/temp_working_dir.h"

namespace pyokoran {
namespace {

constexpr const char* kSummaryHeader =
    "Subject\tDate\tTime\tTgtPokko\tDstPokko\tHoles\tOrdered\tDur\tISI_1\tISI_2\tTmLimit\t"
    "RndSeed\tHit\tMiss\tCR\tFA\tScore\r\n";

struct SummaryRun {
  const char* subject;
  int distractors, seed, hit, miss, cr, fa;
};

// A summary file only (the counts come from it; the missing appearance rows are told as
// problems and do not matter here).
void WriteSummary(const std::vector<SummaryRun>& runs) {
  std::ostringstream out;
  out << kSummaryHeader;
  int second = 0;
  for (const SummaryRun& r : runs) {
    char time[16];
    std::snprintf(time, sizeof time, "10:%02d:%02d", second / 60, second % 60);
    ++second;
    out << r.subject << "\t2026/12/01\t" << time << "\t6\t" << r.distractors << "\t12\t1\t2000\t1000\t3000\t60\t"
        << r.seed << "\t" << r.hit << "\t" << r.miss << "\t" << r.cr << "\t" << r.fa << "\t" << r.hit - r.fa
        << "\r\n";
  }
  std::ofstream(std::filesystem::u8path("ピョコラン.txt"), std::ios::binary) << out.str();
}

// The cells of the CSV row whose first cells are level and subject and whose DstPokko is
// distractors (any when negative).
std::vector<std::string> CsvRow(const std::string& csv, const std::string& level, const std::string& subject,
                                int distractors = -1) {
  const auto& names = ReportColumns();
  const size_t dst = size_t(std::find(names.begin(), names.end(), "DstPokko") - names.begin());
  std::istringstream in(csv);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> cells;
    std::string cell;
    std::istringstream fields(line);
    while (std::getline(fields, cell, ',')) cells.push_back(cell);
    if (line.back() == ',') cells.emplace_back();
    if (cells.size() == names.size() && cells[0] == level && cells[2] == subject &&
        (distractors < 0 || cells[dst] == std::to_string(distractors)))
      return cells;
  }
  return {};
}

std::string Cell(const std::vector<std::string>& row, const char* column) {
  const auto& names = ReportColumns();
  const size_t i = size_t(std::find(names.begin(), names.end(), column) - names.begin());
  return i < row.size() ? row[i] : "(no row)";
}

// Runs with 1 and with 3 distractors in play are different conditions: each gets its own row
// and d', and the subject's row says it mixes two.
TEST(ReportPooling, ConditionsAreRowsOfTheirOwn) {
  TempWorkingDir dir;
  WriteSummary({{"S", 1, 11, 40, 10, 18, 2},
                {"S", 3, 12, 40, 10, 40, 20},
                {"S", 1, 13, 42, 8, 19, 1},
                {"S", 3, 14, 38, 12, 42, 18},
                {"T", 3, 15, 30, 20, 50, 10}});
  Report report;
  std::string error;
  ASSERT_TRUE(BuildReport(".", {}, report, error)) << error;
  ASSERT_EQ(report.subjects.size(), 2u);
  ASSERT_EQ(report.conditions.size(), 3u);

  const std::string csv = ReportCsv(report);
  const auto one = CsvRow(csv, kLevelCondition, "S", 1), three = CsvRow(csv, kLevelCondition, "S", 3);
  const auto subject = CsvRow(csv, kLevelSubject, "S");
  ASSERT_FALSE(one.empty());
  ASSERT_FALSE(three.empty());
  ASSERT_FALSE(subject.empty());
  EXPECT_EQ(Cell(one, "Runs"), "2");
  EXPECT_EQ(Cell(one, "Hit"), "82");
  EXPECT_EQ(Cell(one, "FA"), "3");
  EXPECT_EQ(Cell(three, "FA"), "38");
  EXPECT_EQ(Cell(one, "RndSeed"), "");  // the seeds differ within a condition
  EXPECT_NE(Cell(one, "dPrime"), Cell(three, "dPrime"));
  EXPECT_EQ(Cell(subject, "Conditions"), "2");
  EXPECT_EQ(Cell(subject, "DstPokko"), "");
  EXPECT_EQ(Cell(subject, "Runs"), "4");
  EXPECT_EQ(Cell(CsvRow(csv, kLevelSubject, "T"), "Conditions"), "1");
  // Every run row carries its own id; pooled rows have none.
  EXPECT_EQ(Cell(CsvRow(csv, kLevelRun, "T"), "RunId"), "5");
  EXPECT_EQ(Cell(subject, "RunId"), "");

  // The HTML report lists the same rows.
  const std::string html = ReportHtml(report);
  size_t rows = 0;
  for (size_t p = 0; (p = html.find("<td>subject_condition</td>", p)) != std::string::npos; ++p) ++rows;
  EXPECT_EQ(rows, 3u);

  // Under a subject filter: that subject's conditions only, its runs' ids kept.
  const Report only = ReportOfSubject(report, 0);
  ASSERT_EQ(only.subjects.size(), 1u);
  EXPECT_EQ(only.conditions.size(), only.subjects[0].subject == "S" ? 2u : 1u);
  for (const ConditionReport& c : only.conditions) {
    for (size_t i : c.runs) EXPECT_EQ(only.results.runs[i].subject, only.subjects[0].subject);
  }
}

// Fifty perfect runs (58 targets and 58 distractors each): each run's corrected d' is 4.78,
// but pooled the correction shrinks fifty-fold and d' reads 7.16. The runs' own mean stands
// beside it.
TEST(ReportPooling, PerfectRunsShowTheirOwnDPrimeBesideThePooledOne) {
  TempWorkingDir dir;
  std::vector<SummaryRun> runs;
  for (int i = 0; i < 50; ++i) runs.push_back({"P", 3, 100 + i, 58, 0, 58, 0});
  WriteSummary(runs);
  Report report;
  std::string error;
  ASSERT_TRUE(BuildReport(".", {}, report, error)) << error;
  ASSERT_EQ(report.subjects.size(), 1u);
  const SubjectReport& s = report.subjects[0];
  EXPECT_NEAR(s.measures.d_prime, 7.16, 0.005);
  EXPECT_NEAR(s.spread.d_prime.mean, 4.78, 0.005);
  EXPECT_NEAR(s.spread.d_prime.sd, 0.0, 1e-12);
  EXPECT_EQ(s.spread.d_prime.n, 50);
  EXPECT_DOUBLE_EQ(s.spread.hit_rate.mean, 1.0);

  const std::string csv = ReportCsv(report);
  const auto row = CsvRow(csv, kLevelSubject, "P");
  EXPECT_EQ(Cell(row, "dPrime"), "7.158");
  EXPECT_EQ(Cell(row, "dPrime_RunMean"), "4.776");
  EXPECT_EQ(Cell(row, "dPrime_RunN"), "50");
  EXPECT_EQ(Cell(row, "HitRate_CI_High"), "1.0000");
  // A run's row has its own d' and no spread.
  const auto run = CsvRow(csv, kLevelRun, "P");
  EXPECT_EQ(Cell(run, "dPrime"), "4.776");
  EXPECT_EQ(Cell(run, "dPrime_RunMean"), "");
  EXPECT_EQ(Cell(run, "AnticipationLimit"), "150");
}

// The side file names the limit, whether anticipations were left out of the counts, and the
// simulation that wrote the folder.
TEST(ReportPooling, AboutFileSaysHowTheTableWasMade) {
  TempWorkingDir dir;
  WriteSummary({{"S", 3, 1, 10, 2, 5, 1}});
  std::ofstream("SIMULATED.txt", std::ios::binary) << "Simulated runs\nhit 0.85, false alarm 0.1\n";
  Report report;
  std::string error;
  MeasureOptions options;
  options.anticipation_ms = 120;
  options.exclude_anticipations = true;
  ASSERT_TRUE(BuildReport(".", options, report, error)) << error;
  const std::string about = ReportAbout(report);
  EXPECT_EQ(about.rfind(kAboutHead, 0), 0u);
  for (const char* part : {"Anticipation limit: 120 ms", "left out (--exclude-anticipations)", "Simulated data: yes",
                           "  hit 0.85, false alarm 0.1\n", "Program: pyokoran"})
    EXPECT_NE(about.find(part), std::string::npos) << part;
  ASSERT_TRUE(WriteReportAbout(report, AboutPathFor("r"), error)) << error;
  EXPECT_TRUE(IsOurReport("r_about.txt"));
}

}  // namespace
}  // namespace pyokoran
