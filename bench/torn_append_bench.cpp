// Kills a child process at random moments while it appends a full run (4999 appearance
// rows) to the result files, then appends the next run as the program would and checks that
// nothing was joined or lost: each file holds its old lines, the complete lines of the killed
// run and the next run's lines; the torn tail, if any, is in <name>.partial; one message per
// repaired file. Prints how the kills fell and the time per kill.
// Usage: torn_append_bench [kills] [folder]   (default 1000; a temporary folder under /tmp)
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "app/program.h"
#include "platform/fake/fake_platform.h"
#include "results/result_files.h"

namespace {

using namespace pyokoran;

std::string Read(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) return "<missing>";
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
void Write(const std::string& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary | std::ios::trunc) << bytes;
}

// The next run's messages and both files' state, from clean old files.
struct Files {
  std::string summary, appearance;
};
Files ReadFiles() { return {Read(kSummaryFileName), Read("SBJ0000.csv")}; }

void Reset(const Files& old) {
  Write(kSummaryFileName, old.summary);
  Write("SBJ0000.csv", old.appearance);
  std::remove((std::string(kSummaryFileName) + kPartialSuffix).c_str());
  std::remove((std::string("SBJ0000.csv") + kPartialSuffix).c_str());
}

// The big run in a child; returns the microseconds it took.
double RunChild(Program& program, int kill_after_us) {
  int ready[2];
  if (pipe(ready) != 0) std::exit(2);
  const pid_t child = fork();
  if (child < 0) std::exit(2);
  if (child == 0) {
    close(ready[0]);
    (void)!write(ready[1], "x", 1);
    WriteResultFiles(program, 1);
    _exit(0);
  }
  close(ready[1]);
  char x;
  (void)!read(ready[0], &x, 1);
  close(ready[0]);
  const auto start = std::chrono::steady_clock::now();
  if (kill_after_us >= 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(kill_after_us));
    kill(child, SIGKILL);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
      .count();
}

enum class Fell { Untouched, Torn, AtLineEnd, Complete };

// What the kill left in one file: old + a prefix of the run's text (else "garbage").
bool Classify(const std::string& now, const std::string& old, const std::string& run, Fell& fell,
              size_t& written) {
  if (now.size() < old.size() || now.compare(0, old.size(), old) != 0) return false;
  written = now.size() - old.size();
  if (written > run.size() || now.compare(old.size(), written, run, 0, written) != 0) return false;
  fell = written == 0             ? Fell::Untouched
         : written == run.size()  ? Fell::Complete
         : now.back() == '\n'     ? Fell::AtLineEnd
                                  : Fell::Torn;
  return true;
}

