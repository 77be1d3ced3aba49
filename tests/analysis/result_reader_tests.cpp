#include "analysis/report.h"
#include "analysis/trial_export.h"

#include <filesystem>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <tuple>

#include "support/temp_working_dir.h"
#include "support/system_support.h"

namespace pyokoran {
namespace {

void Write(const std::string& name, const std::string& bytes) {
  std::ofstream(std::filesystem::u8path(name), std::ios::binary) << bytes;
}

constexpr const char* kSummaryHeader =
    "Subject\tDate\tTime\tTgtPokko\tDstPokko\tHoles\tOrdered\tDur\tISI_1\tISI_2\tTmLimit\t"
    "RndSeed\tHit\tMiss\tCR\tFA\tScore\r\n";
constexpr const char* kAppearanceHeader =
    "Subject,Date,Time,Trial,TgtPokko,DstPokko,Holes,Ordered,Dur,ISI_1,ISI_2,TmLimit,"
    "RndSeed,Pokko,Tgt,Hole,Hole_X,Hole_Y,Resp,Resp_X,Resp_Y,RT,TotalRT,Error\r\n";
// "被験者01" in code page 932.
const std::string kJapaneseSubject = "\x94\xed\x8c\xb1\x8e\xd2\x30\x31";

// A folder as two subjects leave it: a Japanese subject with two runs (the second with a
// timing record), a subject with a comma, a broken summary line and a broken row.
class ResultFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    Write("ピョコラン.txt",
          std::string(kSummaryHeader) + kJapaneseSubject +
              "\t2026/12/01\t10:00:00\t6\t3\t12\t1\t2000\t1000\t3000\t60\t7\t2\t1\t1\t0\t2\r\n" +
              "A,B\t2026/12/01\t11:00:00\t6\t3\t12\t1\t2000\t1000\t3000\t60\t8\t0\t0\t0\t1\t-1\r\n" +
              "garbage line\r\n" + kJapaneseSubject +
              "\t2026/12/02\t09:00:00\t6\t3\t12\t1\t2000\t1000\t3000\t60\t9\t1\t0\t0\t0\t1\r\n");
    const std::string settings = ",6,3,12,1,2000,1000,3000,60,";
    Write("被験者01.csv",
          std::string(kAppearanceHeader) + kJapaneseSubject + ",2026/12/01,10:00:00,1" + settings +
              "7,1,1,1,100,100,1,100,100,420,3420,0\r\n" + kJapaneseSubject +
              ",2026/12/01,10:00:00,2" + settings + "7,2,1,2,200,100,1,200,100,380,5380,0\r\n" +
              kJapaneseSubject + ",2026/12/01,10:00:00,3" + settings +
              "7,3,1,3,300,100,0,0,0,0,0,1\r\n" + kJapaneseSubject + ",2026/12/01,10:00:00,4" +
              settings + "7,7,0,4,400,100,0,0,0,0,0,0\r\n" + kJapaneseSubject +
              ",2026/12/02,09:00:00,1" + settings + "9,1,1,1,100,100,1,100,100,500,2500,0\r\n" +
              kJapaneseSubject + ",2026/12/02,09:00:00,x" + settings + "9,1,1,1,1,1,1,1,1,1,1,0\r\n");
    Write("A,B.csv", std::string(kAppearanceHeader) + "A,B,2026/12/01,11:00:00,1" + settings +
                         "8,7,0,4,400,100,1,400,100,90,4090,1\r\n");
    // Column names and order as a timing record may give them; empty where nothing was pressed.
    Write("被験者01_timing.csv",
          "Subject,Date,Time,Trial,ShowTick,Onset,FullyUp,Press,RT,RT_Onset\r\n" + kJapaneseSubject +
              ",2026/12/02,09:00:00,1,2000,2012,2530,2500,500,488\r\n" + kJapaneseSubject +
              ",2026/12/02,09:00:00,2,2000,2012,2530,,0,\r\n");
    Write("notes.csv", "something else\r\n1,2\r\n");
  }
  TempWorkingDir dir_;
};

TEST_F(ResultFolderTest, ReadsEveryRunWithItsRowsNewestFirst) {
  Report report;
  std::string error;
  ASSERT_TRUE(BuildReport(".", {}, report, error)) << error;
  const auto& runs = report.results.runs;
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].date, "2026/12/02");
  EXPECT_EQ(runs[0].subject_utf8, "被験者01");
  EXPECT_EQ(runs[1].subject, "A,B");
  EXPECT_EQ(runs[2].rows.size(), 4u);
  EXPECT_EQ(runs[2].RndSeed, 7);
  EXPECT_EQ(report.results.problems.size(), 2u);  // the garbage line, the row with trial x

  // The timing record adds the RT from the onset where a press was made.
  ASSERT_EQ(runs[0].rows.size(), 1u);
  EXPECT_TRUE(runs[0].rows[0].has_onset_rt());
  EXPECT_DOUBLE_EQ(runs[0].rows[0].onset_rt(), 488);
  EXPECT_DOUBLE_EQ(report.run_measures[0].onset_rt.mean, 488);

  // The false alarm at 90 ms is an anticipation.
  EXPECT_EQ(report.run_measures[1].anticipations, 1);
  EXPECT_EQ(report.run_measures[1].fa_rt.n, 0);

  // Pooled: two runs of the Japanese subject, hits at 420, 380, 500 ms.
  ASSERT_EQ(report.subjects.size(), 2u);
  const SubjectReport& s = report.subjects[0];
  EXPECT_EQ(s.runs.size(), 2u);
  EXPECT_EQ(s.measures.Hit, 3);
  EXPECT_EQ(s.measures.targets, 4);
  EXPECT_DOUBLE_EQ(s.measures.hit_rt.median, 420);
  EXPECT_EQ(report.results.runs[s.runs.front()].date, "2026/12/01");  // oldest first
}

