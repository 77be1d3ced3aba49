// How long the ranking takes before the result dialog opens: reading the summary file,
// ranking it and building the dialog's lines (goal: 100 000 runs in under 0.2 s).
// Usage: rank_bench [runs]   (default 100000; works in a temporary folder)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "app/program.h"
#include "platform/fake/fake_platform.h"
#include "results/result_files.h"
#include "results/result_viewer.h"

int main(int argc, char** argv) {
  using namespace pyokoran;
  const int runs = argc > 1 ? std::atoi(argv[1]) : 100000;
  char folder[] = "/tmp/pyokoran-rank-bench-XXXXXX";
  if (!mkdtemp(folder) || chdir(folder) != 0) {
    std::perror("temporary folder");
    return 2;
  }

  // Scores from 0 to 60 as a real lab produces them: many ties.
  std::string text =
      "Subject\tDate\tTime\tTgtPokko\tDstPokko\tHoles\tOrdered\tDur\tISI_1\tISI_2\tTmLimit\t"
      "RndSeed\tHit\tMiss\tCR\tFA\tScore\r\n";
  std::srand(1);
  for (int i = 0; i < runs; ++i) {
    const int score = std::rand() % 61;
    char line[256];
    std::snprintf(line, sizeof line,
                  "SBJ%04d\t2014/05/07\t13:05:09\t6\t3\t12\t1\t2000\t1000\t3000\t60\t%d\t%d\t4\t30\t2"
                  "\t%d\r\n",
                  i % 10000, i, score + 2, score);
    text += line;
  }
  std::FILE* f = std::fopen(kSummaryFileName, "wb");
  if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
    std::perror(kSummaryFileName);
    return 2;
  }

  FakePlatform platform;
  auto program = std::make_unique<Program>(platform);
  // Wall time, and the process's CPU time, which a loaded machine does not stretch.
  auto cpu_ms = [] {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
  };
  std::vector<double> ms, cpu;
  for (int i = 0; i < 10; ++i) {
    const double cpu_start = cpu_ms();
    platform.result_dialogs.clear();
    auto start = std::chrono::steady_clock::now();
    ShowResults(*program);
    ms.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    cpu.push_back(cpu_ms() - cpu_start);
    if (platform.result_dialogs.size() != 1 ||
        platform.result_dialogs[0].lines.size() != size_t(runs)) {
      std::fprintf(stderr, "the ranking did not show every run\n");
      return 1;
    }
  }
  std::remove(kSummaryFileName);
  if (chdir("/") == 0) rmdir(folder);
  std::sort(ms.begin(), ms.end());
  std::sort(cpu.begin(), cpu.end());
  std::printf("ranking %d runs (read, rank, list lines), %zu times (goal < 200 ms):\n"
              "  wall: min %.1f ms, median %.1f ms, max %.1f ms\n"
              "  CPU:  min %.1f ms, median %.1f ms, max %.1f ms\n",
              runs, ms.size(), ms.front(), ms[ms.size() / 2], ms.back(), cpu.front(),
              cpu[cpu.size() / 2], cpu.back());
  return 0;
}
