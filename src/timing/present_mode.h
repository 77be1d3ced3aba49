// Which way frames reach the screen: locked to the display's refresh through an OpenGL swap,
// or through the window's backing store paced on the monotonic clock. Decided from swap
// intervals measured when the experiment window opens, and watched for the whole run.
// Qt-free: every system's display layer decides with the same function.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pyokoran {

// Locked: the swaps were measured to wait for the refresh. LockedForced: the locked mode was
// forced although they were not (frames are then paced on the clock). Fallback: the backing
// store, paced on the clock.
enum class PresentMode { Locked, LockedForced, Fallback };
enum class ForcedMode { None, Locked, Fallback };

// What a swap measurement must show for the locked mode.
constexpr int kMinSwapIntervals = 50;
// The first intervals after the window appears are left out until one lies near the refresh
// (at most this many): the window system is still settling.
constexpr int kMaxWarmUpSwaps = 10;
constexpr double kRefreshTolerance = 0.10;  // of the reported refresh interval, for the median
constexpr double kNearRefresh = 0.05;       // an interval within 5% of one refresh is "near"
constexpr double kMinShareNearRefresh = 0.90;  // of the intervals kept
constexpr double kMaxSwapMadMs = 0.5;       // median absolute deviation of the intervals
// A swap whose drawing takes this share of its interval or more is slow, not waiting.
constexpr double kSlowSwapWorkShare = 0.8;
// Swaps measured when a window opens (one more than the intervals needed, and the warm-up).
constexpr int kSwapsToMeasure = kMinSwapIntervals + kMaxWarmUpSwaps + 1;

// Environment variable and option value that force a mode: "locked" or "fallback".
inline constexpr const char* kPresentModeVariable = "PYOKORAN_PRESENT";

struct ModeDecision {
  PresentMode mode = PresentMode::Fallback;
  bool refresh_locked = false;  // the measurement matched a refresh
  int samples = 0;              // valid intervals judged (after the warm-up)
  int warm_up = 0;              // intervals left out at the start
  double median_ms = 0;
  double mad_ms = 0;            // median absolute deviation from the median
  double near_share = 0;        // share of the intervals within 5% of one refresh
  double mean_ms = 0;
  double sd_ms = 0;
  double reported_hz = 0;
  double refresh_hz = 0;        // locked: measured; otherwise what presents are paced at
  int present_every = 1;        // frames shown on every n-th refresh (n at multiples of 60 Hz)
  std::string reason;           // why the measurement did or did not match a refresh
};

// intervals_ms: times between consecutive completed swaps (non-finite or non-positive ones
// are not valid); work_ms: for each, the drawing done before its swap was asked for (may be
// empty: then waiting and slow swaps are told apart by their intervals alone);
// reported_hz: the screen's figure (outside 20 ... 500 Hz taken as 60). gl: an OpenGL swap
// could be measured at all. A forced mode wins over the measurement, except that the locked
// mode needs OpenGL, and a forced lock that was not measured is LockedForced.
ModeDecision DecidePresentMode(const std::vector<double>& intervals_ms, double reported_hz,
                               ForcedMode forced, bool gl,
                               const std::vector<double>& work_ms = {});

// How many refreshes each frame stays on screen so that frames come at 60 Hz: n where
// refresh_hz is within 1% of n x 60 Hz (n >= 1), else 1.
int PresentEvery(double refresh_hz);
// How long a creature takes to rise at frame_hz frames a second (31 frames of 4 rows).
double RiseTimeMs(double frame_hz);

// "locked" or "fallback" (as given to the option or the variable); None for anything else.
ForcedMode ParseForcedMode(const char* text);
// "locked", "locked-forced" or "fallback".
const char* ModeName(PresentMode mode);

// Watches a locked run frame by frame: once kLockLostFrames frames in a row follow their
// predecessor sooner than half a refresh interval, the swaps no longer wait (a compositor
// took over, the display slept). From then on frames are to be paced on the clock and are
// counted apart.
constexpr int kLockLostFrames = 3;
class LockWatch {
 public:
  // A new run with frames due every refresh_ms.
  void Start(double refresh_ms);
  // A frame presented at time_us (tick clock), following the previous one directly (not
  // after a pass that presented nothing). True once the lock is lost.
  bool Frame(int64_t time_us, bool follows_previous = true);
  bool lost() const { return lost_; }
  int64_t lost_at_us() const { return lost_at_us_; }  // the first of the quick frames
  int unlocked_frames() const { return unlocked_frames_; }  // frames presented since

 private:
  double refresh_ms_ = 0;
  bool have_previous_ = false;
  int64_t previous_us_ = 0;
  int quick_ = 0;
  int64_t first_quick_us_ = 0;
  bool lost_ = false;
  int64_t lost_at_us_ = 0;
  int unlocked_frames_ = 0;
};

}  // namespace pyokoran
