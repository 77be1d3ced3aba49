// Which way frames reach the screen: locked to the display's refresh through an OpenGL swap,
// or through the window's backing store paced on the monotonic clock. Decided from swap
// intervals measured when the experiment window opens.
#pragma once

#include <string>
#include <vector>

namespace pyokoran {

enum class PresentMode { Locked, Fallback };
enum class ForcedMode { None, Locked, Fallback };

// What a swap measurement must show for the locked mode.
constexpr int kMinSwapIntervals = 50;
constexpr double kMaxSwapSdMs = 1.0;
constexpr double kRefreshTolerance = 0.10;  // of the reported refresh interval
// Swaps measured when a window opens (one more than the intervals needed).
constexpr int kSwapsToMeasure = kMinSwapIntervals + 1;

// Environment variable and option value that force a mode: "locked" or "fallback".
inline constexpr const char* kPresentModeVariable = "PYOKORAN_PRESENT";

struct ModeDecision {
  PresentMode mode = PresentMode::Fallback;
  bool refresh_locked = false;  // the measurement matched a refresh
  int samples = 0;              // valid intervals
  double mean_ms = 0;
  double sd_ms = 0;
  double reported_hz = 0;
  double refresh_hz = 0;        // locked: measured; fallback: what presents are paced at
  std::string reason;           // why the measurement did or did not match a refresh
};

// intervals_ms: times between consecutive completed swaps (non-finite or non-positive ones
// are not valid); reported_hz: the screen's figure (outside 20 ... 500 Hz taken as 60).
// gl: an OpenGL swap could be measured at all. A forced mode wins over the measurement,
// except that the locked mode needs OpenGL.
ModeDecision DecidePresentMode(const std::vector<double>& intervals_ms, double reported_hz,
                               ForcedMode forced, bool gl);

// "locked" or "fallback" (as given to the option or the variable); None for anything else.
ForcedMode ParseForcedMode(const char* text);
const char* ModeName(PresentMode mode);

}  // namespace pyokoran
