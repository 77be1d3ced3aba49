// What sharing a working folder costs a run: the folder's lock taken and released alone, and
// a whole run's append (summary line, appearance rows and both timing files, 120 appearances)
// with the lock, in a temporary folder on this machine's disk. Prints min / median / max.
// Usage: folder_lock_bench [repetitions] [folder]   (default 500; a temporary folder)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/program.h"
#include "platform/fake/fake_platform.h"
#include "platform/file_system.h"
#include "results/folder_lock.h"
#include "results/result_files.h"

namespace {

using namespace pyokoran;
using Clock = std::chrono::steady_clock;

void Print(const char* what, std::vector<double>& us) {
  std::sort(us.begin(), us.end());
  std::printf("%-44s min %8.1f us   median %8.1f us   max %8.1f us   (%zu)\n", what, us.front(),
              us[us.size() / 2], us.back(), us.size());
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
  std::string folder = argc > 2 ? argv[2] : std::string();
  bool made = false;
  if (folder.empty()) {
    folder = (std::filesystem::temp_directory_path() / "folder_lock_bench_XXXXXX").string();
    if (!MakeTemporaryFolder(folder)) return 1;
    made = true;
  }
  if (!EnterFolder(folder)) return 1;

  std::vector<double> lock_us, run_us;
  for (int i = 0; i < repetitions; ++i) {
    const auto start = Clock::now();
    { const ResultFolderLock lock(true); }
    lock_us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }

  FakePlatform platform;
  auto program = std::make_unique<Program>(platform);
  Program& p = *program;
  p.scheduler.counters = {60, 20, 30, 10};
  p.scheduler.log.count = 120;
  for (int i = 0; i < 120; ++i) {
    p.scheduler.log.records[i] = {i + 1, 1 + i % 9, i % 2, 1 + i % 12, 448, 320, 1, 452, 318, 400 + i, 1000 * i, 0};
  }
  for (int i = 0; i < repetitions; ++i) {
    platform.now_seconds = 1700000000 + i;
    const auto start = Clock::now();
    if (WriteResultFiles(p, 1) != 1) {
      std::fprintf(stderr, "run %d was not written\n", i);
      return 1;
    }
    run_us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::printf("folder %s, %d repetitions\n", folder.c_str(), repetitions);
  Print("the folder's lock, taken and released", lock_us);
  Print("a run of 120 appearances appended whole", run_us);
  if (made) std::filesystem::remove_all(folder);
  return 0;
}
