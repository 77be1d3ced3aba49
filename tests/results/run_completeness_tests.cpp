#include "results/run_completeness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <ostream>

#include "app/program.h"
#include "platform/fake/fake_platform.h"
#include "results/result_files.h"
#include "support/temp_working_dir.h"
#include "timing/timing_files.h"
#include "support/system_support.h"

namespace pyokoran {
namespace {

const std::string kFiles[4] = {kSummaryFileName, "SBJ0000.csv", "SBJ0000_timing.csv",
                               kTimingSummaryFileName};

// Which of the four files (in the order they are appended to) hold the second run when a
// kill or a full disk stopped it, and which the check then names.
struct StateCase {
  const char* name;
  int appended;                       // files 0 .. appended - 1 hold the second run
  std::vector<std::string> missing;   // what the check names
  friend std::ostream& operator<<(std::ostream& os, const StateCase& c) { return os << c.name; }
};

class RunCompletenessTest : public ::testing::TestWithParam<StateCase> {
 protected:
  void SetUp() override {
    test::SetTimeZone("JST-9");
    // Two runs of three logged appearances, one after the other.
    p.scheduler.counters = {1, 1, 1, 0};
    p.scheduler.log.count = 3;
    p.scheduler.log.records[0] = {1, 1, 1, 5, 448, 320, 1, 452, 318, 623, 1873, 0};
    p.scheduler.log.records[1] = {2, 3, 1, 11, 704, 576, 0, 0, 0, 0, 0, 1};
    p.scheduler.log.records[2] = {3, 8, 0, 9, 448, 576, 0, 0, 0, 0, 0, 0};
    WriteRun();
    for (const std::string& f : kFiles) first_[f] = TempWorkingDir::Read(f);
    platform.now_seconds += 75;
    WriteRun();
    for (const std::string& f : kFiles) second_[f] = TempWorkingDir::Read(f);
  }
  void WriteRun() {
    ASSERT_EQ(WriteResultFiles(p, 1), 1);
  }

