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
#include "analysis/trial_export.h"
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

  // Each row names its condition; a subject's row only when it has one.
  EXPECT_EQ(Cell(one, "Condition"), "T6 D1 H12 60s 2000ms 1000-3000ms rows");
  EXPECT_EQ(Cell(CsvRow(csv, kLevelRun, "T"), "Condition"), "T6 D3 H12 60s 2000ms 1000-3000ms rows");
  EXPECT_EQ(Cell(subject, "Condition"), "");
  EXPECT_EQ(Cell(CsvRow(csv, kLevelSubject, "T"), "Condition"), "T6 D3 H12 60s 2000ms 1000-3000ms rows");

  // The HTML report lists the same rows, in each of its six groups of columns.
  const std::string html = ReportHtml(report);
  size_t rows = 0;
  for (size_t p = 0; (p = html.find("<td>subject_condition</td>", p)) != std::string::npos; ++p) ++rows;
  EXPECT_EQ(rows, 3u * 6u);

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

// Each condition over the subjects who ran it (n, mean, SD, SE, t interval of their figures),
// and the differences between two conditions within the subjects who ran both. Runs known
// from the summary alone have problems, which the pooled rows count.
TEST(ReportGroups, ConditionsOverSubjectsAndTheirPairedDifferences) {
  TempWorkingDir dir;
  WriteSummary({{"S", 1, 1, 40, 10, 18, 2},
                {"S", 3, 2, 40, 10, 40, 20},
                {"T", 1, 3, 30, 20, 19, 1},
                {"T", 3, 4, 30, 20, 45, 15},
                {"U", 3, 5, 45, 5, 50, 10}});
  Report report;
  std::string error;
  ASSERT_TRUE(BuildReport(".", {}, report, error)) << error;
  ASSERT_EQ(report.groups.size(), 2u);
  const ConditionGroup& one = report.groups[0];  // the oldest run's condition first
  EXPECT_EQ(ConditionName(one.condition), "T6 D1 H12 60s 2000ms 1000-3000ms rows");
  EXPECT_EQ(one.members.size(), 2u);
  EXPECT_EQ(one.problem_runs, 2);
  // Hit rates 0.8 and 0.6: SD 0.1414, SE 0.1, 0.7 -/+ t(0.975, 1) 12.706 * 0.1.
  EXPECT_EQ(one.pooled[0].n, 2);
  EXPECT_NEAR(one.pooled[0].mean, 0.7, 1e-12);
  EXPECT_NEAR(one.pooled[0].sd, 0.141421, 1e-6);
  EXPECT_NEAR(one.pooled[0].se, 0.1, 1e-12);
  EXPECT_NEAR(one.pooled[0].ci.low, -0.570620, 1e-6);
  EXPECT_EQ(report.groups[1].pooled[0].n, 3);
  EXPECT_NEAR(report.groups[1].pooled[0].mean, (0.8 + 0.6 + 0.9) / 3, 1e-12);
  // With one run each, a subject's pooled figure is its runs' mean.
  EXPECT_NEAR(report.groups[1].run_mean[2].mean, report.groups[1].pooled[2].mean, 1e-12);

  // Within S and T only (U ran one condition): FA rates 0.1 - 0.333 and 0.05 - 0.25.
  ASSERT_EQ(report.differences.size(), 1u);
  const ConditionDifference& d = report.differences[0];
  EXPECT_EQ(d.pooled[1].n, 2);
  EXPECT_NEAR(d.pooled[1].mean, (0.1 - 1.0 / 3 + 0.05 - 0.25) / 2, 1e-12);
  EXPECT_NEAR(d.pooled[0].mean, 0.0, 1e-12);

  const std::string groups = GroupCsv(report);
  EXPECT_EQ(groups.rfind("\xEF\xBB\xBFLevel,Condition,Condition_B,Measure,From,N,Mean,", 0), 0u);
  EXPECT_NE(groups.find("\r\ngroup_condition,T6 D1 H12 60s 2000ms 1000-3000ms rows,,HitRate,subject_pooled,2,"
                        "0.70000,0.14142,0.10000,-0.57062,1.97062,2,2\r\n"),
            std::string::npos);
  EXPECT_NE(groups.find("\r\ncondition_difference,T6 D1 H12 60s 2000ms 1000-3000ms rows,"
                        "T6 D3 H12 60s 2000ms 1000-3000ms rows,FARate,subject_pooled,2,-0.21667,"),
            std::string::npos);
  const std::string csv = ReportCsv(report);
  EXPECT_EQ(Cell(CsvRow(csv, kLevelSubject, "S"), "Problems"), "2 of 2 runs with problems");
  EXPECT_EQ(Cell(CsvRow(csv, kLevelCondition, "U"), "Problems"), "1 of 1 run with problems");
}

