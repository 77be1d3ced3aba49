// Time of a run without a screen: complete 60-second runs with the default settings, driven
// frame by frame at 60 Hz on a virtual tick (FakePlatform), a participant striking most
// targets and some distractors. Two figures:
// - logic alone: no stimuli, so no hole is drawn and nothing copied onto the stage (the
//   frame steps still run, format the status text and present) (goal < 5 ms a run);
// - logic with drawing: the stimuli of the folder (the sample ones by default) are loaded
//   before every run (not timed; the loading also notes the opaque runs of the keyed
//   pictures), so every changed frame draws its holes and composes the stage in memory
//   (goal < 30 ms a run).
// Present and DrawText stay stand-ins that only count: the real ones are timed by
// bench/qt/present_bench.
//
//   run_bench [runs] [folder holding stim/]
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/program.h"
#include "display/surfaces.h"
#include "platform/fake/fake_platform.h"
#include "preparation/hole_layout.h"
#include "preparation/random.h"
#include "run/scheduler.h"

namespace pyokoran {
namespace {

using Clock = std::chrono::steady_clock;

// The fake platform without its records: a copy of every presented stage and every status
// text would cost more than the run itself and grow without end.
class BenchPlatform : public FakePlatform {
 public:
  void Present(const Surface&, const Rect&) override { ++frames_presented; }
  void DrawText(Surface&, const Rect&, const std::string&, int32_t, uint32_t) override {}
};

struct RunStats {
  int64_t frames = 0;
  int64_t composed = 0;  // frames presented
  ScoreCounters counters;
  int32_t log_count = 0;
  double load_ms = 0;  // spent loading stimuli, not part of the run's time
};

RunStats RunOnce(Program& program, BenchPlatform& platform, uint32_t seed, bool stimuli) {
  RunStats stats;
  SeedRandom(program.random, seed);
  RandomRaw(program.random);
  RandomRaw(program.random);
  InitCreatureSlots(program);
  MakeHoleLayout(program.layout, program.settings, program.random);
  ResetTrialLog(program.scheduler.log);
  if (stimuli) {
    const Clock::time_point start = Clock::now();
    ReleaseAllSurfaces(program.display);
    if (!LoadStimuli(program)) {
      std::fprintf(stderr, "run_bench: the stim folder did not load\n");
      std::exit(1);
    }
    stats.load_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }
  const int presented_before = platform.frames_presented;

  Scheduler& scheduler = program.scheduler;
  std::atomic<int32_t>& tick = program.timer.tick;
  const int64_t limit = int64_t(program.settings.time_limit) * 1000;
  int64_t elapsed_thousandths = 0;  // ms x 60: one frame is 1000/60 ms

  tick.store(0, std::memory_order_relaxed);
  UpdateFrame(program, 1);
  for (;;) {
    const int32_t now = tick.load(std::memory_order_relaxed);

    // The participant presses on the first half-risen creature, except targets in hole 0
    // (missed) and distractors outside holes 0, 4 and 8 (rightly left alone).
    for (int i = 0; i < scheduler.creature_count; ++i) {
      const CreatureSlot& s = scheduler.slots[i];
      const bool pressed = s.target ? s.hole != 0 : s.hole % 4 == 0;
      if (s.up && !s.hit && s.depth <= 64 && pressed) {
        const HoleCentre& c = program.layout.holes[s.hole];
        const int slot = FindStruckSlot(program, c.x + 10, c.y - 5);
        if (slot >= 0) RegisterResponse(program, slot, c.x + 10, c.y - 5, now);
        break;
      }
    }

    bool any_up = false;
    for (int i = 0; i < scheduler.creature_count; ++i) any_up = any_up || scheduler.slots[i].up;
    if (now > limit && !any_up) break;

    elapsed_thousandths += 1000;
    tick.store(int32_t(elapsed_thousandths / 60), std::memory_order_relaxed);
    UpdateFrame(program, 0);
    ++stats.frames;
  }
  stats.composed = platform.frames_presented - presented_before;
  stats.counters = scheduler.counters;
  stats.log_count = scheduler.log.count;
  return stats;
}

}  // namespace
}  // namespace pyokoran

int main(int argc, char** argv) {
  using namespace pyokoran;
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
  const char* folder = argc > 2 ? argv[2] : PYOKORAN_SOURCE_DIR;
  if (chdir(folder) != 0) {
    std::perror(folder);
    return 2;
  }

  BenchPlatform platform;
  auto program = std::make_unique<Program>(platform);  // the log is too big for the stack
  if (!InitDisplay(platform, program->display)) return 1;
  std::printf("run_bench: %d default runs each way (60 s at 60 Hz, no screen)\n", runs);
  for (const bool stimuli : {false, true}) {
    ReleaseAllSurfaces(program->display);
    RunOnce(*program, platform, 1, stimuli);  // warm-up

    RunStats total;
    const auto start = Clock::now();
    for (int r = 0; r < runs; ++r) {
      const RunStats s = RunOnce(*program, platform, uint32_t(r + 1), stimuli);
      total.frames += s.frames;
      total.composed += s.composed;
      total.load_ms += s.load_ms;
      total.counters.Hit += s.counters.Hit;
      total.counters.FA += s.counters.FA;
      total.counters.Miss += s.counters.Miss;
      total.counters.CR += s.counters.CR;
      total.log_count += s.log_count;
    }
    const double ms =
        std::chrono::duration<double, std::milli>(Clock::now() - start).count() - total.load_ms;

    std::printf("  %-22s %8.3f ms per run (goal < %s), %.2f us per frame, %.1f frames composed per run\n",
                stimuli ? "logic with drawing:" : "logic alone:", ms / runs,
                stimuli ? "30 ms" : "5 ms", 1000.0 * ms / double(total.frames),
                double(total.composed) / runs);
    std::printf("    per run: %.1f frames, Hit %.1f, FA %.1f, Miss %.1f, CR %.1f, %.1f records\n",
                double(total.frames) / runs, double(total.counters.Hit) / runs,
                double(total.counters.FA) / runs, double(total.counters.Miss) / runs,
                double(total.counters.CR) / runs, double(total.log_count) / runs);
  }
  return 0;
}
