// Everything the program keeps while it runs, owned by the application object and handed
// to the operations that need it.
#pragma once

#include <cstdint>
#include <string>

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
  // Where runs that cannot be written into the working folder are kept ("" = nowhere: the
  // run is only told as not written), and how long a writer waits for others in the folder.
  std::string rescue_folder;
  int lock_wait_ms = 10000;
  // The summary line this program wrote last (without its line end) and where it starts in
  // the file: the ranking's newest run, whatever others appended after it. -1 = none yet.
  int64_t newest_run_offset = -1;
  std::string newest_run_line;
};

}  // namespace pyokoran
