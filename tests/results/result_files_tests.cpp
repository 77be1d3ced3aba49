#include "results/result_files.h"

#include <gtest/gtest.h>

#include <fstream>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/program.h"
#include "platform/fake/fake_platform.h"
#include "platform/file_system.h"
#include "results/folder_lock.h"
#include "results/rescued_runs.h"
#include "support/child_process.h"
#include "support/temp_working_dir.h"

namespace pyokoran {
namespace {

constexpr const char* kSummaryHeader =
    "Subject\tDate\tTime\tTgtPokko\tDstPokko\tHoles\tOrdered\tDur\tISI_1\tISI_2\tTmLimit\t"
    "RndSeed\tHit\tMiss\tCR\tFA\tScore\r\n";
const std::string kAppearanceHeader =
    "Subject,Date,Time,Trial,TgtPokko,DstPokko,Holes,Ordered,Dur,ISI_1,ISI_2,TmLimit,"
    "RndSeed,Pokko,Tgt,Hole,Hole_X,Hole_Y,Resp,Resp_X,Resp_Y,RT,TotalRT,Error\r\n";
constexpr const char* kCannotOpen = "データファイルを開くことができません";
// "被験者01" in code page 932.
constexpr const char* kJapaneseSubject = "\x94\xED\x8C\xB1\x8E\xD2" "01";

std::string Golden(const std::string& name) {
  return TempWorkingDir::Read(std::string(PYOKORAN_SOURCE_DIR) + "/tests/results/golden/" +
                              name);
}

std::string WithoutFirstLine(const std::string& text) {
  return text.substr(text.find("\r\n") + 2);
}

bool Exists(const std::string& name) {
  struct stat st {};
  return lstat(name.c_str(), &st) == 0;
}

// A completed run of the default subject at 2014/05/07 13:05:09 local time, with one
// appearance of each kind in the log.
class ResultFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "JST-9", 1);
    tzset();
    platform.now_seconds = 1399435509;
    p.effective_seed = 4711;
    p.scheduler.counters = {25, 4, 30, 2};
    TrialLog& log = p.scheduler.log;
    log.count = 4;
    log.records[0] = {1, 1, 1, 5, 448, 320, 1, 452, 318, 623, 1873, 0};  // Hit
    log.records[1] = {2, 7, 0, 2, 320, 192, 1, 330, 200, 540, 2950, 1};  // FA
    log.records[2] = {3, 3, 1, 11, 704, 576, 0, 0, 0, 0, 0, 1};          // Miss
    log.records[3] = {4, 8, 0, 9, 448, 576, 0, 0, 0, 0, 0, 0};           // CR
  }

  // The second run of the same subject, 75 s later, with other holes and a clock seed.
  void PrepareSecondRun() {
    platform.now_seconds += 75;
    p.settings.n_holes = 15;
    p.settings.flag_ordered = 0;
    p.effective_seed = int32_t(3000000000u);
    p.scheduler.counters = {2, 9, 11, 5};
    p.scheduler.log.count = 1;
    p.scheduler.log.records[0] = {1, 2, 0, 14, 900, 640, 1, 905, 650, 377, 59120, 1};
  }

  void GiveStimuli() {
    p.stimuli.target_sound = std::make_unique<std::vector<uint8_t>>(16);
    p.stimuli.distractor_sound = std::make_unique<std::vector<uint8_t>>(16);
    p.display.surfaces.slots.resize(3);
  }
  void ExpectStimuliReleased() {
    EXPECT_EQ(p.stimuli.target_sound, nullptr);
    EXPECT_EQ(p.stimuli.distractor_sound, nullptr);
    EXPECT_EQ(p.display.surfaces.count(), 0);
  }

  TempWorkingDir dir;
  FakePlatform platform;
  std::unique_ptr<Program> program = std::make_unique<Program>(platform);
  Program& p = *program;
};

