// The timing self-check (pyokoran --check-timing): the platform opens the full-screen window
// alone, presents a changing pattern the way a run would, and its figures are judged
// against the thresholds of the established synchronisation tests.
#pragma once

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace pyokoran {

constexpr double kMaxTickLagMs = 1.0;

struct TimingVerdict {
  bool pass = false;
  std::string text;  // the report, ending with the line "PASS" or "FAIL"
};

// Judges a check's figures: at least 50 swap intervals after the warm-up, 90% of them within
// 5% of a refresh, a MAD <= 0.5 ms and a median within 10% of the screen's refresh (the
// refresh lock), the lock kept throughout, no dropped frame in locked mode, the tick's lag
// within 1 ms.
TimingVerdict JudgeTimingCheck(const PresentationReport& report);

struct ModeDecision;

// The decision's figures in a presentation report: mode (fallback unless locked), reason,
// refresh rates, the measured swaps, every how many refreshes a frame goes out, rise time.
void FillFromDecision(const ModeDecision& decision, bool locked, PresentationReport& report);

// The check's window takes no input.
class NoPointer : public PointerHandler {
 public:
  void OnButtonDown(MouseButton, int32_t, int32_t) override {}
  void OnButtonUp(MouseButton) override {}
  void OnMouseMove(int32_t, int32_t, bool) override {}
  void OnTouch(const std::vector<TouchContact>&) override {}
  void OnActivate(bool) override {}
  void OnCloseOrDestroy() override {}
};

// The check's changing pattern: grey ground, a white bar sweeping across, a block per frame
// count.
void DrawCheckPattern(Surface& stage, int frame);

// Runs the platform's check and prints the report to out; 0 for PASS, 1 for FAIL.
int CheckTiming(Platform& platform, std::FILE* out);

}  // namespace pyokoran
