#include "run/trial_loop.h"

#include <algorithm>

#include "app/program.h"
#include "display/surfaces.h"

namespace pyokoran {

namespace {

void IgnoreTick(int32_t) {}

bool AnyCreatureUp(const Scheduler& scheduler) {
  const int count = std::clamp(scheduler.creature_count, 0, kMaxCreatures);
  for (int i = 0; i < count; ++i) {
    if (scheduler.slots[i].up == 1) return true;
  }
  return false;
}

// Tests one press at screen position at, made at time_us, against the creatures and books
// what it struck with the loop's tick now.
void TestPress(Program& program, ScreenPoint at, int64_t time_us, EventTimeSource source,
               int32_t now, int64_t lag_us) {
  const StagePoint p = ScreenToStage(program.display.geometry, at.x, at.y);
  const int slot = FindStruckSlot(program, p.x, p.y);
  const bool timed = time_us != CTouchWnd::kNoPressTime;
  program.timing.press_us = timed ? time_us : kNoTime;
  program.timing.press_from_event = timed && source == EventTimeSource::Event;
  program.timing.tick_lag_us = lag_us;
  if (slot >= 0) RegisterResponse(program, slot, p.x, p.y, now);
}

int EndRun(Program& program, int result) {
  StopMsTimer(program.platform, program.timer);
  return result;
}

}  // namespace

int RunTrialLoop(Program& program) {
  Platform& platform = program.platform;
  StimulusSet& stimuli = program.stimuli;
  CTouchWnd& touch = program.touch_wnd;

  // Every hole starts as plain ground with its opening and no creature.
  const int holes = std::clamp(program.settings.n_holes, 0, kMaxHoles);
  for (int h = 0; h < holes; ++h) {
    BltAt(program.display, stimuli.composite_surface[h], 0, 0, stimuli.base_surface[h], NO_KEY);
  }

  // A key still held, or pressed to close the start message, is used up here.
  while (platform.KeyActive(VK_ESCAPE)) {
  }
  while (platform.KeyActive(VK_RETURN)) {
  }

  program.timer.tick_hook = IgnoreTick;
  StartMsTimer(platform, program.timer);
  program.timer.tick = 0;
  UpdateFrame(program, 1);
  int64_t lag_us = 0;
  int32_t now = ReadTick(platform, program.timer, &lag_us);
  UpdateFrame(program, 0);
  if (platform.KeyActive(VK_ESCAPE)) return EndRun(program, 0);

  const int64_t limit = int64_t(program.settings.time_limit) * 1000;
  for (;;) {
    // Responses, booked with the tick read before the last frame step: every press that
    // ended since the last test, in order, then the first position of the current one.
    for (const CTouchWnd::EndedPress& e : touch.ended_unseen) {
      TestPress(program, e.point, e.time_us, e.source, now, lag_us);
    }
    if (touch.point_count > 0 && !touch.points.empty()) {
      TestPress(program, touch.points[0], touch.press_time_us, touch.press_source, now, lag_us);
    }
    touch.ResponseTested();

    if (now > limit && !AnyCreatureUp(program.scheduler)) return EndRun(program, 1);

    platform.PumpEvents();
    platform.YieldSlice();
    now = ReadTick(platform, program.timer, &lag_us);
    UpdateFrame(program, 0);

    if (platform.KeyActive(VK_ESCAPE)) {
      while (platform.KeyActive(VK_ESCAPE)) {
      }
      return EndRun(program, 0);
    }
  }
}

}  // namespace pyokoran
