#include "timing/browser_timing_check.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "timing/present_mode.h"

namespace pyokoran {

namespace {

__attribute__((format(printf, 2, 3))) void Line(std::string& out, const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  out += buffer;
  out += '\n';
}

const char* Verdict(bool ok) { return ok ? "ok" : "FAIL"; }

double MedianOf(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The delays of the presses against their threshold; true when judged and within it (or
// nothing to judge).
bool DelayLine(std::string& out, const char* to, const std::vector<double>& delays, double threshold_ms,
               const char* threshold_name) {
  if (delays.empty()) {
    Line(out, "  input delay, press to %s: no presses during the check (tap the screen while it "
              "runs): not judged", to);
    return true;
  }
  const double median = MedianOf(delays);
  const double longest = *std::max_element(delays.begin(), delays.end());
  const bool ok = median <= threshold_ms;
  Line(out, "  input delay, press to %s: %d presses, median %.1f ms, longest %.1f ms "
            "(threshold median <= %s, %.1f ms): %s",
       to, int(delays.size()), median, longest, threshold_name, threshold_ms, Verdict(ok));
  return ok;
}

}  // namespace

TimingVerdict JudgeBrowserTimingCheck(const BrowserTimingFigures& f) {
  TimingVerdict v;
  std::string& out = v.text;
  // No refresh rate is reported: the intervals are judged against their own median, with the
  // same figures as a swap measurement.
  std::vector<double> valid;
  for (double i : f.frame_intervals_ms) {
    if (std::isfinite(i) && i > 0) valid.push_back(i);
  }
  const double raw_median = MedianOf(valid);
  const double rate_hz = raw_median > 0 ? 1000.0 / raw_median : 0.0;
  const ModeDecision d = DecidePresentMode(valid, rate_hz, ForcedMode::None, true);
  const double frame_ms = d.median_ms > 0 ? d.median_ms : 1000.0 / 60;

  const bool samples_ok = d.samples >= kMinSwapIntervals;
  const bool near_ok = samples_ok && d.near_share >= kMinShareNearRefresh;
  const bool mad_ok = samples_ok && d.mad_ms <= kMaxSwapMadMs;
  const bool regular = samples_ok && near_ok && mad_ok;
  int dropped = 0;
  double longest = 0;
  for (double i : valid) {
    if (i > 1.5 * frame_ms) ++dropped;
    longest = std::max(longest, i);
  }
  const bool dropped_ok = dropped == 0;
  const bool lag_ok = f.tick_lag_ms <= kMaxTickLagMs;

  Line(out, "ピョコラン timing check (browser)");
  Line(out, "  mode a run would use: browser (the page's animation frames)");
  Line(out, "  refresh lock: not reported: a browser tells neither when a frame reached the screen "
            "(no flip time) nor whether frames wait for the refresh (no refresh lock): not judged");
  Line(out, "  animation frames regular: %s", regular ? "PASS" : "FAIL");
  Line(out, "    frame intervals judged: %d after %d warm-up frames (threshold >= %d): %s",
       d.samples, d.warm_up, kMinSwapIntervals, Verdict(samples_ok));
  if (d.samples > 0) {
    auto judged = [samples_ok](bool ok) { return samples_ok ? Verdict(ok) : "not judged"; };
    Line(out, "    within %.0f%% of their median: %.0f%% of them (threshold >= %.0f%%): %s",
         kNearRefresh * 100, d.near_share * 100, kMinShareNearRefresh * 100, judged(near_ok));
    Line(out, "    median absolute deviation: %.3f ms (threshold <= %.1f ms): %s", d.mad_ms,
         kMaxSwapMadMs, judged(mad_ok));
    Line(out, "    median: %.3f ms = %.2f Hz, the page's frame rate (the screen's refresh is not "
              "reported)", d.median_ms, d.median_ms > 0 ? 1000.0 / d.median_ms : 0.0);
    Line(out, "    mean %.3f ms, SD %.3f ms (not judged)", d.mean_ms, d.sd_ms);
  } else {
    Line(out, "    no frame intervals measured: nothing else to judge");
  }
  Line(out, "  frame times: requestAnimationFrame time of the frame that drew it (no flip time): "
            "an onset is when the browser drew the frame, not when the screen showed it");
  Line(out, "  each frame drawn on %d animation frame(s); a creature rises in %.0f ms",
       f.present_every, RiseTimeMs(1000.0 / frame_ms / std::max(f.present_every, 1)));
  Line(out, "  frames presented: %d, longest interval %.1f ms", int(valid.size()) + (valid.empty() ? 0 : 1),
       longest);
  Line(out, "  dropped frames: %d (intervals over 1.5 times the median; threshold 0): %s", dropped,
       Verdict(dropped_ok));
  const bool page_ok = DelayLine(out, "the page's handler", f.page_delays_ms, frame_ms, "one frame");
  const bool pump_ok =
      DelayLine(out, "the program's event pump", f.pump_delays_ms, 2 * frame_ms, "two frames");
  Line(out, "  a press is timed by its event's timeStamp: these delays do not enter RT; a long one "
            "means the page is busy and a struck creature is shown late");
  Line(out, "  tick lag behind the monotonic clock: %.3f ms (threshold <= %.1f ms): %s", f.tick_lag_ms,
       kMaxTickLagMs, Verdict(lag_ok));
  if (!f.tick_scheduling.empty()) Line(out, "  %s", f.tick_scheduling.c_str());
  Line(out, "  input event times: the events' timeStamp (performance.now of the page)");
  v.pass = regular && dropped_ok && page_ok && pump_ok && lag_ok && !f.headless;
  if (f.headless) {
    Line(out, "  headless browser: nothing is shown on a screen, so these figures say nothing about "
              "timing: check on the device and browser of the study");
    Line(out, "NOT JUDGED");
  } else {
    Line(out, "  %s", v.pass ? "PASS here means regular animation frames and prompt input on this "
                               "page, not that frames reached the screen on time: no browser reports that"
                             : "what failed is marked FAIL above");
    Line(out, "%s", v.pass ? "PASS" : "FAIL");
  }
  return v;
}

}  // namespace pyokoran