TEST_F(ResultFolderTest, CsvHasBomOneRowPerRunAndSubjectAndQuotes) {
  Report report;
  std::string error;
  ASSERT_TRUE(BuildReport(".", {}, report, error)) << error;
  const std::string csv = ReportCsv(report);
  ASSERT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
  size_t lines = 0;
  for (size_t p = 0; (p = csv.find("\r\n", p)) != std::string::npos; p += 2) ++lines;
  EXPECT_EQ(lines, 1u + 3u + 2u * 2u);  // header, runs, each subject's condition and pooled rows
  EXPECT_NE(csv.find("\r\nrun,2,\"A,B\",2026/12/01,11:00:00,1,0,1,T6 D3 H12 60s 2000ms 1000-3000ms rows,6,3,12,1,2000,1000,3000,60,8,"),
            std::string::npos);
  EXPECT_NE(csv.find("\r\nsubject_condition,,被験者01,,,2,0,1,T6 D3 H12 60s 2000ms 1000-3000ms rows,6,3,12,1,2000,1000,3000,60,,"), std::string::npos);
  EXPECT_NE(csv.find("\r\nsubject,,被験者01,,,2,0,1,T6 D3 H12 60s 2000ms 1000-3000ms rows,,,,,,,,,,"), std::string::npos);
  ASSERT_TRUE(WriteReportCsv(report, "report.csv", error)) << error;
}

