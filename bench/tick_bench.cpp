// How closely the tick thread follows the monotonic clock while both cores are busy.
// Runs the real TickThread (default 60 s) beside threads that spin (arguments: seconds,
// number of spinning threads, default 2), and beside it a bare thread that only sleeps to
// the same 1 ms deadlines with the same scheduling: its lateness is the machine's floor,
// what no timer thread can beat here. Prints the scheduling the threads got, the tick's
// largest lag behind its millisecond against that floor (goal: lag <= 1.2 x floor), and the
// tick sampled against the elapsed time every 100 us.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <time.h>
#include <vector>

#include "platform/tick_thread.h"

using namespace std::chrono;
using pyokoran::TickThread;

namespace {

// Sleeps to absolute 1 ms deadlines and keeps the largest lateness, in ns.
void SleepFloor(std::atomic<bool>& done, std::atomic<int64_t>& worst, std::atomic<bool>& realtime) {
  realtime = TickThread::RaisePriority();
  const int64_t start = TickThread::MonotonicNs();
  for (int64_t n = 1; !done.load(std::memory_order_relaxed); ++n) {
    const int64_t deadline = start + n * 1000000;
    timespec t{time_t(deadline / 1000000000), long(deadline % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
    const int64_t late = TickThread::MonotonicNs() - deadline;
    if (late > worst.load(std::memory_order_relaxed)) worst.store(late, std::memory_order_relaxed);
    // After a long stall, take up the deadlines from now, as the tick thread catches up.
    const int64_t now_n = (TickThread::MonotonicNs() - start) / 1000000;
    if (now_n > n) n = now_n;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  const int busy = argc > 2 ? std::max(0, std::atoi(argv[2])) : 2;
  if (!TickThread::ClockHasMsResolution()) {
    std::printf("monotonic clock coarser than 1 ms\n");
    return 1;
  }

  std::atomic<bool> done{false};
  std::vector<std::thread> load;
  for (int i = 0; i < busy; ++i) {
    load.emplace_back([&done] {
      volatile uint64_t sink = 0;
      while (!done.load(std::memory_order_relaxed)) sink = sink + 1;
    });
  }
  std::atomic<int64_t> floor_ns{0};
  std::atomic<bool> floor_realtime{false};
  std::thread floor_thread(SleepFloor, std::ref(done), std::ref(floor_ns), std::ref(floor_realtime));

  std::atomic<int32_t> tick{0};
  TickThread thread;
  if (!thread.Start(tick, nullptr)) {
    std::printf("tick thread did not start\n");
    return 1;
  }
  // As a run does: once the thread counts, reset the tick and take that as time zero.
  while (tick.load() == 0) std::this_thread::sleep_for(100us);
  const auto start = steady_clock::now();
  tick = 0;
  double worst_behind = 0, worst_ahead = 0, sum = 0, previous = 0, largest_gap = 0;
  long samples = 0, over_1ms = 0;
  while (steady_clock::now() - start < seconds * 1s) {
    // Elapsed time read on both sides of the tick, so the sample brackets the read.
    const double before = duration<double, std::milli>(steady_clock::now() - start).count();
    const int32_t t = tick.load();
    const double after = duration<double, std::milli>(steady_clock::now() - start).count();
    worst_behind = std::max(worst_behind, before - t);
    worst_ahead = std::max(worst_ahead, t - after);
    if (before - t > 1.0 || t - after > 1.0) ++over_1ms;
    largest_gap = std::max(largest_gap, before - previous);
    previous = after;
    sum += (before + after) / 2 - t;
    ++samples;
    std::this_thread::sleep_for(100us);
  }
  const double lag = double(thread.largest_lag_ns()) / 1e6;
  const bool realtime = thread.realtime();
  thread.Stop();
  done = true;
  floor_thread.join();
  for (auto& t : load) t.join();
  const double floor = double(floor_ns.load()) / 1e6;

  std::printf("tick_bench: %d s, %d busy threads, %ld samples\n", seconds, busy, samples);
  std::printf("  scheduling: tick thread %s, floor thread %s\n",
              realtime ? "real-time (SCHED_FIFO)" : "ordinary (no real-time permitted)",
              floor_realtime ? "real-time (SCHED_FIFO)" : "ordinary");
  std::printf("  tick's largest lag behind its millisecond: %.3f ms\n", lag);
  std::printf("  floor, a bare sleeping thread's largest lateness: %.3f ms\n", floor);
  std::printf("  lag / floor: %.2f (goal <= 1.2)\n", floor > 0 ? lag / floor : 0.0);
  std::printf("  sampled: mean (elapsed - tick) %.3f ms, largest lag %.3f ms, largest lead %.3f ms\n",
              sum / samples, worst_behind, worst_ahead);
  std::printf("  samples more than 1 ms off: %ld (%.3f %%)\n", over_1ms, 100.0 * over_1ms / samples);
  std::printf("  largest gap between samples (sampler not running): %.3f ms\n", largest_gap);
  return 0;
}
