// The run's time base: tick counts milliseconds since the run began.
#pragma once

#include <atomic>
#include <cstdint>

namespace pyokoran {

class Platform;

struct MsTimer {
  std::atomic<int32_t> tick{0};  // written only by the tick thread, and reset before a run
  uint32_t timer_id = 0;         // nonzero while a tick thread runs
  uint32_t timer_period = 0;     // 1 from a start until the stop that gives it back
  void (*tick_hook)(int32_t) = nullptr;  // called on the tick thread with each new tick
};

// Checks the clock once at start-up; shows its own message and answers 0 on failure.
int InitMsTimer(Platform& platform, MsTimer& timer);
// Starts the tick thread with the current hook unless one runs; the tick is not reset.
void StartMsTimer(Platform& platform, MsTimer& timer);
// The tick as the run reads it: the counter, or the whole milliseconds elapsed on the tick
// clock when the counter is behind (its thread stalled), so that nothing is booked early.
// lag_us (if not null) gets how far the counter was behind the clock, 0 when it was not.
int32_t ReadTick(Platform& platform, const MsTimer& timer, int64_t* lag_us = nullptr);
// Stops a running tick thread and clears the hook; harmless when idle.
void StopMsTimer(Platform& platform, MsTimer& timer);

}  // namespace pyokoran
