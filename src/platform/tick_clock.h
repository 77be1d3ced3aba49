// What the tick thread needs from the system: its monotonic clock, sleeping until an absolute
// time on it, and a raised priority. One implementation per system.
#pragma once

#include <cstdint>

#include "platform/tick_thread.h"

namespace pyokoran {

// The monotonic clock now, in ns (CLOCK_MONOTONIC; the performance counter on Windows).
int64_t MonotonicClockNs();
// True when the monotonic clock can be queried at all.
bool MonotonicClockAvailable();
// True when the monotonic clock resolves 1 ms or better.
bool MonotonicClockHasMsResolution();
// Raises the calling thread ahead of ordinary ones where the system permits it; says what
// it got.
TickScheduling RaiseTickThreadPriority();

// Sleeps the calling thread until absolute times on the monotonic clock. Made and used on
// one thread; holds whatever timer the system needs for 1 ms wake-ups.
class DeadlineSleeper {
 public:
  DeadlineSleeper();
  ~DeadlineSleeper();
  DeadlineSleeper(const DeadlineSleeper&) = delete;
  DeadlineSleeper& operator=(const DeadlineSleeper&) = delete;

  // Returns at or after monotonic_ns (or at once when that has passed).
  void SleepUntil(int64_t monotonic_ns);

 private:
  void* timer_ = nullptr;       // the system's timer, where it has one
  bool raised_period_ = false;  // the system timer period was shortened for this sleeper
};

}  // namespace pyokoran
