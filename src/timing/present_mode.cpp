#include "timing/present_mode.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace pyokoran {

namespace {

std::string Format(const char* format, double a, double b) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

}  // namespace

ForcedMode ParseForcedMode(const char* text) {
  if (!text) return ForcedMode::None;
  if (std::strcmp(text, "locked") == 0) return ForcedMode::Locked;
  if (std::strcmp(text, "fallback") == 0) return ForcedMode::Fallback;
  return ForcedMode::None;
}

const char* ModeName(PresentMode mode) {
  return mode == PresentMode::Locked ? "locked" : "fallback";
}

ModeDecision DecidePresentMode(const std::vector<double>& intervals_ms, double reported_hz,
                               ForcedMode forced, bool gl) {
  ModeDecision d;
  d.reported_hz = reported_hz >= 20.0 && reported_hz <= 500.0 ? reported_hz : 60.0;
  const double reported_ms = 1000.0 / d.reported_hz;

  double sum = 0;
  for (double v : intervals_ms) {
    if (std::isfinite(v) && v > 0) {
      sum += v;
      ++d.samples;
    }
  }
  if (d.samples > 0) {
    d.mean_ms = sum / d.samples;
    double squares = 0;
    for (double v : intervals_ms) {
      if (std::isfinite(v) && v > 0) squares += (v - d.mean_ms) * (v - d.mean_ms);
    }
    d.sd_ms = d.samples > 1 ? std::sqrt(squares / (d.samples - 1)) : 0.0;
  }

  if (!gl) {
    d.reason = "no OpenGL swap to measure";
  } else if (d.samples < kMinSwapIntervals) {
    d.reason = Format("%.0f valid swap intervals, %.0f needed", d.samples, kMinSwapIntervals);
  } else if (std::fabs(d.mean_ms - reported_ms) > kRefreshTolerance * reported_ms) {
    d.reason = Format("swaps do not wait for the refresh (mean %.3f ms, refresh %.3f ms)",
                      d.mean_ms, reported_ms);
  } else if (d.sd_ms > kMaxSwapSdMs) {
    d.reason = Format("swap intervals vary too much (SD %.3f ms > %.1f ms)", d.sd_ms, kMaxSwapSdMs);
  } else {
    d.refresh_locked = true;
    d.reason = "swaps keep to the refresh";
  }

  if (forced == ForcedMode::Locked && gl) {
    d.mode = PresentMode::Locked;
    d.reason = "forced; " + d.reason;
  } else if (forced == ForcedMode::Fallback) {
    d.mode = PresentMode::Fallback;
    d.reason = "forced; " + d.reason;
  } else {
    d.mode = d.refresh_locked ? PresentMode::Locked : PresentMode::Fallback;
    if (forced == ForcedMode::Locked) d.reason = "locked mode forced but " + d.reason;
  }
  d.refresh_hz = d.refresh_locked ? 1000.0 / d.mean_ms : d.reported_hz;
  return d;
}

}  // namespace pyokoran
