#include "timing/present_mode.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "run/scheduler.h"

namespace pyokoran {

namespace {

std::string Format(const char* format, double a, double b = 0, double c = 0) {
  char text[200];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  const size_t middle = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + middle, v.end());
  const double upper = v[middle];
  if (v.size() % 2) return upper;
  const double lower = *std::max_element(v.begin(), v.begin() + middle);
  return (lower + upper) / 2;
}

bool Valid(double v) { return std::isfinite(v) && v > 0; }

}  // namespace

ForcedMode ParseForcedMode(const char* text) {
  if (!text) return ForcedMode::None;
  if (std::strcmp(text, "locked") == 0) return ForcedMode::Locked;
  if (std::strcmp(text, "fallback") == 0) return ForcedMode::Fallback;
  return ForcedMode::None;
}

const char* ModeName(PresentMode mode) {
  switch (mode) {
    case PresentMode::Locked: return "locked";
    case PresentMode::LockedForced: return "locked-forced";
    case PresentMode::Fallback: break;
  }
  return "fallback";
}

int PresentEvery(double refresh_hz) {
  if (!std::isfinite(refresh_hz) || refresh_hz < 60.0 * 0.99) return 1;
  const double n = std::round(refresh_hz / 60.0);
  return std::fabs(refresh_hz - n * 60.0) <= 0.01 * n * 60.0 ? int(n) : 1;
}

double RiseTimeMs(double frame_hz) {
  const int frames = kRiseStartDepth / STEP_PX;  // from the first frame to fully up
  return frame_hz > 0 ? frames * 1000.0 / frame_hz : 0.0;
}

ModeDecision DecidePresentMode(const std::vector<double>& intervals_ms, double reported_hz,
                               ForcedMode forced, bool gl, const std::vector<double>& work_ms) {
  ModeDecision d;
  d.reported_hz = reported_hz >= 20.0 && reported_hz <= 500.0 ? reported_hz : 60.0;
  const double reported_ms = 1000.0 / d.reported_hz;
  auto near = [&](double v) { return std::fabs(v - reported_ms) <= kNearRefresh * reported_ms; };

  // The valid intervals.
  std::vector<size_t> kept;
  for (size_t i = 0; i < intervals_ms.size(); ++i) {
    if (Valid(intervals_ms[i])) kept.push_back(i);
  }
  // The warm-up: leading intervals until the first near a refresh. A series that never
  // comes near one is judged whole.
  for (int i = 0; i <= kMaxWarmUpSwaps && i < int(kept.size()); ++i) {
    if (near(intervals_ms[kept[size_t(i)]])) {
      d.warm_up = i;
      break;
    }
  }
  kept.erase(kept.begin(), kept.begin() + d.warm_up);
  // And the drawing times of those kept, where known.
  std::vector<double> valid, work;
  for (size_t i : kept) {
    valid.push_back(intervals_ms[i]);
    if (i < work_ms.size() && std::isfinite(work_ms[i])) work.push_back(work_ms[i]);
  }
  d.samples = int(valid.size());
  if (d.samples > 0) {
    double sum = 0;
    int near_count = 0;
    for (double v : valid) {
      sum += v;
      if (near(v)) ++near_count;
    }
    d.mean_ms = sum / d.samples;
    double squares = 0;
    for (double v : valid) squares += (v - d.mean_ms) * (v - d.mean_ms);
    d.sd_ms = d.samples > 1 ? std::sqrt(squares / (d.samples - 1)) : 0.0;
    d.median_ms = Median(valid);
    std::vector<double> deviations;
    for (double v : valid) deviations.push_back(std::fabs(v - d.median_ms));
    d.mad_ms = Median(deviations);
    d.near_share = double(near_count) / d.samples;
  }
  // The refresh itself: the mean of the intervals near one.
  double near_sum = 0;
  int near_n = 0;
  for (double v : valid) {
    if (near(v)) {
      near_sum += v;
      ++near_n;
    }
  }
  const double near_mean_ms = near_n > 0 ? near_sum / near_n : reported_ms;
  const double work_median = work.empty() ? 0.0 : Median(work);

  if (!gl) {
    d.reason = "no OpenGL swap to measure";
  } else if (d.samples < kMinSwapIntervals) {
    d.reason = Format("%.0f valid swap intervals, %.0f needed", d.samples, kMinSwapIntervals);
  } else if (std::fabs(d.median_ms - reported_ms) > kRefreshTolerance * reported_ms &&
             std::fabs(d.mean_ms - reported_ms) > kRefreshTolerance * reported_ms) {
    d.reason = Format("swaps do not wait for the refresh (median %.3f ms, refresh %.3f ms)",
                      d.median_ms, reported_ms);
  } else if (!work.empty() && work_median >= kSlowSwapWorkShare * d.median_ms) {
    d.reason = Format("swaps are slow, not waiting: drawing takes %.3f ms of %.3f ms",
                      work_median, d.median_ms);
  } else if (d.near_share < kMinShareNearRefresh || d.mad_ms > kMaxSwapMadMs) {
    d.reason = Format("swap intervals vary too much (%.0f%% near a refresh, MAD %.3f ms)",
                      100.0 * d.near_share, d.mad_ms);
  } else {
    d.refresh_locked = true;
    d.reason = Format("swaps keep to the refresh (%.0f%% near it, MAD %.3f ms)",
                      100.0 * d.near_share, d.mad_ms);
  }
  if (d.warm_up > 0) d.reason += Format("; %.0f warm-up swaps left out", d.warm_up);

  if (forced == ForcedMode::Locked && gl) {
    d.mode = d.refresh_locked ? PresentMode::Locked : PresentMode::LockedForced;
    d.reason = "forced; " + d.reason;
  } else if (forced == ForcedMode::Fallback) {
    d.mode = PresentMode::Fallback;
    d.reason = "forced; " + d.reason;
  } else {
    d.mode = d.refresh_locked ? PresentMode::Locked : PresentMode::Fallback;
    if (forced == ForcedMode::Locked) d.reason = "locked mode forced but " + d.reason;
  }
  d.refresh_hz = d.refresh_locked ? 1000.0 / near_mean_ms : d.reported_hz;
  d.present_every = PresentEvery(d.refresh_hz);
  return d;
}

void LockWatch::Start(double refresh_ms) { *this = LockWatch{}; refresh_ms_ = refresh_ms; }

bool LockWatch::Frame(int64_t time_us, bool follows_previous) {
  if (lost_) {
    ++unlocked_frames_;
    return true;
  }
  if (have_previous_ && follows_previous && refresh_ms_ > 0) {
    const double gap_ms = double(time_us - previous_us_) / 1000.0;
    if (gap_ms < 0.5 * refresh_ms_) {
      if (quick_++ == 0) first_quick_us_ = time_us;
      if (quick_ >= kLockLostFrames) {
        lost_ = true;
        lost_at_us_ = first_quick_us_;
        unlocked_frames_ = quick_;
      }
    } else {
      quick_ = 0;
    }
  } else if (!follows_previous) {
    quick_ = 0;
  }
  previous_us_ = time_us;
  have_previous_ = true;
  return lost_;
}

}  // namespace pyokoran
