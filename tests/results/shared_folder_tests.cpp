// Several processes appending runs into one working folder at once (shared_folder_writer),
// with writes slowed to a share's pace, cut short by the file size limit, and processes
// killed at random; afterwards the folder is checked line by line.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "results/folder_lock.h"
#include "results/result_files.h"
#include "results/run_completeness.h"
#include "support/temp_working_dir.h"

namespace pyokoran {
namespace {

namespace fs = std::filesystem;

struct Child {
  pid_t pid = -1;
  std::string output;  // the file its standard output goes to
};

// Starts the writer tool with args, its output into out; file_limit > 0 caps every file it
// writes at that many bytes (writes beyond fail, as on a full disk).
Child Start(const std::vector<std::string>& args, const std::string& out, bool slow,
            rlim_t file_limit = 0) {
  Child child{-1, out};
  child.pid = fork();
  if (child.pid == 0) {
    if (!freopen(out.c_str(), "w", stdout)) _exit(120);
    if (slow) setenv("PYOKORAN_SLOW_WRITES", "1", 1);
    if (file_limit > 0) {
      signal(SIGXFSZ, SIG_IGN);
      rlimit limit{file_limit, file_limit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<char*> argv;
    std::string tool = PYOKORAN_SHARED_FOLDER_WRITER;
    argv.push_back(tool.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(tool.c_str(), argv.data());
    _exit(121);
  }
  return child;
}

// The exit status, or 128 + the signal that ended it.
int Wait(const Child& child) {
  int status = 0;
  waitpid(child.pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class SharedFolderTest : public ::testing::Test {
 protected:
  // Every writer's report of its runs, in one file for the check.
  std::string Acknowledged(const std::vector<Child>& children) {
    std::string all;
    for (const Child& c : children) all += TempWorkingDir::Read(c.output);
    TempWorkingDir::Write(base_ + "/acknowledged.txt", all);
    return base_ + "/acknowledged.txt";
  }
  // The check's verdict; its report goes into the test's output.
  int Verify(int writers, int runs, const std::string& acknowledged) {
    const Child c = Start({"verify", folder_, std::to_string(writers), std::to_string(runs), acknowledged},
                          base_ + "/verify.txt", false);
    const int status = Wait(c);
    std::printf("%s", TempWorkingDir::Read(c.output).c_str());
    return status;
  }

  TempWorkingDir dir_;
  std::string base_ = fs::current_path().string();
  std::string folder_ = base_ + "/shared";
  std::string rescue_ = base_ + "/rescued";
  void SetUp() override {
    fs::create_directory(folder_);
    fs::create_directory(rescue_);
  }
};

// Four writers and a start-up check at once, every write in small slow pieces: every run is
// whole in every file, headers first, the ranking of each writer names its own run, and the
// start-up check never calls a run incomplete that another writer was still writing.
TEST_F(SharedFolderTest, FourSlowWritersKeepEveryRunWhole) {
  constexpr int kWriters = 4, kRuns = 24;
  std::vector<Child> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.push_back(Start({"write", folder_, std::to_string(w), std::to_string(kRuns)},
                            base_ + "/w" + std::to_string(w) + ".txt", true));
  }
  const Child check = Start({"check", folder_, "3"}, base_ + "/check.txt", false);
  for (const Child& c : writers) EXPECT_EQ(Wait(c), 0) << "a writer's ranking named another run";
  EXPECT_EQ(Wait(check), 0) << TempWorkingDir::Read(check.output);
  const std::string acknowledged = Acknowledged(writers);
  EXPECT_EQ(Verify(kWriters, kRuns, acknowledged), 0);
  EXPECT_FALSE(fs::exists(folder_ + "/" + kIncompleteRunsFileName));
  EXPECT_FALSE(fs::exists(folder_ + "/" + std::string(kSummaryFileName) + kPartialSuffix));
}

// Writers killed at random moments, one whose files hit the size limit (its runs go to the
// rescue folder), and torn tails planted before they start: a last writer repairs and puts
// the rescued runs in place. No run that was written or rescued is lost, none is garbled or
// twice, and each torn tail is kept once.
TEST_F(SharedFolderTest, KillsCutWritesAndTornTailsLoseNoRun) {
  constexpr int kWriters = 5, kRuns = 30;  // writer 4 only repairs
  // Torn tails from an earlier crash, in the summary and a subject file.
  TempWorkingDir::Write(folder_ + "/" + kSummaryFileName,
                        "Subject\tDate\tTime\tTgtPokko\tDstPokko\tHoles\tOrdered\tDur\tISI_1\tISI_2\t"
                        "TmLimit\tRndSeed\tHit\tMiss\tCR\tFA\tScore\r\nS\t2023/11/1");
  std::mt19937 random(20261211);
  std::vector<Child> writers;
  for (int w = 0; w < 3; ++w) {
    writers.push_back(Start({"write", folder_, std::to_string(w), std::to_string(kRuns), rescue_},
                            base_ + "/w" + std::to_string(w) + ".txt", true));
  }
  // Writer 3 cannot write beyond 3 KiB in any file: from then on its runs are rescued.
  writers.push_back(Start({"write", folder_, "3", std::to_string(kRuns), rescue_},
                          base_ + "/w3.txt", false, 3 * 1024));
  // Writers 0 to 2 are killed at random moments.
  for (int w = 0; w < 3; ++w) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 150));
    kill(writers[size_t(w)].pid, SIGKILL);
  }
  for (const Child& c : writers) Wait(c);
  // The last writer repairs what the kills tore and puts the rescued runs in place.
  writers.push_back(Start({"write", folder_, "4", "3", rescue_}, base_ + "/w4.txt", false));
  EXPECT_EQ(Wait(writers.back()), 0);
  const std::string acknowledged = Acknowledged(writers);
  EXPECT_NE(TempWorkingDir::Read(acknowledged).find("rescued 3 "), std::string::npos)
      << "the size limit rescued no run";
  EXPECT_TRUE(fs::is_empty(rescue_)) << "rescued runs were not put in place";
  EXPECT_EQ(Verify(kWriters, kRuns, acknowledged), 0);
  EXPECT_EQ(TempWorkingDir::Read(folder_ + "/" + kSummaryFileName + kPartialSuffix).find("S\t2023/11/1\r\n"), 0u);
}

}  // namespace
}  // namespace pyokoran
