#include "timing/browser_timing_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pyokoran {
namespace {

// A page at 60 Hz with prompt presses passes; each row spoils one figure. The last line is the
// verdict, and a headless browser never gets PASS or FAIL.
TEST(JudgeBrowserTimingCheck, VerdictFromEachFigure) {
  const struct {
    const char* name;
    void (*spoil)(BrowserTimingFigures&);
    const char* verdict;
    const char* line;  // the line that tells why
  } rows[] = {
      {"Regular", [](BrowserTimingFigures&) {}, "PASS", "PASS here means regular animation frames"},
      {"TooFewFrames", [](BrowserTimingFigures& f) { f.frame_intervals_ms.resize(20); }, "FAIL",
       "frame intervals judged: 20 after 0 warm-up frames (threshold >= 50): FAIL"},
      {"Irregular",
       [](BrowserTimingFigures& f) {
         for (size_t i = 0; i < f.frame_intervals_ms.size(); i += 2) f.frame_intervals_ms[i] = 14.0;
       },
       "FAIL", "animation frames regular: FAIL"},
      {"Dropped", [](BrowserTimingFigures& f) { f.frame_intervals_ms[60] = 33.4; }, "FAIL",
       "dropped frames: 1 (intervals over 1.5 times the median; threshold 0): FAIL"},
      {"SlowToPump", [](BrowserTimingFigures& f) { f.pump_delays_ms = {40, 50, 60}; }, "FAIL",
       "press to the program's event pump: 3 presses, median 50.0 ms, longest 60.0 ms"},
      {"NoPresses",
       [](BrowserTimingFigures& f) {
         f.page_delays_ms.clear();
         f.pump_delays_ms.clear();
       },
       "PASS", "press to the page's handler: no presses during the check"},
      {"TickLate", [](BrowserTimingFigures& f) { f.tick_lag_ms = 3; }, "FAIL",
       "tick lag behind the monotonic clock: 3.000 ms (threshold <= 1.0 ms): FAIL"},
      {"Headless", [](BrowserTimingFigures& f) { f.headless = true; }, "NOT JUDGED",
       "headless browser: nothing is shown on a screen"},
      {"HeadlessAndIrregular",
       [](BrowserTimingFigures& f) {
         f.headless = true;
         f.frame_intervals_ms[60] = 100;
       },
       "NOT JUDGED", "dropped frames: 1"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    BrowserTimingFigures f;
    f.frame_intervals_ms.assign(120, 16.667);
    f.page_delays_ms = {2, 3, 4};
    f.pump_delays_ms = {10, 12, 20};
    f.tick_lag_ms = 0.4;
    row.spoil(f);
    const TimingVerdict v = JudgeBrowserTimingCheck(f);
    EXPECT_EQ(v.pass, std::string(row.verdict) == "PASS");
    const std::string last = "\n" + std::string(row.verdict) + "\n";
    ASSERT_GE(v.text.size(), last.size());
    EXPECT_EQ(v.text.substr(v.text.size() - last.size()), last) << v.text;
    EXPECT_NE(v.text.find(row.line), std::string::npos) << v.text;
    // Always said, whatever the figures.
    EXPECT_NE(v.text.find("(no flip time) nor whether frames wait for the refresh (no refresh lock)"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace pyokoran
