// The display system's frame reports: UST checked against the monotonic clock by round
// trips and mapped onto it, and a run's completions counted (flips, copies, drops by MSC).
#include <gtest/gtest.h>

#include <ostream>
#include <tuple>
#include <vector>

#include "timing/flip_times.h"

namespace pyokoran {
namespace {

struct UstCase {
  const char* name;
  std::vector<UstProbe> probes;
  UstCheck::Kind kind;
  int64_t offset_us;
  friend std::ostream& operator<<(std::ostream& out, const UstCase& c) { return out << c.name; }
};

class UstCheckTest : public ::testing::TestWithParam<UstCase> {};

TEST_P(UstCheckTest, RoundTripsProveOrMeasureTheClock) {
  const UstCase& c = GetParam();
  const UstCheck check = CheckUstClock(c.probes);
  EXPECT_EQ(check.kind, c.kind);
  EXPECT_EQ(check.offset_us, c.offset_us);
  // A UST taken in the middle of the narrowest round trip maps back there.
  if (check.kind != UstCheck::Unchecked) {
    int64_t ns = 0;
    ASSERT_TRUE(UstToMonotonicNs(check, 5'000'000 + uint64_t(c.offset_us), ns));
    EXPECT_EQ(ns, 5'000'000'000);
  }
}

// Round trips of 100 us at 1 s, 2 s and 3 s, the answer's UST shifted by shift_us.
std::vector<UstProbe> Trips(int64_t shift_us, int64_t width_ns = 100'000) {
  std::vector<UstProbe> v;
  for (int64_t s = 1; s <= 3; ++s) {
    const int64_t before = s * 1'000'000'000;
    v.push_back({before, uint64_t(before / 1000 + 50 + shift_us), before + width_ns});
  }
  return v;
}

INSTANTIATE_TEST_SUITE_P(
    Probes, UstCheckTest,
    ::testing::Values(
        UstCase{"none", {}, UstCheck::Unchecked, 0},
        UstCase{"inside_every_trip", Trips(0), UstCheck::Monotonic, 0},
        UstCase{"at_the_trips_first_microsecond", {{1'000'000'500, 1'000'000, 1'000'100'000}},
                UstCheck::Monotonic, 0},
        UstCase{"behind_by_50_ms", Trips(-50'000), UstCheck::Offset, -50'000},
        UstCase{"ahead_by_3_ms", Trips(3'000), UstCheck::Offset, 3'000},
        UstCase{"just_after_the_answer", Trips(51), UstCheck::Offset, 51},
        // Probes that cannot be judged are left out: a UST of 0, a trip ending before it began.
        UstCase{"broken_probes_only", {{10, 0, 20}, {30, 5, 10}}, UstCheck::Unchecked, 0},
        // One wide trip outside: the offset comes from the narrowest.
        UstCase{"narrowest_trip_gives_the_offset",
                {{1'000'000'000, 990'000, 1'040'000'000}, {2'000'000'000, 1'990'100, 2'000'200'000}},
                UstCheck::Offset, -10'000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UstCheckTest, UncheckedOrUnknownUstIsNotMapped) {
  int64_t ns = 7;
  EXPECT_FALSE(UstToMonotonicNs(UstCheck{}, 1000, ns));
  EXPECT_FALSE(UstToMonotonicNs(CheckUstClock(Trips(0)), 0, ns));
  EXPECT_EQ(ns, 7);
}

struct CountCase {
  const char* name;
  int present_every;
  // msc, mode (0 copy, 1 flip, 2 skip), follows the previous frame
  std::vector<std::tuple<uint64_t, int, bool>> frames;
  std::vector<bool> dropped;  // per frame
  int flips, copies, skips, total_dropped;
  int64_t missed;
  friend std::ostream& operator<<(std::ostream& out, const CountCase& c) { return out << c.name; }
};

class CompletionCountTest : public ::testing::TestWithParam<CountCase> {};

TEST_P(CompletionCountTest, DropsAreFramesWhoseMscSkipped) {
  const CountCase& c = GetParam();
  CompletionCount count;
  count.Start(c.present_every);
  ASSERT_EQ(c.frames.size(), c.dropped.size());
  for (size_t i = 0; i < c.frames.size(); ++i) {
    const auto& [msc, mode, follows] = c.frames[i];
    EXPECT_EQ(count.Frame({1000 + msc * 16667, msc, CompletionModeFromPresent(uint8_t(mode))}, follows),
              c.dropped[i])
        << "frame " << i;
  }
  EXPECT_EQ(count.flips(), c.flips);
  EXPECT_EQ(count.copies(), c.copies);
  EXPECT_EQ(count.skips(), c.skips);
  EXPECT_EQ(count.dropped(), c.total_dropped);
  EXPECT_EQ(count.refreshes_missed(), c.missed);
}

INSTANTIATE_TEST_SUITE_P(
    Series, CompletionCountTest,
    ::testing::Values(
        CountCase{"every_refresh", 1, {{10, 1, true}, {11, 1, true}, {12, 1, true}},
                  {false, false, false}, 3, 0, 0, 0, 0},
        CountCase{"one_refresh_missed", 1, {{10, 1, true}, {11, 1, true}, {13, 0, true}, {14, 1, true}},
                  {false, false, true, false}, 3, 1, 0, 1, 1},
        CountCase{"three_refreshes_missed_at_once", 1, {{10, 1, true}, {14, 1, true}},
                  {false, true}, 2, 0, 0, 1, 3},
        CountCase{"every_second_refresh_at_120_hz", 2, {{10, 1, true}, {12, 1, true}, {14, 1, true}, {17, 1, true}},
                  {false, false, false, true}, 4, 0, 0, 1, 1},
        CountCase{"after_a_pause_a_later_refresh_is_no_drop", 1, {{10, 1, true}, {40, 1, false}, {41, 1, true}},
                  {false, false, false}, 3, 0, 0, 0, 0},
        CountCase{"skipped_by_the_display_system", 1, {{10, 1, true}, {11, 2, true}, {11, 1, true}},
                  {false, true, false}, 2, 0, 1, 1, 0},
        CountCase{"msc_going_back_starts_again", 1, {{100, 0, true}, {5, 0, true}, {6, 3, true}},
                  {false, false, false}, 0, 3, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pyokoran