// A summary line whose counts differ from its complete rows: the rows' counts are used, and
// the run says both.
TEST(ReportPooling, RowsThatDisagreeWithTheSummaryLineAreUsedAndTold) {
  TempWorkingDir dir;
  WriteSummary({{"S", 3, 7, 3, 0, 1, 0}});
  const std::string head = "S,2026/12/01,10:00:00,";
  const std::string settings = ",6,3,12,1,2000,1000,3000,60,7,";
  std::ofstream(std::filesystem::u8path("S.csv"), std::ios::binary)
      << "Subject,Date,Time,Trial,TgtPokko,DstPokko,Holes,Ordered,Dur,ISI_1,ISI_2,TmLimit,"
         "RndSeed,Pokko,Tgt,Hole,Hole_X,Hole_Y,Resp,Resp_X,Resp_Y,RT,TotalRT,Error\r\n"
      << head << 1 << settings << "1,1,1,0,0,1,0,0,400,2400,0\r\n"
      << head << 2 << settings << "2,1,2,0,0,1,0,0,500,4500,0\r\n"
      << head << 3 << settings << "3,1,3,0,0,0,0,0,0,0,1\r\n"
      << head << 4 << settings << "7,0,4,0,0,0,0,0,0,0,0\r\n";
  Report report;
  std::string error;
  ASSERT_TRUE(BuildReport(".", {}, report, error)) << error;
  ASSERT_EQ(report.results.runs.size(), 1u);
  EXPECT_EQ(report.results.runs[0].problems,
            "Hit 3 in the summary, 2 in the rows, Miss 0 in the summary, 1 in the rows; the rows' counts used");
  const Measures& m = report.run_measures[0];
  EXPECT_EQ(m.Hit, 2);
  EXPECT_EQ(m.Miss, 1);
  EXPECT_NEAR(m.hit_rate, 2.0 / 3, 1e-12);
  EXPECT_EQ(m.hit_rt.n, 2);
  EXPECT_EQ(report.subjects[0].measures.Hit, 2);
}

// The timing summary gives each run's presentation; exclusions are asked for one by one: an
// upper RT limit, onset RTs of locked runs only, runs with problems out of the pooled rows.
TEST(ReportPooling, PresentationAndExclusionsAskedFor) {
  TempWorkingDir dir;
  WriteSummary({{"S", 3, 1, 2, 0, 0, 0}, {"S", 3, 2, 2, 0, 0, 0}, {"S", 3, 3, 2, 0, 0, 0}});
  std::string rows = "Subject,Date,Time,Trial,TgtPokko,DstPokko,Holes,Ordered,Dur,ISI_1,ISI_2,TmLimit,"
                     "RndSeed,Pokko,Tgt,Hole,Hole_X,Hole_Y,Resp,Resp_X,Resp_Y,RT,TotalRT,Error\r\n";
  std::string timing = "Subject,Date,Time,Trial,ShowTick,OnsetRT\r\n";
  for (int run = 0; run < 3; ++run) {
    const std::string head = "S,2026/12/01,10:00:0" + std::to_string(run) + ",";
    const std::string settings = ",6,3,12,1,2000,1000,3000,60," + std::to_string(run + 1) + ",";
    rows += head + "1" + settings + "1,1,1,0,0,1,0,0,400,2400,0\r\n" + head + "2" + settings +
            "2,1,2,0,0,1,0,0,900,5900,0\r\n";
    if (run < 2) timing += head + "1,2000,350\r\n" + head + "2,5000,850\r\n";  // none for the third
  }
  std::ofstream(std::filesystem::u8path("S.csv"), std::ios::binary) << rows;
  std::ofstream(std::filesystem::u8path("S_timing.csv"), std::ios::binary) << timing;
  std::ofstream(std::filesystem::u8path("ピョコラン_timing.txt"), std::ios::binary)
      << "Subject\tDate\tTime\tMode\tRefreshHz\tRefreshSD\tFrames\tDropped\tLongestMs\tTickLagMs\tReason\t"
         "FrameTimes\tPresentEvery\tRiseMs\tLockLostMs\tUnlockedFrames\tEventClock\r\n"
      << "S\t2026/12/01\t10:00:00\tlocked\t60\t0.1\t3600\t0\t17\t0.2\tmeasured\tX Present (flip 3600)\t1\t"
         "250\t\t0\tmapped\r\n"
      << "S\t2026/12/01\t10:00:01\tfallback\t60\t4\t3600\t2\t40\t0.3\tsoftware\t\t1\t250\t\t0\tmapped\r\n";
  Report report;
  std::string error;
  MeasureOptions options;
  options.max_rt_ms = 800;
  options.onset_locked_only = true;
  ASSERT_TRUE(BuildReport(".", options, report, error)) << error;
  ASSERT_EQ(report.results.runs.size(), 3u);
  EXPECT_EQ(Cell(SubjectCells(report, 0), "Presentation"), "locked 1, fallback 1, none 1");
  EXPECT_EQ(Cell(RunCells(report, 2), "Presentation"), "locked; X Present (flip 3600)");
  EXPECT_EQ(report.results.runs[2].presentation, "locked");
  EXPECT_EQ(report.results.runs[2].frame_times, "X Present (flip 3600)");
  const Measures& pooled = report.subjects[0].measures;
  EXPECT_EQ(pooled.over_rt_limit, 3);
  EXPECT_EQ(pooled.hit_rt.n, 3);
  EXPECT_EQ(pooled.Hit, 6);  // slow hits stay hits
  EXPECT_EQ(pooled.onset_rt.n, 1);
  EXPECT_DOUBLE_EQ(pooled.onset_rt.mean, 350);
  EXPECT_EQ(report.results.runs[0].problems, "timing rows missing; line missing in ピョコラン_timing.txt");

  options = {};
  options.exclude_problem_runs = true;
  ASSERT_TRUE(BuildReport(".", options, report, error)) << error;
  EXPECT_EQ(report.results.runs.size(), 3u);  // its own row stays
  EXPECT_EQ(report.subjects[0].runs.size(), 2u);
  EXPECT_EQ(report.groups[0].runs, 2);
  const std::string about = ReportAbout(report);
  for (const char* part : {"No upper RT limit.", "Runs with problems are left out of the pooled rows"})
    EXPECT_NE(about.find(part), std::string::npos) << part;
}

