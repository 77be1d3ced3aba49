#include "timing/event_clock.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace pyokoran {
namespace {

struct Event {
  uint32_t event_ms;          // the system's own time
  int64_t arrival_us;         // when it reached the program, tick clock
  int64_t stamp_us;           // expected
  int64_t arrival_mono_ns;  // the arrival on the monotonic clock
};

// An event at tick_ms on the tick clock, on a system clock running 1000000 ms ahead of it
// while the monotonic clock is the tick clock: the system's clock is another clock.
Event At(uint32_t tick_ms, int64_t arrival_us, int64_t stamp_us) {
  return {tick_ms + 1000000u, arrival_us, stamp_us, arrival_us * 1000};
}

// The monotonic clock runs kAheadUs ahead of the tick clock, and the system's clock is the
// monotonic clock in milliseconds (wrapping at 2^32), as an X server on Linux keeps it.
constexpr int64_t kAheadUs = 4000000000000;
Event Mono(int64_t event_tick_us, int64_t arrival_us, int64_t stamp_us) {
  return {uint32_t((event_tick_us + kAheadUs) / 1000), arrival_us, stamp_us,
          (arrival_us + kAheadUs) * 1000};
}

struct ClockCase {
  const char* name;
  std::vector<Event> events;
  friend std::ostream& operator<<(std::ostream& out, const ClockCase& c) { return out << c.name; }
};

class EventClockTest : public ::testing::TestWithParam<ClockCase> {};

TEST_P(EventClockTest, StampsEachEvent) {
  EventClock clock;
  int i = 0;
  for (const Event& e : GetParam().events) {
    EXPECT_EQ(clock.Stamp(e.event_ms, e.arrival_mono_ns, e.arrival_us), e.stamp_us) << "event " << i;
    ++i;
  }
}

// An event normally arrives 300 us after it happened.
INSTANTIATE_TEST_SUITE_P(
    Cases, EventClockTest,
    ::testing::Values(
        ClockCase{"FirstEventTakesItsArrival", {At(1, 1300, 1300)}},
        ClockCase{"PressWaitingOutAFrame",  // delivered 12 ms late, after a present
                  {At(1, 1300, 1300), At(2, 2300, 2300), At(5, 17300, 5300)}},
        ClockCase{"PressBetweenFrames", {At(1, 1300, 1300), At(3, 3300, 3300)}},
        ClockCase{"UntimedEventTakesItsArrival",
                  {At(1, 1300, 1300), At(2, 2300, 2300), {0u, 17300, 17300, 17300000}}},
        ClockCase{"EarlierEventsTightenTheOffset",  // the first arrived 5 ms late
                  {At(1, 6300, 6300), At(2, 2300, 2300), At(3, 3300, 3300), At(9, 14300, 9300)}},
        ClockCase{"ClockJumpFallsBackToArrival",
                  {At(1, 1300, 1300), At(2, 2300, 2300), {5000000u, 3300, 3300, 3300000},
                   {5000001u, 4300, 4300, 4300000}, {5000002u, 10300, 5300, 10300000}}},
        ClockCase{"ClockWrapsAround",
                  {{4294967000u, 1300, 1300, 1300000}, {4294967290u, 291300, 291300, 291300000},
                   {10u, 321300, 307300, 321300000}}},
        // Presses seconds apart: the offset still comes from the last few events.
        ClockCase{"PressesSecondsApart",
                  {At(0, 300, 300), At(3000, 3000300, 3000300), At(6000, 6012300, 6000300)}},
        // The system's clock is the monotonic one: an event is stamped at the middle of its
        // millisecond (tick 1000 us is monotonic ...4000000001123 us, in ms ...4000000001).
        ClockCase{"MonotonicFromTheFirstEvent", {Mono(1200, 2000, 1500)}},
        ClockCase{"MonotonicPressWaitingOutAFrame",  // delivered 12 ms late, after a present
                  {Mono(1200, 2000, 1500), Mono(5200, 17300, 5500)}},
        ClockCase{"MonotonicNeverAfterItsArrival",  // arrived within its own millisecond
                  {Mono(1200, 2000, 1500), Mono(3200, 3400, 3400)}},
        // Tick 0 is monotonic 4294967293 ms; the system's clock wraps 3 ms later (0 would be an
        // untimed event).
        ClockCase{"MonotonicAcrossTheWrap",
                  {{4294967294u, 1800, 1500, 4294967294800000},
                   {4294967295u, 3900, 2500, 4294967296900000},
                   {1u, 4600, 4500, 4294967297600000},
                   {2u, 6300, 5500, 4294967299300000}}},
        // Far older than believable: that event takes the learnt mapping (here its first
        // event, so its arrival); the next is monotonic again.
        ClockCase{"MonotonicTooOldTakesTheLearntMapping",
                  {Mono(1200, 2000, 1500), Mono(2200, 150000, 150000),
                   Mono(160200, 161000, 160500)}},
        // An event seconds after its arrival: the system's clock is another one for the
        // rest of the run, however well later events fit.
        ClockCase{"MonotonicGivenUpForTheRun",
                  {Mono(1200, 2000, 1500), Mono(7002200, 2300, 2300), Mono(10200, 11000, 11000)}}),
    [](const auto& info) { return std::string(info.param.name); });

// After round trips proved the server's clock, a press delivered late (the program stalled)
// keeps its own time for seconds, and says so; nothing it does restarts the mapping. Where
// nothing was proved, a delivery over 100 ms late takes its arrival and says so, and the
// events after it are mapped again.
TEST(EventClock, LateDeliveriesKeepTheirTimeOnAProvedClock) {
  struct Row {
    const char* name;
    ClockCheck::Kind kind;
    std::vector<Event> events;
    std::vector<bool> from_event;
  };
  const Row rows[] = {
      {"ProvedStalled150Ms", ClockCheck::Monotonic,
       {Mono(1200, 2000, 1500), Mono(2200, 152200, 2500), Mono(3200, 153000, 3500),
        Mono(160200, 161000, 160500)},
       {true, true, true, true}},
      {"ProvedStalledFourSeconds", ClockCheck::Monotonic,
       {Mono(1200, 4001200, 1500), Mono(4002200, 4003000, 4002500)}, {true, true}},
      {"ProvedOlderThanAnyStall", ClockCheck::Monotonic,
       {Mono(1200, 2000, 1500), Mono(2200, 7002200, 7002200), Mono(7003200, 7004000, 7003500)},
       {true, false, true}},
      {"UncheckedStalled150Ms", ClockCheck::Unchecked,
       {At(1, 1300, 1300), At(2, 2300, 2300), At(3, 153300, 153300), At(154, 156300, 154300),
        At(160, 161300, 160300)},
       {false, false, false, true, true}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ClockCheck check;
    check.kind = r.kind;
    EventClock clock;
    clock.SetCheck(check);
    for (size_t i = 0; i < r.events.size(); ++i) {
      const Event& e = r.events[i];
      EXPECT_EQ(clock.Stamp(e.event_ms, e.arrival_mono_ns, e.arrival_us), e.stamp_us) << i;
      EXPECT_EQ(clock.last_from_event(), r.from_event[i]) << i;
    }
  }
}

// A fake server clock that runs offset_ms from the monotonic one, probed by round trips of
// 0.3 ms, and then a press made 5 ms before it arrives: only a clock proved in both
// directions is taken as it is, and one behind or ahead is shifted, so the press is stamped
// when it was made.
TEST(CheckEventClock, ServerClockBehindOrAheadIsFoundAndShifted) {
  struct Row {
    const char* name;
    int64_t offset_ms;
    ClockCheck::Kind kind;
  };
  const Row rows[] = {{"Same", 0, ClockCheck::Monotonic},
                      {"Behind50", -50, ClockCheck::Offset},
                      {"Ahead50", 50, ClockCheck::Offset},
                      {"Behind2", -2, ClockCheck::Offset}};
  const int64_t mono0_ns = 5000000000000;  // the monotonic clock at tick 0
  for (const Row& r : rows) {
    std::vector<ClockProbe> probes;
    for (int i = 0; i < 5; ++i) {
      const int64_t before = mono0_ns + i * 7000000 + 100000;
      const int64_t served = before + 150000;
      probes.push_back({before, uint32_t(served / 1000000 + r.offset_ms), before + 300000});
    }
    const ClockCheck check = CheckEventClock(probes);
    EXPECT_EQ(check.kind, r.kind) << r.name;
    EXPECT_EQ(check.offset_ms, r.offset_ms) << r.name;

    EventClock clock;
    clock.SetCheck(check);
    // The press at tick 100.000 ms, on the server's clock, arriving at 105.000 ms.
    const uint32_t server_ms = uint32_t((mono0_ns + 100000000) / 1000000 + r.offset_ms);
    const int64_t stamp = clock.Stamp(server_ms, mono0_ns + 105000000, 105000);
    EXPECT_GE(stamp, 100000) << r.name;
    EXPECT_LE(stamp, 101000) << r.name;
    EXPECT_NE(clock.Describe().find(r.kind == ClockCheck::Monotonic ? "proved" : "learnt by round"),
              std::string::npos) << r.name << ": " << clock.Describe();
  }
  EXPECT_EQ(CheckEventClock({}).kind, ClockCheck::Unchecked);
}

}  // namespace
}  // namespace pyokoran
