#include "timing/timing_check.h"

#include <gtest/gtest.h>

#include <string>

#include "timing/present_mode.h"

namespace pyokoran {
namespace {

// Figures that were never measured get no verdict: a check without swap intervals (the
// fallback forced) says so instead of judging zeros, and too few intervals are shown unjudged.
TEST(JudgeTimingCheck, NoVerdictOnFiguresNeverMeasured) {
  const struct {
    const char* name;
    int samples;
    const char* has;
    const char* lacks;
  } rows[] = {
      {"None", 0, "no swap intervals measured", "median absolute deviation"},
      {"TooFew", 12, "median absolute deviation: 0.100 ms (threshold <= 0.5 ms): not judged", "%): FAIL"},
      {"Enough", kMinSwapIntervals, "median absolute deviation: 0.100 ms (threshold <= 0.5 ms): ok", "not judged\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    PresentationReport r;
    r.mode = "fallback";
    r.reason = "forced";
    r.reported_hz = 60;
    r.swap_samples = row.samples;
    r.swap_mad_ms = 0.1;
    r.swap_median_ms = 16.7;
    r.swap_near_share = 1;
    const TimingVerdict v = JudgeTimingCheck(r);
    EXPECT_FALSE(v.pass);
    EXPECT_NE(v.text.find(row.has), std::string::npos) << v.text;
    EXPECT_EQ(v.text.find(row.lacks), std::string::npos) << v.text;
  }
}

}  // namespace
}  // namespace pyokoran
