#include "timing/timing_check.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>

#include "display/surface.h"
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

}  // namespace

TimingVerdict JudgeTimingCheck(const PresentationReport& r) {
  TimingVerdict v;
  std::string& out = v.text;
  const bool locked = r.mode == "locked";
  const double reported_hz = r.reported_hz >= 20.0 && r.reported_hz <= 500.0 ? r.reported_hz : 60.0;
  const double refresh_ms = 1000.0 / reported_hz;

  const bool samples_ok = r.swap_samples >= kMinSwapIntervals;
  const bool near_ok = samples_ok && r.swap_near_share >= kMinShareNearRefresh;
  const bool mad_ok = samples_ok && r.swap_mad_ms <= kMaxSwapMadMs;
  const bool median_ok =
      samples_ok && std::fabs(r.swap_median_ms - refresh_ms) <= kRefreshTolerance * refresh_ms;
  const bool lock_ok = samples_ok && near_ok && mad_ok && median_ok && r.refresh_locked;
  const bool dropped_ok = !locked || r.dropped == 0;
  const bool kept_ok = r.lock_lost_ms < 0;
  const bool lag_ok = r.tick_lag_ms <= kMaxTickLagMs;
  v.pass = lock_ok && locked && dropped_ok && kept_ok && lag_ok;

  Line(out, "ピョコラン timing check");
  Line(out, "  mode a run would use: %s (%s)", r.mode.c_str(), r.reason.c_str());
  Line(out, "  refresh lock: %s", lock_ok && locked ? "PASS" : "FAIL");
  Line(out, "    swap intervals judged: %d after %d warm-up swaps (threshold >= %d): %s",
       r.swap_samples, r.swap_warm_up, kMinSwapIntervals, Verdict(samples_ok));
  if (r.swap_samples <= 0) {
    // Nothing was measured (no OpenGL swap, or the fallback forced): no figures to judge.
    Line(out, "    no swap intervals measured: nothing else to judge");
  } else {
    // Too few intervals are shown but not judged.
    auto judged = [samples_ok](bool ok) { return samples_ok ? Verdict(ok) : "not judged"; };
    Line(out, "    within %.0f%% of a refresh: %.0f%% of them (threshold >= %.0f%%): %s",
         kNearRefresh * 100, r.swap_near_share * 100, kMinShareNearRefresh * 100,
         judged(near_ok));
    Line(out, "    median absolute deviation: %.3f ms (threshold <= %.1f ms): %s", r.swap_mad_ms,
         kMaxSwapMadMs, judged(mad_ok));
    Line(out,
         "    median: %.3f ms = %.2f Hz against the screen's %.2f Hz (threshold within %.0f%%): %s",
         r.swap_median_ms, r.swap_median_ms > 0 ? 1000.0 / r.swap_median_ms : 0.0, reported_hz,
         kRefreshTolerance * 100, judged(median_ok));
    Line(out, "    mean %.3f ms, SD %.3f ms (not judged)", r.swap_mean_ms, r.swap_sd_ms);
  }
  if (!(lock_ok && locked)) {
    Line(out, "    reason: %s",
         lock_ok ? "the locked mode was not used (forced off)" : r.reason.c_str());
  }
  if (!r.flip_source.empty()) Line(out, "  frame times: %s", r.flip_source.c_str());
  Line(out, "  each frame shown for %d refresh(es); a creature rises in %.0f ms", r.present_every,
       r.rise_ms);
  if (locked) {
    if (kept_ok) {
      Line(out, "  lock kept for the whole check: ok");
    } else {
      Line(out, "  lock lost at %.3f ms; %d frames after it paced on the clock: FAIL",
           r.lock_lost_ms, r.unlocked_frames);
    }
  }
  Line(out, "  frames presented: %d at %.3f Hz, longest interval %.1f ms", r.frames, r.refresh_hz,
       r.longest_interval_ms);
  if (locked) {
    Line(out, "  dropped frames: %d (threshold 0 in locked mode): %s", r.dropped,
         Verdict(dropped_ok));
  } else {
    Line(out, "  dropped frames: %d (threshold 0 in locked mode; not judged when paced by the "
              "clock)", r.dropped);
  }
  Line(out, "  tick lag behind the monotonic clock: %.3f ms (threshold <= %.1f ms): %s",
       r.tick_lag_ms, kMaxTickLagMs, Verdict(lag_ok));
  if (!r.tick_scheduling.empty()) Line(out, "  %s", r.tick_scheduling.c_str());
  if (!r.event_clock.empty()) Line(out, "  input event times: %s", r.event_clock.c_str());
  Line(out, "%s", v.pass ? "PASS" : "FAIL");
  return v;
}

int CheckTiming(Platform& platform, std::FILE* out) {
  PresentationReport report;
  if (!platform.RunPresentationCheck(report)) {
    std::fprintf(out, "ピョコラン timing check\n  no full-screen window could be shown\nFAIL\n");
    return 1;
  }
  const TimingVerdict v = JudgeTimingCheck(report);
  std::fputs(v.text.c_str(), out);
  std::fflush(out);
  return v.pass ? 0 : 1;
}

void FillFromDecision(const ModeDecision& decision, bool locked, PresentationReport& r) {
  r.mode = ModeName(locked ? decision.mode : PresentMode::Fallback);
  r.reason = decision.reason;
  r.reported_hz = decision.reported_hz;
  r.refresh_hz = decision.refresh_hz;
  r.refresh_locked = decision.refresh_locked;
  r.swap_samples = decision.samples;
  r.swap_warm_up = decision.warm_up;
  r.swap_mean_ms = decision.mean_ms;
  r.swap_sd_ms = decision.sd_ms;
  r.swap_median_ms = decision.median_ms;
  r.swap_mad_ms = decision.mad_ms;
  r.swap_near_share = decision.near_share;
  r.present_every = decision.present_every;
  r.rise_ms = RiseTimeMs(decision.refresh_hz / decision.present_every);
}

void DrawCheckPattern(Surface& stage, int frame) {
  std::fill(stage.pixels.begin(), stage.pixels.end(), 0x404040u);
  const int bar = (frame * 16) % stage.width;
  for (int y = 0; y < stage.height; ++y) {
    uint32_t* row = stage.row(y);
    for (int x = bar; x < std::min(bar + 32, stage.width); ++x) row[x] = 0xFFFFFF;
  }
  const int block = (frame % 60) * 16;
  for (int y = 700; y < 732; ++y) {
    for (int x = block; x < std::min(block + 16, stage.width); ++x) stage.row(y)[x] = 0xFF8000;
  }
}

}  // namespace pyokoran