TEST_F(ResultFilesTest, FirstRunCreatesBothFilesAndSecondRunAppendsWithoutHeader) {
  GiveStimuli();
  EXPECT_EQ(WriteResultFiles(p, 1), 1);
  ExpectStimuliReleased();
  EXPECT_EQ(TempWorkingDir::Read(kSummaryFileName), Golden("summary_first.txt"));
  EXPECT_EQ(TempWorkingDir::Read("SBJ0000.csv"), Golden("SBJ0000_first.csv"));

  PrepareSecondRun();
  EXPECT_EQ(WriteResultFiles(p, 1), 1);
  EXPECT_EQ(TempWorkingDir::Read(kSummaryFileName), Golden("summary_second.txt"));
  EXPECT_EQ(TempWorkingDir::Read("SBJ0000.csv"), Golden("SBJ0000_second.csv"));
  EXPECT_TRUE(platform.messages.empty());
}

TEST_F(ResultFilesTest, AbortedRunReleasesStimuliAndWritesNothing) {
  GiveStimuli();
  EXPECT_EQ(WriteResultFiles(p, 0), 1);
  ExpectStimuliReleased();
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  EXPECT_TRUE(platform.messages.empty());
}

TEST_F(ResultFilesTest, ExistingEmptyFilesGetNoHeader) {
  TempWorkingDir::Write(kSummaryFileName, "");
  TempWorkingDir::Write("SBJ0000.csv", "");
  EXPECT_EQ(WriteResultFiles(p, 1), 1);
  EXPECT_EQ(TempWorkingDir::Read(kSummaryFileName), WithoutFirstLine(Golden("summary_first.txt")));
  EXPECT_EQ(TempWorkingDir::Read("SBJ0000.csv"), WithoutFirstLine(Golden("SBJ0000_first.csv")));
}

// One completed run with a changed subject, clock or log; the summary holds the header and
// summary_line, the appearance file is named csv_name and holds the header and rows.
struct RunCase {
  const char* name;
  std::string subject;
  int64_t now_seconds;
  int32_t log_count;
  std::string summary_line;
  std::string csv_name;
  int rows;
  friend std::ostream& operator<<(std::ostream& os, const RunCase& c) { return os << c.name; }
};

class ResultFilesRunTest : public ResultFilesTest,
                           public ::testing::WithParamInterface<RunCase> {};

TEST_P(ResultFilesRunTest, WritesSummaryLineAndNamedAppearanceFile) {
  const RunCase& c = GetParam();
  p.settings.subject = c.subject;
  platform.now_seconds = c.now_seconds;
  p.scheduler.log.count = c.log_count;
  EXPECT_EQ(WriteResultFiles(p, 1), 1);
  EXPECT_EQ(TempWorkingDir::Read(kSummaryFileName), kSummaryHeader + c.summary_line);
  const std::string csv = TempWorkingDir::Read(c.csv_name);
  ASSERT_NE(csv, "<missing>") << c.csv_name;
  EXPECT_EQ(csv.substr(0, csv.find("\r\n") + 2), kAppearanceHeader);
  if (c.rows > 0) {
    EXPECT_EQ(csv.compare(kAppearanceHeader.size(), c.subject.size() + 1, c.subject + ","), 0)
        << "rows start with the subject's bytes";
  }
  size_t lines = 0;
  for (size_t at = csv.find("\r\n"); at != std::string::npos; at = csv.find("\r\n", at + 2)) {
    ++lines;
  }
  EXPECT_EQ(lines, size_t(1 + c.rows));
}

const std::string kCounts = "\t6\t3\t12\t1\t2000\t1000\t3000\t60\t4711\t25\t4\t30\t2\t23\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, ResultFilesRunTest,
    ::testing::Values(
        RunCase{"JapaneseSubjectNamesFileInUtf8", kJapaneseSubject, 1399435509, 4,
                std::string(kJapaneseSubject) + "\t2014/05/07\t13:05:09" + kCounts,
                "被験者01.csv", 4},
        RunCase{"SubjectNotCp932KeepsItsBytes", "A\xFF", 1399435509, 4,
                "A\xFF\t2014/05/07\t13:05:09" + kCounts, "A\xFF.csv", 4},
        RunCase{"NothingLoggedGivesHeaderOnly", "A01", 1399435509, 0,
                "A01\t2014/05/07\t13:05:09" + kCounts, "A01.csv", 0},
        RunCase{"LocalTimeUnknown", "A01", INT64_MAX, 4,
                "A01\t0000/00/00\t-1:-1:-1" + kCounts, "A01.csv", 4}),
    [](const auto& info) { return std::string(info.param.name); });

