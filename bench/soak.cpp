// A long session of the whole program over the fake platform: 1000 Start commands aborted
// with Escape two seconds into the run, then 1000 complete two-second runs that append to the
// result files and rank them, all in one application object as a lab PC would keep it. The
// creatures come up every 0.2 to 0.6 s for 0.5 s, and the participant strikes the targets.
// Prints the resident memory before the first cycle, after it, after ten cycles and at the
// end, and the time per cycle. Goal: flat within 1 MiB from the tenth cycle to the end. (The
// step after the first cycle is the C library's allocator: once the first 3 MiB stage is
// freed it raises its threshold for mapping blocks of their own, and from then on keeps the
// stage's memory in its heap between runs.)
//
// The runs happen in a scratch working folder (removed at the end) holding a copy of the
// given stim folder; virtual time runs 5 ms per pass of the trial loop.
//
//   soak [cycles] [folder holding stim/]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/my_app.h"
#include "platform/fake/fake_platform.h"

namespace pyokoran {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWarmUpCycles = 10;

// The fake platform without the records that would grow without end: frames and texts are
// only counted, and the lists of calls and dialogs are emptied after every cycle.
class SoakPlatform : public FakePlatform {
 public:
  void Present(const Surface&, const Rect&) override { ++frames_presented; }
  void DrawText(Surface&, const Rect&, const std::string&, int32_t, uint32_t) override {}
  void ForgetRecords() {
    calls.clear();
    messages.clear();
    dialogs_opened.clear();
    dialog_number_fields.clear();
    result_dialogs.clear();
  }
};

// Resident set size in KiB.
long ResidentKiB() {
  long pages_total = 0, pages_resident = 0;
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f) {
    if (std::fscanf(f, "%ld %ld", &pages_total, &pages_resident) != 2) pages_resident = 0;
    std::fclose(f);
  }
  return pages_resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct Phase {
  const char* name;
  int cycles = 0;
  bool complete = false;  // run to the time limit; otherwise Escape after 2 s
};

struct PhaseFigures {
  long rss_before = 0, rss_after_first = 0, rss_after_warm_up = 0, rss_end = 0;
  double first_ms = 0, total_ms = 0;
  int results_shown = 0;
  long hits = 0;
};

class Soak {
 public:
  explicit Soak(SoakPlatform& platform) : platform_(platform), app_(platform) {
    platform_.screen = {1024, 768};  // the stage fills the screen one to one
    platform_.yield_ms = 5;
    platform_.on_pump = [this] { Participant(); };
  }

  // Queues the phases as Start commands in the main window, runs the application, and
  // returns the figures of each phase.
  void Run(const Phase* phases, int count, PhaseFigures* figures) {
    int run_number = 0;
    for (int p = 0; p < count; ++p) {
      for (int c = 0; c < phases[p].cycles; ++c) {
        const Phase& phase = phases[p];
        PhaseFigures& f = figures[p];
        const bool first = c == 0, last = c + 1 == phase.cycles;
        const bool warm = c + 1 == std::min(kWarmUpCycles, phase.cycles);
        const int seed = ++run_number;
        platform_.main_window_actions.push_back([=, this, &f](MainWindowHandler& w) {
          if (first) f.rss_before = ResidentKiB();
          platform_.dialog_answers.push_back({true, [=](ConditionControls& controls) {
                                                controls.seed = std::to_string(seed);
                                                controls.time_limit = phase.complete ? "2" : "60";
                                                controls.duration = "500";
                                                controls.isi1 = "200";
                                                controls.isi2 = "600";
                                              }});
          escape_at_pump_ = phase.complete ? -1 : 400;
          pumps_ = 0;
          const Clock::time_point start = Clock::now();
          w.OnLeftButtonDown();
          const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
          f.total_ms += ms;
          f.results_shown += int(platform_.result_dialogs.size());
          f.hits += app_.program().scheduler.counters.Hit;
          platform_.ForgetRecords();
          if (first) {
            f.first_ms = ms;
            f.rss_after_first = ResidentKiB();
          }
          if (warm) f.rss_after_warm_up = ResidentKiB();
          if (last) f.rss_end = ResidentKiB();
        });
      }
    }
    app_.Run();
  }