// One row per appearance, runs joined to the table by RunId, NA where nothing exists: no
// response, no timing record for the run, a column the timing record lacks.
TEST_F(ResultFolderTest, TrialFileHasOneRowPerAppearanceWithNaWhereNothingExists) {
  Report report;
  std::string error;
  ASSERT_TRUE(BuildReport(".", {}, report, error)) << error;
  ASSERT_TRUE(WriteTrialsCsv(report, "trials.csv", error)) << error;
  std::ifstream in("trials.csv", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(bytes.substr(start, end - start));
  ASSERT_EQ(lines.size(), 1u + 1u + 4u + 1u);  // header; A,B's run; 被験者01's runs
  EXPECT_EQ(lines[0].rfind("\xEF\xBB\xBFRunId,Subject,Date,Time,", 0), 0u);
  const std::string settings = ",0,6,3,12,1,2000,1000,3000,60,";
  const std::string na8 = "NA,NA,NA,NA,NA,NA,NA,NA";
  EXPECT_EQ(lines[1], "2,\"A,B\",2026/12/01,11:00:00" + settings + "8,1,7,distractor,4,FA,90,4090,1,NA," + na8);
  EXPECT_EQ(lines[2], "1,被験者01,2026/12/01,10:00:00" + settings + "7,1,1,target,1,Hit,420,3420,0,NA," + na8);
  EXPECT_EQ(lines[4], "1,被験者01,2026/12/01,10:00:00" + settings + "7,3,3,target,3,Miss,NA,NA,NA,NA," + na8);
  EXPECT_EQ(lines[5], "1,被験者01,2026/12/01,10:00:00" + settings + "7,4,7,distractor,4,CR,NA,NA,NA,NA," + na8);
  // The timing record gives what it holds; FirstFrame, TickLagMs, PressSource and Over it lacks.
  EXPECT_EQ(lines[6], "3,被験者01,2026/12/02,09:00:00" + settings +
                          "9,1,1,target,1,Hit,500,2500,0,488,2000,NA,2012,2530,2500,NA,NA,NA");
  // Every row has every column.
  for (const std::string& line : lines) EXPECT_EQ(std::count(line.begin(), line.end(), ','), std::count(lines[0].begin(), lines[0].end(), ',') + (line == lines[1] ? 1 : 0)) << line;
}

// A date and time that start with a quote are quoted cells of the trial file; a timing
// record beyond the input cap is left out of it (its cells NA), as out of the report.
TEST(TrialFile, QuotesTextCellsAndLeavesOutAnOversizedTimingRecord) {
  TempWorkingDir dir;
  Write("S.csv", std::string(kAppearanceHeader) +
                     "S,\"2026/12/0,\"10:00,1,6,3,12,1,2000,1000,3000,60,7,1,1,1,100,100,1,100,100,400,3400,0\r\n");
  Write("S_timing.csv", "Subject,Date,Time,Trial,ShowTick,RT_Onset\r\nS,\"2026/12/0,\"10:00,1,1000,388.5\r\n");
  std::filesystem::resize_file("S_timing.csv", kMaxResultFileBytes + 1);
  Report report;
  std::string error;
  ASSERT_TRUE(BuildReport(".", {}, report, error)) << error;
  ASSERT_TRUE(WriteTrialsCsv(report, "trials.csv", error)) << error;
  std::ifstream in("trials.csv", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  const std::string row = bytes.substr(bytes.find("\r\n") + 2);
  EXPECT_EQ(row.rfind("1,S,\"\"\"2026/12/0\",\"\"\"10:00\",0,", 0), 0u) << row;
  EXPECT_EQ(row.substr(row.size() - 20), ",NA,NA,NA,NA,NA,NA\r\n") << row;
  bool told = false;
  for (const std::string& p : report.results.problems) told = told || p.find("S_timing.csv: larger than") == 0;
  EXPECT_TRUE(told);
}

// A copy of an appearance file beside it, and a row of another subject pasted into it: only
// the subject's own rows of its own file count.
TEST(ResultFolder, ReadsExactlyEachSummarisedSubjectsOwnFile) {
  TempWorkingDir dir;
  const std::string settings = ",6,3,12,1,2000,1000,3000,60,";
  Write("ピョコラン.txt",
        std::string(kSummaryHeader) +
            "SBJ0000\t2026/12/01\t10:00:00\t6\t3\t12\t1\t2000\t1000\t3000\t60\t7\t2\t0\t0\t0\t2\r\n");
  const std::string rows =
      std::string(kAppearanceHeader) + "SBJ0000,2026/12/01,10:00:00,1" + settings +
      "7,1,1,1,100,100,1,100,100,420,3420,0\r\n" + "SBJ0000,2026/12/01,10:00:00,2" + settings +
      "7,2,1,2,200,100,1,200,100,380,5380,0\r\n";
  Write("SBJ0000.csv", rows + "Other,2026/12/01,10:00:00,3" + settings +
                           "7,2,1,2,200,100,1,200,100,999,5380,0\r\n");
  Write("SBJ0000 (copy).csv", rows);
  Report report;
  std::string error;
  ASSERT_TRUE(BuildReport(".", {}, report, error)) << error;
  ASSERT_EQ(report.results.runs.size(), 1u);
  EXPECT_EQ(report.results.runs[0].rows.size(), 2u);
  EXPECT_EQ(report.run_measures[0].hit_rt.n, 2);
  ASSERT_EQ(report.results.problems.size(), 1u);
  EXPECT_NE(report.results.problems[0].find("SBJ0000.csv: line 4 belongs to another subject"),
            std::string::npos);
}

// Runs whose appearance and timing rows are whole but whose line the timing summary lacks (a
// kill before its append) are named, each in its row and in the problems.
TEST(ResultFolder, RunsWithoutTheirTimingSummaryLineAreNamed) {
  TempWorkingDir dir;
  std::string summary = kSummaryHeader, rows = kAppearanceHeader, timing = "Subject,Date,Time,Trial,RT_Onset\r\n";
  std::string lines = "Subject\tDate\tTime\tMode\r\n";
  for (const char* time : {"10:00:00", "11:00:00", "12:00:00"}) {
    summary += std::string("SBJ\t2026/12/01\t") + time + "\t6\t3\t12\t1\t2000\t1000\t3000\t60\t7\t1\t0\t0\t0\t1\r\n";
    rows += std::string("SBJ,2026/12/01,") + time + ",1,6,3,12,1,2000,1000,3000,60,7,1,1,1,100,100,1,100,100,400,3400,0\r\n";
    timing += std::string("SBJ,2026/12/01,") + time + ",1,388.5\r\n";
    if (std::string(time) == "10:00:00") lines += std::string("SBJ\t2026/12/01\t") + time + "\tlocked\r\n";
  }
  Write("ピョコラン.txt", summary);
  Write("SBJ.csv", rows);
  Write("SBJ_timing.csv", timing);
  Write("ピョコラン_timing.txt", lines);
  Report report;
  std::string error;
  ASSERT_TRUE(BuildReport(".", {}, report, error)) << error;
  ASSERT_EQ(report.results.runs.size(), 3u);
  std::vector<std::string> told;
  for (const RunRecord& run : report.results.runs) {
    EXPECT_EQ(run.problems, run.time == "10:00:00" ? "" : "line missing in ピョコラン_timing.txt") << run.time;
  }
  for (const std::string& p : report.results.problems) told.push_back(p);
  EXPECT_EQ(told, (std::vector<std::string>{"SBJ 2026/12/01 11:00:00: line missing in ピョコラン_timing.txt",
                                            "SBJ 2026/12/01 12:00:00: line missing in ピョコラン_timing.txt"}));
}

// Subjects whose files' names meet ("ab"'s timing file is "ab_timing"'s appearance file, as
// an older version let happen): each file is read as what its header says it is, for the
// subject it belongs to. A subject that would name a path is never used as one.
TEST(ResultFolder, SubjectFilesAreKeptApartByTheirHeaders) {
  TempWorkingDir dir;
  const std::string settings = ",6,3,12,1,2000,1000,3000,60,7,";
  std::string summary = kSummaryHeader;
  for (const char* who : {"ab", "ab_timing", "..\\outside\\victim"})
    summary += std::string(who) + "\t2026/12/01\t10:00:00\t6\t3\t12\t1\t2000\t1000\t3000\t60\t7\t1\t0\t0\t0\t1\r\n";
  Write("ピョコラン.txt", summary);
  const std::string row = ",2026/12/01,10:00:00,1" + settings + "1,1,1,100,100,1,100,100,400,3400,0\r\n";
  Write("ab.csv", kAppearanceHeader + ("ab" + row));
  Write("ab_timing.csv", kAppearanceHeader + ("ab_timing" + row));
  Write("..\\outside\\victim.csv", kAppearanceHeader + ("..\\outside\\victim" + row));
  Report report;
  std::string error;
  ASSERT_TRUE(BuildReport(".", {}, report, error)) << error;
  ASSERT_EQ(report.results.runs.size(), 3u);
  for (const RunRecord& run : report.results.runs)
    EXPECT_EQ(run.rows.size(), run.subject[0] == '.' ? 0u : 1u) << run.subject;
  std::string problems;
  for (const std::string& p : report.results.problems) problems += p + "\n";
  EXPECT_NE(problems.find("ab_timing.csv: holds appearance rows, not timing records"), std::string::npos) << problems;
  EXPECT_NE(problems.find("the subject ID ..\\outside\\victim names no file"), std::string::npos) << problems;
}

// However many lines cannot be used, the problems keep the first few and a count.
TEST(ResultFolder, UnusableLinesAreCountedNotAllKept) {
  TempWorkingDir dir;
  std::string text = kAppearanceHeader;
  for (int i = 0; i < 100000; ++i) text += "x\r\n";
  Write("S.csv", text + "S,2026/12/01,10:00:00,1,6,3,12,1,2000,1000,3000,60,7,1,1,1,100,100,1,100,100,400,3400,0\r\n");
  Report report;
  std::string error;
  ASSERT_TRUE(BuildReport(".", {}, report, error)) << error;
  EXPECT_EQ(report.results.runs.size(), 1u);
  ASSERT_LE(report.results.problems.size(), 60u);
  EXPECT_EQ(report.results.problems.back(), "\u2026 and 99950 more lines or files not used (not listed)");
}

// One summarised run of `hits` hits as the files may leave it after a kill, a deleted file or
// the row limit: the run carries what its files lack, and a cut-off last line of any file is
// left out with a problem line.
struct DisagreementCase {
  const char* name;
  int hits;              // the summary line's Hit (every appearance a hit)
  int rows;              // appearance rows written; -1: no appearance file
  int timing_rows;       // timing rows written; -1: no timing file
  bool tear_rows;        // the last appearance row lacks its line end
  bool tear_timing;      // the last timing row lacks its line end
  bool tear_summary;     // a further summary line lacks its line end
  const char* run_problems;
  const char* torn_file;  // the file whose cut-off line is told, or ""
};

class RunDisagreementTest : public testing::TestWithParam<DisagreementCase> {};

TEST_P(RunDisagreementTest, IsToldInTheRunsProblems) {
  const DisagreementCase& c = GetParam();
  TempWorkingDir dir;
  std::string summary = std::string(kSummaryHeader) + "SBJ\t2026/12/01\t10:00:00\t6\t3\t12\t1\t2000\t1000\t3000\t60\t7\t" +
                        std::to_string(c.hits) + "\t0\t0\t0\t" + std::to_string(c.hits) + "\r\n";
  if (c.tear_summary) summary += "SBJ\t2026/12/01\t11:00:00\t6\t3";
  Write("ピョコラン.txt", summary);
  Write("ピョコラン_timing.txt", "Subject\tDate\tTime\tMode\r\nSBJ\t2026/12/01\t10:00:00\tlocked\r\n");
  auto cut = [](std::string text, bool tear) {
    if (tear) text.resize(text.size() - 7);
    return text;
  };
  if (c.rows >= 0) {
    std::string text = kAppearanceHeader;
    for (int t = 1; t <= c.rows; ++t)
      text += "SBJ,2026/12/01,10:00:00," + std::to_string(t) +
              ",6,3,12,1,2000,1000,3000,60,7,1,1,1,100,100,1,100,100,400,3400,0\r\n";
    Write("SBJ.csv", cut(text, c.tear_rows));
  }
  if (c.timing_rows >= 0) {
    std::string text = "Subject,Date,Time,Trial,RT_Onset\r\n";
    for (int t = 1; t <= c.timing_rows; ++t)
      text += "SBJ,2026/12/01,10:00:00," + std::to_string(t) + ",388.5\r\n";
    Write("SBJ_timing.csv", cut(text, c.tear_timing));
  }
  Report report;
  std::string error;
  ASSERT_TRUE(BuildReport(".", {}, report, error)) << error;
  ASSERT_EQ(report.results.runs.size(), 1u);
  const RunRecord& run = report.results.runs[0];
  EXPECT_EQ(run.problems, c.run_problems);
  const std::string csv = ReportCsv(report);
  // The run's row of the CSV ends in its Problems cell and its (empty) Computer cell.
  const size_t row = csv.find("\r\nrun,") + 2;
  std::string line = csv.substr(row, csv.find("\r\n", row) - row);
  ASSERT_EQ(line.back(), ',');
  line.pop_back();
  EXPECT_EQ(line.substr(line.rfind(',') + 1), c.run_problems);
  bool torn_told = false, run_told = false;
  for (const std::string& p : report.results.problems) {
    if (*c.torn_file && p.rfind(std::string(c.torn_file) + ": line ", 0) == 0 &&
        p.find("no line end") != std::string::npos)
      torn_told = true;
    if (*c.run_problems && p == std::string("SBJ 2026/12/01 10:00:00: ") + c.run_problems)
      run_told = true;
  }
  EXPECT_EQ(torn_told, *c.torn_file != 0);
  EXPECT_EQ(run_told, *c.run_problems != 0);
  if (c.rows > 0 && !c.tear_rows && !c.tear_timing && c.timing_rows == c.rows) {
    EXPECT_DOUBLE_EQ(report.run_measures[0].onset_rt.mean, 388.5);
  }
}

INSTANTIATE_TEST_SUITE_P(
    ResultFolder, RunDisagreementTest,
    testing::Values(
        DisagreementCase{"Whole", 2, 2, 2, false, false, false, "", ""},
        DisagreementCase{"AppearanceFileMissing", 2, -1, -1, false, false, false,
                         "appearance rows missing", ""},
        DisagreementCase{"LastRowTorn", 2, 2, 1, true, false, false, "appearance rows 1 of 2",
                         "SBJ.csv"},
        DisagreementCase{"OverTheRowLimit", 5003, 4999, 4999, false, false, false,
                         "over the 4999-row log limit (5003 appearances)", ""},
        DisagreementCase{"RowsMissingOverTheLimit", 5003, 2, 2, false, false, false,
                         "appearance rows 2 of 4999; over the 4999-row log limit (5003 appearances)", ""},
        DisagreementCase{"TimingFileMissing", 2, 2, -1, false, false, false, "timing rows missing", ""},
        DisagreementCase{"TimingRowTorn", 2, 2, 2, false, true, false, "timing rows 1 of 2",
                         "SBJ_timing.csv"},
        DisagreementCase{"SummaryLineTorn", 2, 2, 2, false, false, true, "", "ピョコラン.txt"}),
    [](const testing::TestParamInfo<DisagreementCase>& info) { return std::string(info.param.name); });

// A summary file that is a folder or a FIFO is told, never waited on; the rows beside it
// are still read.
TEST(ResultFolder, SummaryThatIsNotARegularFileIsTold) {
  for (const bool fifo : {false, true}) {
    TempWorkingDir dir;
    if (fifo) {
      if (!test::SystemHasFifos()) continue;
      ASSERT_TRUE(test::MakeFifo("ピョコラン.txt"));
    } else {
      ASSERT_TRUE(test::MakeFolder("ピョコラン.txt"));
    }
    Write("S.csv", std::string(kAppearanceHeader) +
                       "S,2026/12/01,10:00:00,1,6,3,12,1,2000,1000,3000,60,7,1,1,1,100,100,1,100,100,"
                       "400,3400,0\r\n");
    Report report;
    std::string error;
    ASSERT_TRUE(BuildReport(".", {}, report, error)) << error;
    EXPECT_EQ(report.results.runs.size(), 1u);
    ASSERT_EQ(report.results.problems.size(), 1u) << fifo;
    EXPECT_EQ(report.results.problems[0], "ピョコラン.txt: not a regular file; skipped");
  }
}

// What no program-written file holds is bounded: an overlong line and rows beyond the log
// limit in one run are skipped with a problem line each.
TEST(ResultFolder, OverlongLinesAndSurplusRowsAreCapped) {
  TempWorkingDir dir;
  std::string text = kAppearanceHeader;
  text += std::string(70 * 1024, '\t') + "\r\n";
  for (int t = 1; t <= 5100; ++t)
    text += "S,2026/12/01,10:00:00," + std::to_string(t) +
            ",6,3,12,1,2000,1000,3000,60,7,1,1,1,100,100,1,100,100,400,3400,0\r\n";
  Write("S.csv", text);
  Report report;
  std::string error;
  ASSERT_TRUE(BuildReport(".", {}, report, error)) << error;
  ASSERT_EQ(report.results.runs.size(), 1u);
  EXPECT_EQ(report.results.runs[0].rows.size(), 4999u);
  ASSERT_EQ(report.results.problems.size(), 2u);
  EXPECT_EQ(report.results.problems[0], "S.csv: line 2 is longer than 65536 bytes; skipped");
  EXPECT_EQ(report.results.problems[1],
            "S.csv: line 5002 and later rows of S 2026/12/01 10:00:00 are beyond 4999 rows; skipped");
}

// Files are read block by block: rows across the blocks' borders, an overlong line across one
// and an overlong last line without its line end come out as from a file read whole; the
// reading tells its progress and can be stopped.
TEST(ResultFolder, LargeFilesAreReadInBlocksWithProgress) {
  TempWorkingDir dir;
  std::string text = kAppearanceHeader;
  auto rows = [&](int run, int count) {
    for (int t = 1; t <= count; ++t)
      text += "S,2026/12/01,10:0" + std::to_string(run) + ":00," + std::to_string(t) +
              ",6,3,12,1,2000,1000,3000,60,7,1,1,1,100,100,1,100,100," + std::to_string(300 + t % 97) +
              ",3400,0\r\n";
  };
  rows(1, 2500);  // about 230 kB: the next line crosses the first block's end at 256 KiB
  const size_t long_line = size_t(std::count(text.begin(), text.end(), '\n')) + 1;
  text += std::string(70 * 1024, '\t') + "\r\n";
  rows(2, 4000);
  rows(3, 10);
  const size_t torn_line = size_t(std::count(text.begin(), text.end(), '\n')) + 1;
  text += std::string(70 * 1024, 'x');
  ASSERT_GT(text.size(), size_t(2) << 18);
  Write("S.csv", text);

  ReadControl control;
  ResultFolder folder;
  std::string error;
  ASSERT_TRUE(ReadResultFolder(".", folder, error, &control)) << error;
  ASSERT_EQ(folder.runs.size(), 3u);
  const size_t counts[] = {2500, 4000, 10};
  for (size_t r = 0; r < 3; ++r) {
    ASSERT_EQ(folder.runs[r].rows.size(), counts[r]) << r;
    for (size_t t = 0; t < counts[r]; ++t) {
      ASSERT_EQ(folder.runs[r].rows[t].Trial, int32_t(t + 1)) << r;
      ASSERT_EQ(folder.runs[r].rows[t].RT, int32_t(300 + (t + 1) % 97)) << r;
    }
  }
  EXPECT_EQ(folder.problems,
            (std::vector<std::string>{
                "S.csv: line " + std::to_string(long_line) + " is longer than 65536 bytes; skipped",
                "S.csv: line " + std::to_string(torn_line) + " has no line end (cut off while written); skipped"}));
  EXPECT_EQ(control.done(), text.size());
  EXPECT_EQ(control.total(), text.size());

  // Stopped before it starts: nothing is kept.
  ReadControl stop;
  stop.Cancel();
  EXPECT_FALSE(ReadResultFolder(".", folder, error, &stop));
  EXPECT_EQ(error, "reading stopped");
  EXPECT_TRUE(folder.runs.empty());
}

// Rows are kept small: values no program-written row holds (a target flag of 300, a hole
// beyond 32767) make the row unreadable instead of wrapping into another meaning.
TEST(ResultFolder, ValuesBeyondWhatARowHoldsAreSkipped) {
  TempWorkingDir dir;
  const std::string run = "S,2026/12/01,10:00:00,";
  Write("S.csv", std::string(kAppearanceHeader) +
                     run + "1,6,3,12,1,2000,1000,3000,60,7,1,300,1,100,100,1,100,100,400,3400,0\r\n" +
                     run + "2,6,3,12,1,2000,1000,3000,60,7,1,1,70000,100,100,1,100,100,400,3400,0\r\n" +
                     run + "3,6,3,12,1,2000,1000,3000,60,7,2,1,12,100,100,1,100,100,400,3400,-1\r\n");
  ResultFolder folder;
  std::string error;
  ASSERT_TRUE(ReadResultFolder(".", folder, error)) << error;
  ASSERT_EQ(folder.runs.size(), 1u);
  ASSERT_EQ(folder.runs[0].rows.size(), 1u);
  const AppearanceRow& r = folder.runs[0].rows[0];
  EXPECT_EQ(std::tuple(r.Trial, r.Pokko, r.Tgt, r.Hole, r.Resp, r.RT, r.TotalRT, r.Error),
            std::tuple(int16_t(3), int8_t(2), int8_t(1), int16_t(12), int8_t(1), 400, 3400, int8_t(-1)));
  EXPECT_EQ(folder.problems, (std::vector<std::string>{"S.csv: line 2 is not an appearance row; skipped",
                                                       "S.csv: line 3 is not an appearance row; skipped"}));
}

// The RT from the onset is kept to the microsecond; a value that is not a number, or one no
// 32-bit count of microseconds holds, is told and not used (rather than wrapping into another RT).
TEST(ResultFolder, OnsetRtIsKeptToTheMicrosecondOrToldAndNotUsed) {
  TempWorkingDir dir;
  const std::string run = "S,2026/12/01,10:00:00,";
  std::string rows = kAppearanceHeader, timing = "Subject,Date,Time,Trial,RT,OnsetRT\r\n";
  const char* onsets[] = {"488.123", "-12.5", "1e12", "abc", "nan", ""};
  for (int t = 1; t <= 6; ++t) {
    rows += run + std::to_string(t) + ",6,3,12,1,2000,1000,3000,60,7,1,1,1,100,100,1,100,100,500,3500,0\r\n";
    timing += run + std::to_string(t) + ",500," + onsets[t - 1] + "\r\n";
  }
  Write("S.csv", rows);
  Write("S_timing.csv", timing);
  ResultFolder folder;
  std::string error;
  ASSERT_TRUE(ReadResultFolder(".", folder, error)) << error;
  ASSERT_EQ(folder.runs.size(), 1u);
  const auto& r = folder.runs[0].rows;
  ASSERT_EQ(r.size(), 6u);
  EXPECT_DOUBLE_EQ(r[0].onset_rt(), 488.123);
  EXPECT_DOUBLE_EQ(r[1].onset_rt(), -12.5);
  for (size_t k = 2; k < 6; ++k) EXPECT_FALSE(r[k].has_onset_rt()) << k;
  const std::string told = ": the reaction time from the onset is not a number of ms within 30 minutes; not used";
  EXPECT_EQ(folder.problems, (std::vector<std::string>{"S_timing.csv: line 4" + told, "S_timing.csv: line 5" + told,
                                                       "S_timing.csv: line 6" + told}));
}

// A timing record begun under an older header gets rows with columns of their own at the end;
// a subject may hold commas as well. Each row still finds its run and its RT from the onset.
TEST(ResultFolder, TimingRowsWithColumnsTheHeaderLacksStillFindTheirRun) {
  TempWorkingDir dir;
  const std::string settings = ",6,3,12,1,2000,1000,3000,60,7,1,1,1,100,100,1,100,100,500,3500,0\r\n";
  for (const std::string subject : {"S", "A,B"}) {
    SCOPED_TRACE(subject);
    const std::string run = subject + ",2026/12/01,10:00:00,";
    Write(subject + ".csv", std::string(kAppearanceHeader) + run + "1" + settings + run + "2" + settings);
    Write(subject + "_timing.csv", "Subject,Date,Time,Trial,RT,OnsetRT\r\n" + run + "1,500,488.5\r\n" + run +
                                       "2,500,477.25,event,516.667,booking\r\n");
    ResultFolder folder;
    std::string error;
    ASSERT_TRUE(ReadResultFolder(".", folder, error)) << error;
    std::filesystem::remove(subject + ".csv");
    std::filesystem::remove(subject + "_timing.csv");
    ASSERT_EQ(folder.runs.size(), 1u);
    EXPECT_EQ(folder.runs[0].subject, subject);
    const auto& r = folder.runs[0].rows;
    ASSERT_EQ(r.size(), 2u);
    EXPECT_DOUBLE_EQ(r[0].onset_rt(), 488.5);
    EXPECT_DOUBLE_EQ(r[1].onset_rt(), 477.25);
    EXPECT_TRUE(folder.problems.empty()) << folder.problems.front();
  }
}

// Two computers sharing a folder recorded one subject in the same second: each file holds
// the two runs in the order they were written, so the n-th of each file belong together,
// and the timing summary names the computer. The subject's timing file has an older header
// than its rows (no Computer column) and a subject holding the separator.
TEST(ResultFolder, RunsOfOneSubjectInOneSecondAreToldApartByTheirOrder) {
  TempWorkingDir dir;
  const std::string subject = "S,1", key = "2026/12/01,10:00:00,";
  const std::string settings = ",6,3,12,1,2000,1000,3000,60,7,";
  Write("ピョコラン.txt", std::string(kSummaryHeader) +
                             "S,1\t2026/12/01\t10:00:00\t6\t3\t12\t1\t2000\t1000\t3000\t60\t7\t2\t0\t0\t0\t2\r\n"
                             "S,1\t2026/12/01\t10:00:00\t6\t3\t12\t1\t2000\t1000\t3000\t60\t7\t1\t1\t0\t0\t1\r\n");
  Write(subject + ".csv", std::string(kAppearanceHeader) +
                              subject + "," + key + "1" + settings + "1,1,1,100,100,1,100,100,400,3400,0\r\n" +
                              subject + "," + key + "2" + settings + "2,1,2,100,100,1,100,100,410,6410,0\r\n" +
                              subject + "," + key + "1" + settings + "1,1,3,100,100,1,100,100,600,3600,0\r\n" +
                              subject + "," + key + "2" + settings + "2,1,4,100,100,0,0,0,0,0,1\r\n");
  Write(subject + "_timing.csv", "Subject,Date,Time,Trial,OnsetRT\r\n" + subject + "," + key + "1,388.5,PC-A\r\n" +
                                     subject + "," + key + "2,398.5,PC-A\r\n" + subject + "," + key +
                                     "1,588.5,PC-B\r\n" + subject + "," + key + "2,,PC-B\r\n");
  Write("ピョコラン_timing.txt", "Subject\tDate\tTime\tMode\tComputer\r\n"
                                    "S,1\t2026/12/01\t10:00:00\tlocked\tPC-A\r\n"
                                    "S,1\t2026/12/01\t10:00:00\tfallback\tPC-B\r\n");
  Report report;
  std::string error;
  ASSERT_TRUE(BuildReport(".", {}, report, error)) << error;
  const auto& runs = report.results.runs;
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_TRUE(report.results.problems.empty()) << report.results.problems.front();
  struct Expected {
    const char* computer;
    const char* presentation;
    int hit, miss;
    std::vector<int> holes;
    double first_onset;
  };
  const Expected expected[] = {{"PC-A", "locked", 2, 0, {1, 2}, 388.5}, {"PC-B", "fallback", 1, 1, {3, 4}, 588.5}};
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const RunRecord& run = runs[0].computer == expected[i].computer ? runs[0] : runs[1];
    EXPECT_EQ(run.occurrence, int(i));
    EXPECT_EQ(run.computer, expected[i].computer);
    EXPECT_EQ(run.presentation, expected[i].presentation);
    EXPECT_EQ(run.Hit, expected[i].hit);
    EXPECT_EQ(run.Miss, expected[i].miss);
    EXPECT_EQ(run.problems, "");
    ASSERT_EQ(run.rows.size(), 2u);
    EXPECT_EQ(run.rows[0].Hole, expected[i].holes[0]);
    EXPECT_EQ(run.rows[1].Hole, expected[i].holes[1]);
    EXPECT_DOUBLE_EQ(run.rows[0].onset_rt(), expected[i].first_onset);
  }
  // The report's rows and the trial file keep them apart too.
  const std::string csv = ReportCsv(report);
  EXPECT_NE(csv.find(",PC-A\r\n"), std::string::npos);
  EXPECT_NE(csv.find(",\"PC-A, PC-B\"\r\n"), std::string::npos) << csv;
  ASSERT_TRUE(WriteTrialsCsv(report, "trials.csv", error)) << error;
  std::ifstream in("trials.csv", std::ios::binary);
  const std::string trials((std::istreambuf_iterator<char>(in)), {});
  for (const char* onset : {",388.5,", ",398.5,", ",588.5,"}) {
    EXPECT_NE(trials.find(onset), std::string::npos) << onset << "\n" << trials;
  }
}

TEST(ResultFolder, MissingOrEmptyFolderIsAClearError) {
  TempWorkingDir dir;
  Report report;
  std::string error;
  EXPECT_FALSE(BuildReport("no-such-folder", {}, report, error));
  EXPECT_NE(error.find("not a folder"), std::string::npos);
  EXPECT_FALSE(BuildReport(".", {}, report, error));
  EXPECT_NE(error.find("no result files"), std::string::npos);
}

}  // namespace
}  // namespace pyokoran

