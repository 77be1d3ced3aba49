#include "timing/present_mode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

namespace pyokoran {
namespace {

// Swap intervals of a scripted display: mean plus a spread that alternates around it, so
// the sample standard deviation comes out close to spread.
std::vector<double> Swaps(int count, double mean_ms, double spread_ms) {
  std::vector<double> v;
  for (int i = 0; i < count; ++i) v.push_back(mean_ms + (i % 2 ? spread_ms : -spread_ms));
  return v;
}

struct ModeCase {
  const char* name;
  std::vector<double> intervals;
  double reported_hz;
  ForcedMode forced;
  bool gl;
  PresentMode mode;
  bool locked;        // the measurement matched a refresh
  double refresh_hz;  // what frames are locked or paced to
  const char* reason;  // part of the reason
  friend std::ostream& operator<<(std::ostream& out, const ModeCase& c) { return out << c.name; }
};

class DecidePresentModeTest : public ::testing::TestWithParam<ModeCase> {};

TEST_P(DecidePresentModeTest, FromSwapTimings) {
  const ModeCase& c = GetParam();
  const ModeDecision d = DecidePresentMode(c.intervals, c.reported_hz, c.forced, c.gl);
  EXPECT_EQ(d.mode, c.mode);
  EXPECT_EQ(d.refresh_locked, c.locked);
  EXPECT_NEAR(d.refresh_hz, c.refresh_hz, 0.01);
  EXPECT_NE(d.reason.find(c.reason), std::string::npos) << d.reason;
}

// A refresh needs 50 intervals, SD <= 1 ms and a mean within 10% of the screen's figure;
// a forced mode wins, but the locked one only with OpenGL.
INSTANTIATE_TEST_SUITE_P(
    Cases, DecidePresentModeTest,
    ::testing::Values(
        ModeCase{"LockedDisplay", Swaps(59, 16.667, 0.05), 60, ForcedMode::None, true,
                 PresentMode::Locked, true, 60.0, "keep to the refresh"},
        ModeCase{"Display5994Hz", Swaps(59, 1000 / 59.94, 0.1), 60, ForcedMode::None, true,
                 PresentMode::Locked, true, 59.94, "keep to the refresh"},
        ModeCase{"SoftwareRendering", Swaps(59, 0.4, 0.1), 60, ForcedMode::None, true,
                 PresentMode::Fallback, false, 60.0, "do not wait"},
        ModeCase{"DriverIgnoresInterval", Swaps(59, 3.0, 0.8), 60, ForcedMode::None, true,
                 PresentMode::Fallback, false, 60.0, "do not wait"},
        ModeCase{"NoisyMachine", Swaps(59, 16.667, 2.5), 60, ForcedMode::None, true,
                 PresentMode::Fallback, false, 60.0, "vary too much"},
        ModeCase{"TooFewSwaps", Swaps(49, 16.667, 0.05), 60, ForcedMode::None, true,
                 PresentMode::Fallback, false, 60.0, "49 valid swap intervals, 50 needed"},
        ModeCase{"ScreenWithoutARate", Swaps(59, 16.667, 0.05), 0, ForcedMode::None, true,
                 PresentMode::Locked, true, 60.0, "keep to the refresh"},
        ModeCase{"NoOpenGL", {}, 75, ForcedMode::None, false, PresentMode::Fallback, false, 75.0,
                 "no OpenGL"},
        ModeCase{"ForcedFallback", Swaps(59, 16.667, 0.05), 60, ForcedMode::Fallback, true,
                 PresentMode::Fallback, true, 60.0, "forced"},
        ModeCase{"ForcedLockedOnSoftware", Swaps(59, 0.4, 0.1), 60, ForcedMode::Locked, true,
                 PresentMode::Locked, false, 60.0, "forced"},
        ModeCase{"ForcedLockedWithoutOpenGL", {}, 60, ForcedMode::Locked, false,
                 PresentMode::Fallback, false, 60.0, "locked mode forced but no OpenGL"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DecidePresentMode, InvalidIntervalsDoNotCount) {
  std::vector<double> v = Swaps(50, 16.667, 0.05);
  v.push_back(0.0);
  v.push_back(-3.0);
  v.push_back(std::nan(""));
  const ModeDecision d = DecidePresentMode(v, 60, ForcedMode::None, true);
  EXPECT_EQ(d.samples, 50);
  EXPECT_TRUE(d.refresh_locked);
  EXPECT_NEAR(d.mean_ms, 16.667, 1e-9);
}

TEST(ParseForcedMode, Names) {
  EXPECT_EQ(ParseForcedMode("locked"), ForcedMode::Locked);
  EXPECT_EQ(ParseForcedMode("fallback"), ForcedMode::Fallback);
  EXPECT_EQ(ParseForcedMode("Locked"), ForcedMode::None);
  EXPECT_EQ(ParseForcedMode(""), ForcedMode::None);
  EXPECT_EQ(ParseForcedMode(nullptr), ForcedMode::None);
}

}  // namespace
}  // namespace pyokoran