  TempWorkingDir dir_;
  FakePlatform platform;
  std::unique_ptr<Program> program = std::make_unique<Program>(platform);
  Program& p = *program;
  std::map<std::string, std::string> first_, second_;
};

TEST_P(RunCompletenessTest, TheNextStartNamesWhatIsMissingOnce) {
  const StateCase& c = GetParam();
  for (int i = 0; i < 4; ++i) {
    TempWorkingDir::Write(kFiles[i], i < c.appended ? second_[kFiles[i]] : first_[kFiles[i]]);
  }
  // Rows of a second run cut off within the appearance file, as a kill leaves them.
  if (c.appended == 1 && c.missing.size() == 4) {
    TempWorkingDir::Write(kFiles[1], second_[kFiles[1]].substr(0, second_[kFiles[1]].size() - 30));
  }
  IncompleteRun run;
  if (c.missing.empty()) {
    EXPECT_FALSE(CheckLastRunAtStart(run));
    EXPECT_EQ(TempWorkingDir::Read(kIncompleteRunsFileName), "<missing>");
    return;
  }
  ASSERT_TRUE(CheckLastRunAtStart(run));
  std::vector<std::string> expected = c.missing;
  if (expected.size() == 4) expected.erase(expected.begin());
  EXPECT_EQ(run.missing, expected);
  EXPECT_EQ(run.subject, "SBJ0000");
  const std::string message = IncompleteRunMessage(run);
  for (const std::string& f : expected) EXPECT_NE(message.find("\n" + f + "\n"), std::string::npos) << message;
  std::string line = "SBJ0000\t" + run.date + "\t" + run.time;
  for (const std::string& f : expected) line += "\t" + f;  // ASCII names: the same bytes
  if (expected.back() == kTimingSummaryFileName) {
    line = line.substr(0, line.rfind('\t')) + "\t\x83s\x83\x87\x83R\x83\x89\x83\x93_timing.txt";
  }
  EXPECT_EQ(TempWorkingDir::Read(kIncompleteRunsFileName),
            "Subject\tDate\tTime\tMissing\r\n" + line + "\r\n");
  // Told once.
  EXPECT_FALSE(CheckLastRunAtStart(run));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunCompletenessTest,
    ::testing::Values(
        StateCase{"Whole", 4, {}},
        StateCase{"KilledBeforeTheSummaryLine", 0, {}},
        StateCase{"KilledAfterTheSummaryLine", 1,
                  {"SBJ0000.csv", "SBJ0000_timing.csv", kTimingSummaryFileName}},
        StateCase{"KilledInTheAppearanceRows", 1,
                  {"", "SBJ0000.csv", "SBJ0000_timing.csv", kTimingSummaryFileName}},
        StateCase{"KilledAfterTheAppearanceRows", 2, {"SBJ0000_timing.csv", kTimingSummaryFileName}},
        StateCase{"KilledBeforeTheTimingLine", 3, {kTimingSummaryFileName}}),
    [](const auto& info) { return std::string(info.param.name); });

// A device in place of the appearance file: the run goes into none of the files, so there is
// nothing incomplete to record or to tell at the next start.
TEST(RunCompleteness, AFileThatCannotBeWrittenKeepsTheWholeRunOut) {
  if (!test::SystemHasSymlinks()) GTEST_SKIP() << "needs a link to the full device";
  TempWorkingDir dir;
  FakePlatform platform;
  auto program = std::make_unique<Program>(platform);
  program->scheduler.counters = {1, 0, 0, 0};
  program->scheduler.log.count = 1;
  program->scheduler.log.records[0] = {1, 1, 1, 5, 448, 320, 1, 452, 318, 623, 1873, 0};
  std::filesystem::create_symlink("/dev/full", "SBJ0000.csv");
  EXPECT_EQ(WriteResultFiles(*program, 1), 0);
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text, CannotOpenMessage("SBJ0000.csv"));
  for (const std::string& f : kFiles) {
    if (f != "SBJ0000.csv") {
      EXPECT_EQ(TempWorkingDir::Read(f), "<missing>") << f;
    }
  }
  EXPECT_EQ(TempWorkingDir::Read(kIncompleteRunsFileName), "<missing>");
  std::filesystem::remove("SBJ0000.csv");
  TempWorkingDir::Write("SBJ0000.csv", "x\r\n");
  IncompleteRun run;
  EXPECT_FALSE(CheckLastRunAtStart(run));
}

// The last run's subject naming a path (another folder, a server on Windows): nothing is
// looked up under it at start.
TEST(RunCompleteness, ASubjectNamingAPathIsNeverLookedUp) {
  TempWorkingDir dir;
  TempWorkingDir::Write(kSummaryFileName, "Subject\tDate\tTime\r\n..\\outside\\victim\t2026/12/01\t10:00:00"
                                          "\t6\t3\t12\t1\t2000\t1000\t3000\t60\t7\t1\t0\t0\t0\t1\r\n");
  TempWorkingDir::Write(kTimingSummaryFileName, "Subject\tDate\tTime\r\n");
  IncompleteRun run;
  EXPECT_FALSE(CheckLastRunAtStart(run));
  EXPECT_EQ(TempWorkingDir::Read(kIncompleteRunsFileName), "<missing>");
}

// Runs that lack only their timing summary line (kills after the other appends), anywhere
// in the folder: all named at the next start, the list bounded, and told once. A run from
// before the timing summary began is not one of them.
TEST(RunCompleteness, EveryRunWithoutItsTimingLineIsNamedOnce) {
  test::SetTimeZone("JST-9");
  TempWorkingDir dir;
  FakePlatform platform;
  auto program = std::make_unique<Program>(platform);
  program->scheduler.counters = {1, 0, 0, 0};
  program->scheduler.log.count = 1;
  program->scheduler.log.records[0] = {1, 1, 1, 5, 448, 320, 1, 452, 318, 623, 1873, 0};
  for (int run = 0; run < 14; ++run) {
    ASSERT_EQ(WriteResultFiles(*program, 1), 1);
    platform.now_seconds += 75;
  }
  // The timing summary keeps its first and last runs' lines; the summary gains an older run.
  const std::string timing = TempWorkingDir::Read(kTimingSummaryFileName);
  std::vector<std::string> lines;
  for (size_t start = 0, lf; (lf = timing.find('\n', start)) != std::string::npos; start = lf + 1)
    lines.push_back(timing.substr(start, lf + 1 - start));
  ASSERT_EQ(lines.size(), 15u);
  TempWorkingDir::Write(kTimingSummaryFileName, lines[0] + lines[1] + lines[14]);
  const std::string summary = TempWorkingDir::Read(kSummaryFileName);
  const size_t body = summary.find('\n') + 1;
  TempWorkingDir::Write(kSummaryFileName, summary.substr(0, body) +
                                               "SBJ0000\t2000/01/01\t10:00:00\t6\t3\t12\t1\t2000\t1000\t3000\t60\t7\t1\t0\t0\t0\t1\r\n" +
                                               summary.substr(body));
  IncompleteRun last;
  EXPECT_FALSE(CheckLastRunAtStart(last));
  std::vector<IncompleteRun> runs;
  size_t more = 0;
  ASSERT_TRUE(CheckRunsWithoutTimingLineAtStart(runs, more));
  ASSERT_EQ(runs.size(), kMaxToldRuns);
  EXPECT_EQ(more, 12 - kMaxToldRuns);
  EXPECT_EQ(runs[0].missing, std::vector<std::string>{kTimingSummaryFileName});
  const std::string message = RunsWithoutTimingLineMessage(runs, more);
  EXPECT_EQ(message.rfind("12 件の記録", 0), 0u) << message;
  EXPECT_NE(message.find("SBJ0000 " + runs[0].date + " " + runs[0].time), std::string::npos) << message;
  EXPECT_NE(message.find("ほか 2 件"), std::string::npos) << message;
  const std::string record = TempWorkingDir::Read(kIncompleteRunsFileName);
  EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 13) << record;
  EXPECT_EQ(record.find("2000/01/01"), std::string::npos);
  EXPECT_NE(record.find("\t" + runs[0].time + "\t\x83s\x83\x87\x83R\x83\x89\x83\x93_timing.txt\r\n"), std::string::npos)
      << record;
  // Told once.
  EXPECT_FALSE(CheckRunsWithoutTimingLineAtStart(runs, more));
}

}  // namespace
}  // namespace pyokoran