namespace pyokoran {
namespace {

// The whole numbers of an appearance row, in every form the reader takes or refuses: its
// short cut for plain digits must read exactly what the general reading does.
TEST(AppearanceRowNumbers, ReadAsWholeNumbersOrTheRowIsRefused) {
  const struct {
    const char* rt;
    bool read;
    int32_t value;
  } cases[] = {
      {"420", true, 420},           {"+420", true, 420},          {"-5", true, -5},
      {"0", true, 0},               {"000000000420", true, 420},  {"2147483647", true, 2147483647},
      {"-2147483648", true, INT32_MIN}, {"2147483648", false, 0}, {"42a", false, 0},
      {"", false, 0},               {"4 2", false, 0},            {"-", false, 0},
      {"+", false, 0},              {"4.0", false, 0},
  };
  for (const auto& c : cases) {
    TempWorkingDir dir;
    Write("S.csv", std::string(kAppearanceHeader) + "S,2026/12/01,10:00:00,1,6,3,12,1,2000,1000,3000,60,7,1,1,1,100,100,1," +
                       "100,100," + c.rt + ",3400,0\r\n");
    Report report;
    std::string error;
    ASSERT_TRUE(BuildReport(".", {}, report, error)) << c.rt << ": " << error;
    const auto& runs = report.results.runs;
    ASSERT_EQ(runs.size(), c.read ? 1u : 0u) << c.rt;
    if (c.read) {
      ASSERT_EQ(runs[0].rows.size(), 1u) << c.rt;
      EXPECT_EQ(runs[0].rows[0].RT, c.value) << c.rt;
    }
  }
}

}  // namespace
}  // namespace pyokoran
