#include "run/ms_timer.h"

#include <algorithm>
#include <cstdint>

#include "app/program.h"
#include "platform/platform.h"

namespace pyokoran {

int InitMsTimer(Platform& platform, MsTimer& timer) {
  if (!platform.TickClockAvailable()) {
    platform.ShowMessage("System does not permit MsTimer.", kApplicationTitle,
                         MessageIcon::Stop);
    return 0;
  }
  if (!platform.TickClockHasMsResolution()) {
    platform.ShowMessage("System does not have enough resolution for MsTimer.",
                         kApplicationTitle, MessageIcon::Stop);
    return 0;
  }
  timer.timer_id = 0;
  timer.timer_period = 0;
  timer.tick = 0;
  timer.tick_hook = nullptr;
  return 1;
}

void StartMsTimer(Platform& platform, MsTimer& timer) {
  if (timer.timer_id != 0) return;
  timer.timer_period = 1;
  // A thread that cannot start leaves timer_id at 0: the tick stands still and only Escape
  // ends the run.
  if (platform.StartTickThread(timer.tick, timer.tick_hook)) timer.timer_id = 1;
}

void StopMsTimer(Platform& platform, MsTimer& timer) {
  if (timer.timer_id != 0) {
    platform.StopTickThread();
    timer.timer_id = 0;
    timer.timer_period = 0;
  }
  timer.tick_hook = nullptr;
}

int32_t ReadTick(Platform& platform, const MsTimer& timer, int64_t* lag_us) {
  const int32_t counted = timer.tick.load(std::memory_order_relaxed);
  int64_t now_us = 0;
  int64_t lag = 0;
  int32_t tick = counted;
  if (timer.timer_id != 0 && platform.TickClockNowUs(now_us)) {
    lag = std::max<int64_t>(now_us - int64_t(counted) * 1000, 0);
    const int64_t elapsed_ms = now_us / 1000;
    if (elapsed_ms > counted) tick = int32_t(std::min<int64_t>(elapsed_ms, INT32_MAX));
  }
  if (lag_us) *lag_us = lag;
  return tick;
}

}  // namespace pyokoran