// A run whose files cannot be opened or written: one message, result 0, no appearance file
// made, and the summary file as `summary` says afterwards ("" not created, "-" not a file).
struct FailureCase {
  const char* name;
  std::function<void(Program&)> setup;
  std::string summary;
  bool needs_permissions = false;  // root ignores folder permissions
  std::string file = kSummaryFileName;  // the file the message names
  friend std::ostream& operator<<(std::ostream& os, const FailureCase& c) {
    return os << c.name;
  }
};

class ResultFilesFailureTest : public ResultFilesTest,
                               public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ResultFilesFailureTest, ShowsMessageAndStops) {
  const FailureCase& c = GetParam();
  if (c.needs_permissions && geteuid() == 0) {
    // Root ignores folder permissions: the run is written by an unprivileged child that owns
    // the folder, and says through its exit status whether it got the one message.
    const ChildUser user = UnprivilegedUser();
    ASSERT_EQ(chown(dir.path().c_str(), user.uid, user.gid), 0);
    const int status = RunInChild(
        [&] {
          c.setup(p);
          const bool stopped = WriteResultFiles(p, 1) == 0 && platform.messages.size() == 1 &&
                               platform.messages[0].text.rfind(kCannotOpen, 0) == 0;
          return stopped ? 0 : 1;
        },
        std::chrono::seconds(20), true);
    chmod(dir.path().c_str(), 0700);
    ASSERT_EQ(chown(dir.path().c_str(), 0, 0), 0);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(Exists(kSummaryFileName));
    EXPECT_FALSE(Exists("SBJ0000.csv"));
    return;
  }
  c.setup(p);
  EXPECT_EQ(WriteResultFiles(p, 1), 0);
  chmod(dir.path().c_str(), 0700);
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text, CannotOpenMessage(c.file));
  EXPECT_EQ(platform.messages[0].caption, kApplicationTitle);
  EXPECT_EQ(platform.messages[0].icon, MessageIcon::Exclamation);
  if (c.summary.empty()) {
    EXPECT_FALSE(Exists(kSummaryFileName));
  } else if (c.summary != "-") {
    EXPECT_EQ(TempWorkingDir::Read(kSummaryFileName), c.summary);
  }
  if (!std::filesystem::is_symlink("SBJ0000.csv")) {
    EXPECT_FALSE(Exists("SBJ0000.csv"));
  }
}

const std::string kFirstSummary = Golden("summary_first.txt");

INSTANTIATE_TEST_SUITE_P(
    Cases, ResultFilesFailureTest,
    ::testing::Values(
        // A run lands in every file or in none: the summary line is not left behind.
        FailureCase{"SubjectWithSlash",
                    [](Program& p) { p.settings.subject = "SBJ/0000"; }, "", false,
                    "SBJ/0000.csv"},
        FailureCase{"SummaryIsFolder",
                    [](Program&) { std::filesystem::create_directory(kSummaryFileName); }, "-"},
        FailureCase{"SummaryDiskFull",
                    [](Program&) {
                      std::filesystem::create_symlink("/dev/full", kSummaryFileName);
                    },
                    "-"},
        FailureCase{"AppearanceIsDevice",
                    [](Program&) { std::filesystem::create_symlink("/dev/full", "SBJ0000.csv"); },
                    "", false, "SBJ0000.csv"},
        FailureCase{"ReadOnlyFolder",
                    [](Program&) { chmod(".", 0500); }, "", true}),
    [](const auto& info) { return std::string(info.param.name); });

