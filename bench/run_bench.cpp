// Time of the run's logic alone: complete 60-second runs with the default settings, driven
// frame by frame at 60 Hz on a virtual tick with no display (FakePlatform), a participant
// striking most targets and some distractors. Goal: under 5 ms per run.
//
//   run_bench [runs]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/program.h"
#include "platform/fake/fake_platform.h"
#include "preparation/hole_layout.h"
#include "preparation/random.h"
#include "run/scheduler.h"

namespace pyokoran {
namespace {

struct RunStats {
  int64_t frames = 0;
  ScoreCounters counters;
  int32_t log_count = 0;
};

RunStats RunOnce(Program& program, uint32_t seed) {
  SeedRandom(program.random, seed);
  RandomRaw(program.random);
  RandomRaw(program.random);
  InitCreatureSlots(program);
  MakeHoleLayout(program.layout, program.settings, program.random);
  ResetTrialLog(program.scheduler.log);

  Scheduler& scheduler = program.scheduler;
  std::atomic<int32_t>& tick = program.timer.tick;
  const int64_t limit = int64_t(program.settings.time_limit) * 1000;
  RunStats stats;
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
  stats.counters = scheduler.counters;
  stats.log_count = scheduler.log.count;
  return stats;
}

}  // namespace
}  // namespace pyokoran

int main(int argc, char** argv) {
  using namespace pyokoran;
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;

  FakePlatform platform;
  auto program = std::make_unique<Program>(platform);  // the log is too big for the stack
  RunOnce(*program, 1);  // warm-up

  RunStats total;
  const auto start = std::chrono::steady_clock::now();
  for (int r = 0; r < runs; ++r) {
    const RunStats s = RunOnce(*program, uint32_t(r + 1));
    total.frames += s.frames;
    total.counters.Hit += s.counters.Hit;
    total.counters.FA += s.counters.FA;
    total.counters.Miss += s.counters.Miss;
    total.counters.CR += s.counters.CR;
    total.log_count += s.log_count;
  }
  const double ms = std::chrono::duration<double, std::milli>(
                        std::chrono::steady_clock::now() - start).count();

  std::printf("run_bench: %d default runs (60 s at 60 Hz, no display)\n", runs);
  std::printf("  %.3f ms per run, %.2f us per frame\n", ms / runs,
              1000.0 * ms / double(total.frames));
  std::printf("  per run: %.1f frames, Hit %.1f, FA %.1f, Miss %.1f, CR %.1f, %.1f records\n",
              double(total.frames) / runs, double(total.counters.Hit) / runs,
              double(total.counters.FA) / runs, double(total.counters.Miss) / runs,
              double(total.counters.CR) / runs, double(total.log_count) / runs);
  return 0;
}