// After the next run: old + the complete lines of the killed run + the next run; the torn
// tail in the side file.
bool Verify(const std::string& name, const std::string& old, const std::string& run,
            size_t written, const std::string& next, std::string& why) {
  const std::string left = run.substr(0, written);
  const size_t lf = left.rfind('\n');
  const size_t complete = lf == std::string::npos ? 0 : lf + 1;
  const std::string expected = old + left.substr(0, complete) + next;
  const std::string partial = complete == written ? "<missing>" : left.substr(complete) + "\r\n";
  if (Read(name) != expected) {
    why = name + " is not old + complete lines + next run";
    return false;
  }
  if (Read(name + kPartialSuffix) != partial) {
    why = name + kPartialSuffix + " does not hold the torn tail";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int kills = argc > 1 ? std::atoi(argv[1]) : 1000;
  std::string folder = argc > 2 ? argv[2] : "";
  if (folder.empty()) {
    char pattern[] = "/tmp/pyokoran-torn-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 2;
    folder = pattern;
  }
  if (chdir(folder.c_str()) != 0) {
    std::perror(folder.c_str());
    return 2;
  }

  FakePlatform platform;
  auto program = std::make_unique<Program>(platform);
  Program& p = *program;
  p.effective_seed = 4711;
  p.scheduler.counters = {25, 4, 30, 2};
  auto big_run = [&p] {
    p.scheduler.log.count = kLogCapacity;
    for (int i = 0; i < kLogCapacity; ++i) {
      p.scheduler.log.records[i] = {i % 9 + 1, i % 2, i % 2, i % 12 + 1, 448, 320, 1,
                                    452,       318,   623,   1873 + i,   i % 3 == 0};
    }
  };
  auto next_run = [&p] {
    p.scheduler.log.count = 1;
    p.scheduler.log.records[0] = {1, 2, 0, 14, 900, 640, 1, 905, 650, 377, 59120, 1};
  };

  // The old files, the killed run's text and the next run's text, from complete runs.
  p.scheduler.log.count = 1;
  WriteResultFiles(p, 1);
  const Files old = ReadFiles();
  big_run();
  double full_us[5];
  for (double& us : full_us) {
    Reset(old);
    us = RunChild(p, -1);
  }
  const Files after_big = ReadFiles();
  next_run();
  WriteResultFiles(p, 1);
  const Files after_next = ReadFiles();
  const Files run{after_big.summary.substr(old.summary.size()),
                  after_big.appearance.substr(old.appearance.size())};
  const Files next{after_next.summary.substr(after_big.summary.size()),
                   after_next.appearance.substr(after_big.appearance.size())};
  std::sort(full_us, full_us + 5);
  const double median_us = full_us[2];

  // Kill moments: the first fifth spread evenly on a log scale from 20 us to twice a whole
  // append; the rest steered to the moment the rows are written, which the syncs around it
  // make a small part of the whole: a little later after a kill that came before the rows,
  // earlier after one that came after them, with a spread of +-400 us.
  std::mt19937 random(12345);
  std::uniform_real_distribution<double> scale(std::log(20.0), std::log(2 * median_us));
  std::uniform_real_distribution<double> spread(-400.0, 400.0);
  double rows_at_us = median_us / 2;
  int fell[2][4] = {};
  int failures = 0, messages_wrong = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int k = 0; k < kills; ++k) {
    Reset(old);
    big_run();
    const bool steered = k >= kills / 5;
    RunChild(p, int(steered ? std::max(0.0, rows_at_us + spread(random))
                            : std::exp(scale(random))));
    const Files now = ReadFiles();
    Fell f[2];
    size_t written[2];
    if (!Classify(now.summary, old.summary, run.summary, f[0], written[0]) ||
        !Classify(now.appearance, old.appearance, run.appearance, f[1], written[1])) {
      std::printf("kill %d: a file holds bytes the run did not write\n", k);
      ++failures;
      continue;
    }
    ++fell[0][int(f[0])];
    ++fell[1][int(f[1])];
    if (f[1] == Fell::Untouched) rows_at_us *= 1.03;
    if (f[1] == Fell::Complete) rows_at_us *= 0.97;

    next_run();
    platform.messages.clear();
    if (WriteResultFiles(p, 1) != 1) {
      std::printf("kill %d: the next run could not write\n", k);
      ++failures;
      continue;
    }
    std::string why;
    if (!Verify(kSummaryFileName, old.summary, run.summary, written[0], next.summary, why) ||
        !Verify("SBJ0000.csv", old.appearance, run.appearance, written[1], next.appearance,
                why)) {
      std::printf("kill %d: %s\n", k, why.c_str());
      ++failures;
    }
    const size_t torn = size_t(f[0] == Fell::Torn) + size_t(f[1] == Fell::Torn);
    if (platform.messages.size() != torn) ++messages_wrong;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  Reset(old);
  std::remove(kSummaryFileName);
  std::remove("SBJ0000.csv");
  if (argc <= 2 && chdir("/") == 0) rmdir(folder.c_str());

  std::printf("%d kills of a child appending %zu + %zu bytes (whole append %.0f us median)\n",
              kills, run.summary.size(), run.appearance.size(), median_us);
  const char* names[2] = {"summary file   ", "appearance file"};
  for (int i = 0; i < 2; ++i) {
    std::printf("  %s: untouched %4d, torn %4d, cut at a line end %4d, complete %4d\n",
                names[i], fell[i][0], fell[i][1], fell[i][2], fell[i][3]);
  }
  std::printf("  next run wrong: %d, repair messages wrong: %d (goal: 0 and 0)\n", failures,
              messages_wrong);
  std::printf("  %.1f ms per kill and check\n", seconds * 1000 / kills);
  return failures == 0 && messages_wrong == 0 ? 0 : 1;
}
