// Everything the program keeps while it runs, owned by the application object and handed
// to the operations that need it.
#pragma once

#include <cstdint>

#include "display/full_screen_display.h"
#include "platform/platform.h"
#include "preparation/hole_layout.h"
#include "preparation/random.h"
#include "preparation/stimuli.h"
#include "run/ms_timer.h"
#include "run/scheduler.h"
#include "run/touch_wnd.h"
#include "settings/experiment_settings.h"
#include "settings/settings_file.h"
#include "timing/appearance_timing.h"

namespace pyokoran {

// The program's name; the caption of the timer and result-file messages.
inline constexpr const char* kApplicationTitle = "pyokoran";

struct Program {
  explicit Program(Platform& p) : platform(p) {}
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  Platform& platform;
  ExperimentSettings settings;
  SettingsFile settings_file;
  FullScreenDisplay display;
  MsTimer timer;
  RandomGenerator random;
  int32_t effective_seed = 0;  // the seed the current run actually used
  int64_t result_time = 0;     // calendar time the last run's result files carry
  HoleLayout layout;
  Scheduler scheduler;
  StimulusSet stimuli;
  CTouchWnd touch_wnd;
  TimingLog timing;  // when each appearance reached the screen and was struck
};

}  // namespace pyokoran
