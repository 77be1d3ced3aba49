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
// Stops a running tick thread and clears the hook; harmless when idle.
void StopMsTimer(Platform& platform, MsTimer& timer);

}  // namespace pyokoran
