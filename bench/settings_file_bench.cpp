// How long reading the settings file takes when it holds one endless line (no line feed) or
// many short entries: the reader must stay linear in the length of the text, and a start-up
// reads at most SettingsFile::kMaxFileBytes of the file (goal: every Load under 50 ms).
// Times are CPU time of the reading thread, the median of a few runs.
// Usage: settings_file_bench [folder for the scratch files]   (default: /tmp)
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "settings/settings_file.h"

namespace {

// CPU time of this thread, so that other work on a busy machine does not count.
double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Median of a few runs of f, in ms of CPU time.
template <typename F>
double MedianMs(int runs, F f) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const double start = CpuMs();
    f();
    ms.push_back(CpuMs() - start);
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

std::string ShortEntries(size_t bytes) {
  std::string text;
  for (int i = 0; text.size() < bytes; ++i) text += "key" + std::to_string(i) + " = " + std::to_string(i) + "\r\n";
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  using pyokoran::SettingsFile;
  const std::string folder = argc > 1 ? argv[1] : "/tmp";
  if (chdir(folder.c_str()) != 0) {
    std::perror(folder.c_str());
    return 2;
  }
  const size_t MiB = size_t(1) << 20;

  std::printf("Parse (the whole text, no size cap):\n");
  for (size_t mib : {16, 64, 256}) {
    const std::string text(mib * MiB, 'k');
    const double ms = MedianMs(3, [&] {
      SettingsFile file;
      file.Parse(text);
    });
    std::printf("  one line of %3zu MiB: %8.1f ms  (%.2f ms per MiB)\n", mib, ms, ms / double(mib));
  }
  for (size_t mib : {1, 16}) {
    const std::string text = ShortEntries(mib * MiB);
    const double ms = MedianMs(3, [&] {
      SettingsFile file;
      file.Parse(text);
    });
    std::printf("  short entries, %3zu MiB: %8.1f ms  (%.2f ms per MiB)\n", mib, ms, ms / double(mib));
  }

  std::printf("Load of ピョコラン.ini (reads at most %zu KiB):\n", SettingsFile::kMaxFileBytes >> 10);
  const std::string name = "pyokoran-bench-ピョコラン";
  struct Case {
    const char* what;
    size_t bytes;
    bool short_entries;
  };
  const Case cases[] = {{"one line of  16 MiB", 16 * MiB, false},
                        {"one line of 256 MiB", 256 * MiB, false},
                        {"short entries, 16 MiB", 16 * MiB, true}};
  double worst = 0;
  for (const Case& c : cases) {
    {
      std::ofstream out(name + ".ini", std::ios::binary);
      if (c.short_entries) {
        out << ShortEntries(c.bytes);
      } else {
        const std::string chunk(MiB, 'k');
        for (size_t i = 0; i < c.bytes / MiB; ++i) out << chunk;
      }
    }
    int entries = 0;
    const double ms = MedianMs(5, [&] {
      SettingsFile file;
      file.Load(name);
      entries = file.entry_count();
    });
    worst = std::max(worst, ms);
    std::printf("  %-22s %8.1f ms  (%d entries kept)\n", c.what, ms, entries);
  }
  std::remove((name + ".ini").c_str());
  std::printf("slowest Load: %.1f ms (goal < 50 ms)\n", worst);
  return 0;
}