// A write that fails half-way (here at the file size limit) leaves no half line behind: an
// existing file is put back as it was, a new one is removed so the next run writes its header.
// When it is the appearance file that fails, the summary line already written is taken back.
TEST_F(ResultFilesTest, FailedWriteLeavesNoHalfLine) {
  const std::string existing = kSummaryHeader + std::string("x\t1\r\n");
  // With this summary the limit falls in the appearance file's rows.
  const size_t rows_limit = Golden("SBJ0000_first.csv").size() - 1;
  const std::string longer = existing + std::string(rows_limit - 100 - existing.size(), 'y') + "\r\n";
  for (const std::string& before : {existing, std::string("<missing>"), longer}) {
    SCOPED_TRACE(before);
    std::filesystem::remove(kSummaryFileName);
    if (before != "<missing>") TempWorkingDir::Write(kSummaryFileName, before);
    platform.messages.clear();
    rlimit old_limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    rlimit limit = old_limit;
    // Shorter than the summary's new line, or (after the longer summary) than the rows.
    limit.rlim_cur = before == longer ? rows_limit : existing.size() + 20;
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const int result = WriteResultFiles(p, 1);
    setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(TempWorkingDir::Read(kSummaryFileName), before);
    EXPECT_FALSE(Exists("SBJ0000.csv"));
  }
}

// A run killed while it appends: a child process writes a run's files and dies at a fixed
// byte (the file size limit stops it with SIGXFSZ there, as a kill or a power cut would).
// Appended to files of an earlier run, it tears them: the next run repairs the torn file,
// keeps the cut bytes in <name>.partial, says so, and appends; no row is ever joined to a
// torn one. Making new files, it leaves only their temporary names behind.
struct KillCase {
  const char* name;
  bool onto_first_run;  // the child writes the second run after a whole first one
  size_t kill_at;       // file size at which the child dies (the summary is written first)
  friend std::ostream& operator<<(std::ostream& os, const KillCase& c) { return os << c.name; }
};

class ResultFilesKillTest : public ResultFilesTest,
                            public ::testing::WithParamInterface<KillCase> {};

// What the next run leaves in a file that the killed run left as `torn` (or did not make);
// first and second are the file after one and after two complete runs.
struct AfterRepair {
  std::string file, partial;
  bool repaired = false;
};
AfterRepair ExpectedAfterSecondRun(const std::string& torn, const std::string& header,
                                   const std::string& first, const std::string& second) {
  const std::string added = second.substr(first.size());
  if (torn == "<missing>") return {header + added, "<missing>", false};
  if (torn.empty() || torn.back() == '\n') return {torn + added, "<missing>", false};
  const size_t complete = torn.rfind('\n') == std::string::npos ? 0 : torn.rfind('\n') + 1;
  const std::string kept = torn.substr(0, complete);
  return {(kept.empty() ? header : kept) + added, torn.substr(complete) + "\r\n", true};
}

TEST_P(ResultFilesKillTest, NextRunRepairsTheTornFile) {
  const KillCase c = GetParam();
  if (c.onto_first_run) {
    ASSERT_EQ(WriteResultFiles(p, 1), 1);
    PrepareSecondRun();
  }
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit none{0, 0}, size{c.kill_at, c.kill_at};
    setrlimit(RLIMIT_CORE, &none);
    std::signal(SIGXFSZ, SIG_DFL);
    setrlimit(RLIMIT_FSIZE, &size);
    WriteResultFiles(p, 1);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "the child was not killed";

  const std::string files[2] = {kSummaryFileName, "SBJ0000.csv"};
  const std::string headers[2] = {kSummaryHeader, kAppearanceHeader};
  const std::string firsts[2] = {Golden("summary_first.txt"), Golden("SBJ0000_first.csv")};
  const std::string seconds[2] = {Golden("summary_second.txt"), Golden("SBJ0000_second.csv")};
  if (!c.onto_first_run) {
    // Nothing but a temporary name: the next run makes the files as if the folder were new.
    EXPECT_EQ(TempWorkingDir::Read(kSummaryFileName), "<missing>");
    EXPECT_EQ(WriteResultFiles(p, 1), 1);
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(TempWorkingDir::Read(files[i]), firsts[i]);
      EXPECT_EQ(TempWorkingDir::Read(files[i] + ".new"), "<missing>");
    }
    EXPECT_TRUE(platform.messages.empty());
    return;
  }
  AfterRepair expected[2];
  int repairs = 0;
  for (int i = 0; i < 2; ++i) {
    expected[i] =
        ExpectedAfterSecondRun(TempWorkingDir::Read(files[i]), headers[i], firsts[i], seconds[i]);
    repairs += expected[i].repaired;
  }
  ASSERT_GT(repairs, 0) << "the kill left no torn line";

  EXPECT_EQ(WriteResultFiles(p, 1), 1);
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(files[i]);
    EXPECT_EQ(TempWorkingDir::Read(files[i]), expected[i].file);
    EXPECT_EQ(TempWorkingDir::Read(files[i] + ".partial"), expected[i].partial);
  }
  ASSERT_EQ(platform.messages.size(), size_t(repairs));
  for (int i = 0, m = 0; i < 2; ++i) {
    if (expected[i].repaired) {
      EXPECT_EQ(platform.messages[size_t(m++)].text, RepairedMessage(files[i]));
    }
  }
}