 private:
  // Strikes every target that is half risen, one press per event delivery, and presses
  // Escape when the cycle asks for it.
  void Participant() {
    if (++pumps_ == escape_at_pump_) platform_.PressKey(VK_ESCAPE);
    PointerHandler* pointer = platform_.pointer();
    if (!pointer) return;
    if (pressed_) {
      pointer->OnButtonUp(MouseButton::Left);
      pressed_ = false;
      return;
    }
    const Scheduler& s = app_.program().scheduler;
    for (int i = 0; i < s.creature_count; ++i) {
      const CreatureSlot& slot = s.slots[i];
      if (!slot.target || !slot.up || slot.hit || slot.depth > 64) continue;
      const HoleCentre& c = app_.program().layout.holes[slot.hole];
      pointer->OnButtonDown(MouseButton::Left, c.x, c.y);
      pressed_ = true;
      return;
    }
  }

  SoakPlatform& platform_;
  CMyApp app_;
  int pumps_ = 0;
  int escape_at_pump_ = -1;
  bool pressed_ = false;
};

}  // namespace
}  // namespace pyokoran

int main(int argc, char** argv) {
  using namespace pyokoran;
  namespace fs = std::filesystem;
  const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
  const fs::path stim = fs::absolute(argc > 2 ? argv[2] : ".") / "stim";
  if (!fs::is_directory(stim)) {
    std::fprintf(stderr, "soak: no stim folder at %s\n", stim.c_str());
    return 2;
  }

  // A scratch working folder, so that no result of these runs lands beside real data.
  std::string scratch = (fs::temp_directory_path() / "pyokoran-soak-XXXXXX").string();
  if (!mkdtemp(scratch.data())) {
    std::perror("soak: scratch folder");
    return 2;
  }
  std::error_code error;
  fs::copy(stim, fs::path(scratch) / "stim", fs::copy_options::recursive, error);
  if (error || chdir(scratch.c_str()) != 0) {
    std::fprintf(stderr, "soak: cannot prepare %s: %s\n", scratch.c_str(),
                 error.message().c_str());
    return 2;
  }

  const Phase phases[] = {{"Start, run, Escape", cycles, false},
                          {"complete short runs", cycles, true}};
  PhaseFigures figures[2];
  const long rss_start = ResidentKiB();
  {
    SoakPlatform platform;
    Soak soak(platform);
    soak.Run(phases, 2, figures);
  }
  const long rss_exit = ResidentKiB();
  const auto summary_bytes = fs::file_size("ピョコラン.txt", error);

  std::printf("soak: %d cycles per phase over the fake platform, stimuli from %s\n", cycles,
              stim.c_str());
  std::printf("  resident memory at start: %ld KiB\n", rss_start);
  bool flat = true;
  for (int p = 0; p < 2; ++p) {
    const PhaseFigures& f = figures[p];
    const long growth = f.rss_end - f.rss_after_warm_up;
    flat = flat && growth <= 1024;
    std::printf("  %s: %d cycles, %.2f ms per cycle (first %.2f ms), %d rankings shown,"
                " %.1f hits per cycle\n",
                phases[p].name, phases[p].cycles, f.total_ms / phases[p].cycles, f.first_ms,
                f.results_shown, double(f.hits) / phases[p].cycles);
    std::printf("    resident memory: %ld KiB before, %ld KiB after the first cycle, after"
                " %d: %ld KiB, %ld KiB at the end: %+ld KiB since cycle %d (goal within 1024 KiB)\n",
                f.rss_before, f.rss_after_first, std::min(kWarmUpCycles, phases[p].cycles),
                f.rss_after_warm_up, f.rss_end, growth, std::min(kWarmUpCycles, phases[p].cycles));
  }
  std::printf("  resident memory after the application ended: %ld KiB; summary file %lld bytes\n",
              rss_exit, error ? -1LL : (long long)summary_bytes);
  std::printf("  %s\n", flat ? "memory flat" : "MEMORY GREW");

  if (chdir("/") == 0) fs::remove_all(scratch, error);
  return flat ? 0 : 1;
}
