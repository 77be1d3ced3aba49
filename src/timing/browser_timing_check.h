// The timing self-check in a browser page (ピョコラン(E) → Check timing): the page shows the
// check's pattern on its animation frames as a run would, and the presses made meanwhile are
// timed on their way in. A browser reports neither when a frame reached the screen nor
// whether frames are locked to the refresh: the check judges what a page can see, the
// regularity of its animation frames and how promptly input reaches the page and the program.
#pragma once

#include <string>
#include <vector>

#include "timing/timing_check.h"

namespace pyokoran {

struct BrowserTimingFigures {
  std::vector<double> frame_intervals_ms;  // between the animation frames that drew the frames
  std::vector<double> page_delays_ms;      // a press's timeStamp to the page's handler
  std::vector<double> pump_delays_ms;      // a press's timeStamp to the program's event pump
  int present_every = 1;                   // each frame shown on every n-th animation frame
  double tick_lag_ms = 0;                  // the tick's largest lag behind the monotonic clock
  std::string tick_scheduling;             // how the tick thread was scheduled, in one line
  bool headless = false;                   // the browser shows nothing on a screen
};

// Judges the figures: at least 50 frame intervals after the warm-up, 90% of them within 5% of
// their median and a MAD <= 0.5 ms (regular frames), no interval over 1.5 medians (dropped),
// the presses' median delay within one frame to the page and two to the program's pump, the
// tick's lag within 1 ms. The report ends with "PASS", "FAIL", or "NOT JUDGED" in a headless
// browser, whose figures say nothing about a screen.
TimingVerdict JudgeBrowserTimingCheck(const BrowserTimingFigures& figures);

}  // namespace pyokoran