// Sizes: the summary holds 178 bytes after the first run and 258 after the second, the
// appearance file 529 and 636.
INSTANTIATE_TEST_SUITE_P(
    Cases, ResultFilesKillTest,
    ::testing::Values(KillCase{"MakingTheSummary", false, 10},
                      KillCase{"InSummaryLine", true, 190},
                      KillCase{"SummaryBeforeLastLineFeed", true, 257},
                      // The summary is whole; the appearance file dies at its new row's start.
                      KillCase{"AppearanceRowAfterWholeSummary", true, 530},
                      KillCase{"InAppearanceRow", true, 580},
                      KillCase{"AppearanceBeforeLastLineFeed", true, 635}),
    [](const auto& info) { return std::string(info.param.name); });

// A torn tail already kept in <name>.partial stays; every cut goes on a line of its own
// after it, also when the kept one lacks its line end (as an older version wrote it).
TEST_F(ResultFilesTest, RepairAppendsToAnExistingPartialFile) {
  const std::string partial = kSummaryFileName + std::string(".partial");
  TempWorkingDir::Write(kSummaryFileName, kSummaryHeader + std::string("torn\t2014"));
  TempWorkingDir::Write(partial, "older");
  EXPECT_EQ(WriteResultFiles(p, 1), 1);
  EXPECT_EQ(TempWorkingDir::Read(kSummaryFileName), Golden("summary_first.txt"));
  EXPECT_EQ(TempWorkingDir::Read(partial), "older\r\ntorn\t2014\r\n");
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text, RepairedMessage(kSummaryFileName));
  // A second tail, cut between CR and LF, stays apart from the first.
  {
    std::ofstream f(kSummaryFileName, std::ios::binary | std::ios::app);
    f << "again\r";
  }
  EXPECT_EQ(WriteResultFiles(p, 1), 1);
  EXPECT_EQ(TempWorkingDir::Read(partial), "older\r\ntorn\t2014\r\nagain\r\r\n");
}

// What a program killed inside the append leaves for the next one: a new file still under
// its temporary name is replaced; a tail kept in .partial but not yet cut off is not kept twice.
TEST_F(ResultFilesTest, AKillInsideTheAppendLeavesNothingTwice) {
  const std::string partial = kSummaryFileName + std::string(".partial");
  TempWorkingDir::Write(kSummaryFileName, kSummaryHeader + std::string("torn\t2014"));
  TempWorkingDir::Write(partial, "older\r\ntorn\t2014\r\n");
  TempWorkingDir::Write("SBJ0000.csv.new", "SBJ0000,2014/05/07,13:0");
  EXPECT_EQ(WriteResultFiles(p, 1), 1);
  EXPECT_EQ(TempWorkingDir::Read(kSummaryFileName), Golden("summary_first.txt"));
  EXPECT_EQ(TempWorkingDir::Read("SBJ0000.csv"), Golden("SBJ0000_first.csv"));
  EXPECT_EQ(TempWorkingDir::Read(partial), "older\r\ntorn\t2014\r\n");
  EXPECT_FALSE(std::filesystem::exists("SBJ0000.csv.new"));
}

