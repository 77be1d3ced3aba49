#include "run/ms_timer.h"

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

}  // namespace pyokoran