// The timing record's flags reach the report: the run's counts from its line (summed on the
// pooled rows, empty where no line has them), the flagged onset RTs counted, and left out of the
// onset figures only when asked; the trial file carries each row's PressSource and Over.
TEST(ReportPooling, TimingFlagsCountedAndLeftOutWhenAsked) {
  TempWorkingDir dir;
  WriteSummary({{"S", 3, 1, 3, 0, 0, 0}, {"S", 3, 2, 3, 0, 0, 0}});
  std::string rows = "Subject,Date,Time,Trial,TgtPokko,DstPokko,Holes,Ordered,Dur,ISI_1,ISI_2,TmLimit,"
                     "RndSeed,Pokko,Tgt,Hole,Hole_X,Hole_Y,Resp,Resp_X,Resp_Y,RT,TotalRT,Error\r\n";
  for (int run = 0; run < 2; ++run) {
    const std::string head = "S,2026/12/01,10:00:0" + std::to_string(run) + ",";
    const std::string settings = ",6,3,12,1,2000,1000,3000,60," + std::to_string(run + 1) + ",";
    for (int t = 1; t <= 3; ++t)
      rows += head + std::to_string(t) + settings + "1,1,1,0,0,1,0,0,400,2400,0\r\n";
  }
  // Run 0: clean, onset over, press from arrival (with a rise flag, which the onset RT does not
  // lean on); run 1: one rise only.
  const std::string timing =
      "Subject,Date,Time,Trial,ShowTick,OnsetRT,PressSource,RiseMs,Over,Computer\r\n"
      "S,2026/12/01,10:00:00,1,2000,300,event,516.7,,pc\r\n"
      "S,2026/12/01,10:00:00,2,5000,310,event,516.7,onset,pc\r\n"
      "S,2026/12/01,10:00:00,3,8000,320,arrival,600.0,rise booking,pc\r\n"
      "S,2026/12/01,10:00:01,1,2000,330,event,900.0,rise,pc\r\n"
      "S,2026/12/01,10:00:01,2,5000,340,event,516.7,,pc\r\n"
      "S,2026/12/01,10:00:01,3,8000,350,event,516.7,,pc\r\n";
  std::ofstream(std::filesystem::u8path("S.csv"), std::ios::binary) << rows;
  std::ofstream(std::filesystem::u8path("S_timing.csv"), std::ios::binary) << timing;
  // The second run's line comes from a version without the counts.
  std::ofstream(std::filesystem::u8path("ピョコラン_timing.txt"), std::ios::binary)
      << "Subject\tDate\tTime\tMode\tArrivalPresses\tOnsetOver\tRiseOver\tBookingLate\r\n"
      << "S\t2026/12/01\t10:00:00\tfallback\t1\t1\t1\t1\r\n"
      << "S\t2026/12/01\t10:00:01\tlocked\r\n";
  Report report;
  std::string error;
  ASSERT_TRUE(BuildReport(".", {}, report, error)) << error;
  ASSERT_EQ(report.results.runs.size(), 2u);
  const std::vector<std::string> newer = RunCells(report, 0), older = RunCells(report, 1);
  for (const char* column : {"ArrivalPresses", "OnsetOver", "RiseOver", "BookingLate"}) {
    EXPECT_EQ(Cell(older, column), "1") << column;
    EXPECT_EQ(Cell(newer, column), "") << column;
    EXPECT_EQ(Cell(SubjectCells(report, 0), column), "1") << column;
  }
  EXPECT_EQ(Cell(older, "OnsetRT_Flagged"), "2");
  EXPECT_EQ(Cell(newer, "OnsetRT_Flagged"), "0");  // a rise alone leaves the onset RT as it is
  EXPECT_EQ(report.subjects[0].measures.onset_rt.n, 6);
  EXPECT_EQ(Cell(SubjectCells(report, 0), "OnsetRT_Flagged"), "2");

  MeasureOptions options;
  options.exclude_flagged_onsets = true;
  ASSERT_TRUE(BuildReport(".", options, report, error)) << error;
  const Measures& pooled = report.subjects[0].measures;
  EXPECT_EQ(pooled.onset_rt.n, 4);
  EXPECT_DOUBLE_EQ(pooled.onset_rt.mean, (300 + 330 + 340 + 350) / 4.0);
  EXPECT_EQ(pooled.onset_rt_flagged, 2);
  EXPECT_EQ(pooled.hit_rt.n, 6);  // the RT figures keep every hit
  EXPECT_NE(ReportAbout(report).find("--exclude-flagged-onsets"), std::string::npos);

  ASSERT_TRUE(WriteTrialsCsv(report, "trials.csv", error)) << error;
  std::ifstream in("trials.csv", std::ios::binary);
  const std::string trials((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(trials.find(",PressSource,Over\r\n"), std::string::npos);
  EXPECT_NE(trials.find(",arrival,rise booking\r\n"), std::string::npos);
  EXPECT_NE(trials.find(",event,onset\r\n"), std::string::npos);
}

// Text a spreadsheet would run as a formula gets an apostrophe; numbers, and text that only
// holds such a sign further on, stay as they are.
TEST(ReportCsv, FormulaLikeTextIsWrittenAsText) {
  const std::pair<const char*, const char*> cases[] = {
      {"=1+2", "'=1+2"}, {"+1", "'+1"}, {"-3", "'-3"}, {"@SUM(A1)", "'@SUM(A1)"}, {"\tx", "'\tx"},
      {"001", "001"},    {"a=b", "a=b"}, {"", ""}};
  for (const auto& [cell, written] : cases) EXPECT_EQ(SpreadsheetText(cell), written) << cell;

  TempWorkingDir dir;
  WriteSummary({{"=1+2", 3, 7, 0, 10, 0, 10}});
  Report report;
  std::string error;
  ASSERT_TRUE(BuildReport(".", {}, report, error)) << error;
  const std::string csv = ReportCsv(report);
  const auto run = CsvRow(csv, kLevelRun, "'=1+2");
  ASSERT_FALSE(run.empty());
  EXPECT_EQ(Cell(run, "Criterion"), "0.000");
  EXPECT_EQ(Cell(run, "dPrime").front(), '-');  // a number, as it was
}

// The schema beside each CSV gives every column a type, Subject a string, and how to read it.
TEST(ReportCsv, SchemaTypesEveryColumn) {
  const std::string schema = TableSchemaJson(ReportColumns(), "t", "r.csv", false);
  EXPECT_EQ(schema.rfind(kSchemaHead, 0), 0u);
  for (const char* field : {"{\"name\": \"Subject\", \"type\": \"string\"}", "{\"name\": \"Hit\", \"type\": \"integer\"}",
                            "{\"name\": \"dPrime\", \"type\": \"number\"}",
                            "{\"name\": \"Date\", \"type\": \"date\", \"format\": \"%Y/%m/%d\"}",
                            "\"missingValues\": [\"\"]", "dtype={\\\"Subject\\\": str}"})
    EXPECT_NE(schema.find(field), std::string::npos) << field;
  size_t fields = 0;
  for (size_t p = 0; (p = schema.find("{\"name\": ", p)) != std::string::npos; ++p) ++fields;
  EXPECT_EQ(fields, ReportColumns().size());
  EXPECT_EQ(SchemaPathFor("dir/t.CSV"), "dir/t.schema.json");

  TempWorkingDir dir;
  std::ofstream("r.schema.json", std::ios::binary) << schema;
  EXPECT_TRUE(IsOurReport("r.schema.json"));
}

}  // namespace
}  // namespace pyokoran