// A repair stays done, and is reported, when the append after it fails.
TEST_F(ResultFilesTest, RepairIsReportedWhenTheAppendThenFails) {
  TempWorkingDir::Write(kSummaryFileName, kSummaryHeader + std::string("torn\t2014"));
  rlimit old_limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  rlimit limit = old_limit;
  limit.rlim_cur = std::string(kSummaryHeader).size() + 20;
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const int result = WriteResultFiles(p, 1);
  setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_EQ(result, 0);
  EXPECT_EQ(TempWorkingDir::Read(kSummaryFileName), kSummaryHeader);
  EXPECT_EQ(TempWorkingDir::Read(kSummaryFileName + std::string(".partial")), "torn\t2014\r\n");
  ASSERT_EQ(platform.messages.size(), 2u);
  EXPECT_EQ(platform.messages[0].text, RepairedMessage(kSummaryFileName));
  EXPECT_EQ(platform.messages[1].text, CannotOpenMessage(kSummaryFileName));
}

}  // namespace
}  // namespace pyokoran

namespace pyokoran {
namespace {

// A file that cannot be opened (here a folder in its place, as a file held by a spreadsheet
// is on Windows): the user is asked, and 再試行 after the file is free writes the run; 中止
// keeps the run in the rescue folder, which the next run puts in place before its own.
TEST_F(ResultFilesTest, AFileThatCannotBeOpenedIsTriedAgainOrItsRunKept) {
  const std::string rescue = dir.path() + "/rescued";
  std::filesystem::create_directory(rescue);
  p.rescue_folder = rescue;
  std::filesystem::create_directory("SBJ0000.csv");
  platform.retry_answers = {true};
  platform.on_message = [](const std::string&, const std::string&) {
    std::filesystem::remove("SBJ0000.csv");
  };
  EXPECT_EQ(WriteResultFiles(p, 1), 1);
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_TRUE(platform.messages[0].retry);
  EXPECT_EQ(platform.messages[0].text, CannotWriteRetryMessage("SBJ0000.csv"));
  EXPECT_EQ(TempWorkingDir::Read(kSummaryFileName), Golden("summary_first.txt"));
  EXPECT_EQ(TempWorkingDir::Read("SBJ0000.csv"), Golden("SBJ0000_first.csv"));

  // Given up: nothing in the folder, everything in one rescue file.
  std::filesystem::remove_all(kSummaryFileName);
  for (const char* name : {"SBJ0000.csv", "SBJ0000_timing.csv", "ピョコラン_timing.txt"}) {
    std::filesystem::remove(name);
  }
  platform.messages.clear();
  platform.on_message = nullptr;
  std::filesystem::create_directory("SBJ0000.csv");
  EXPECT_EQ(WriteResultFiles(p, 1), 0);
  ASSERT_EQ(platform.messages.size(), 2u);
  EXPECT_FALSE(Exists(kSummaryFileName));
  std::vector<std::string> kept;
  for (const auto& entry : std::filesystem::directory_iterator(rescue)) kept.push_back(entry.path().string());
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(platform.messages[1].text, RescuedMessage(kept[0]));

  // The next run, with the file free again: the kept run first, then its own.
  std::filesystem::remove("SBJ0000.csv");
  platform.messages.clear();
  PrepareSecondRun();
  EXPECT_EQ(WriteResultFiles(p, 1), 1);
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text, PutInPlaceMessage(kept[0]));
  EXPECT_EQ(TempWorkingDir::Read(kSummaryFileName), Golden("summary_second.txt"));
  EXPECT_EQ(TempWorkingDir::Read("SBJ0000.csv"), Golden("SBJ0000_second.csv"));
  EXPECT_TRUE(std::filesystem::is_empty(rescue));
}

// Another program holding the folder's lock for the whole wait: the user is told the folder,
// and the run is not written (here without a rescue folder).
TEST_F(ResultFilesTest, AFolderHeldByAnotherProgramIsTold) {
  p.lock_wait_ms = 50;
  const int status = RunInChild(
      [&] {
        const pid_t holder = fork();
        if (holder == 0) {
          const ResultFolderLock lock(true);
          sleep(2);
          _exit(0);
        }
        usleep(300000);
        const int written = WriteResultFiles(p, 1);
        kill(holder, SIGKILL);
        waitpid(holder, nullptr, 0);
        return written == 0 && platform.messages.size() == 1 &&
                       platform.messages[0].text == FolderBusyMessage(CurrentFolderPath()) &&
                       !Exists(kSummaryFileName)
                   ? 0
                   : 1;
      },
      std::chrono::seconds(20));
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace pyokoran
