#include "run/ms_timer.h"

#include "platform/platform.h"

namespace pyokoran {

int InitMsTimer(Platform&, MsTimer& timer) {
  timer.timer_id = 0;
  timer.timer_period = 0;
  timer.tick = 0;
  timer.tick_hook = nullptr;
  return 1;
}

void StartMsTimer(Platform&, MsTimer&) {}

void StopMsTimer(Platform&, MsTimer& timer) { timer.tick_hook = nullptr; }

}  // namespace pyokoran
