#include "timing/event_clock.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace pyokoran {
namespace {

struct Event {
  uint32_t event_ms;   // the system's own time
  int64_t arrival_us;  // when it reached the program, tick clock
  int64_t stamp_us;    // expected
};

// An event at tick_ms on the tick clock, on a system clock running 1000000 ms ahead of it.
Event At(uint32_t tick_ms, int64_t arrival_us, int64_t stamp_us) {
  return {tick_ms + 1000000u, arrival_us, stamp_us};
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
    EXPECT_EQ(clock.Stamp(e.event_ms, e.arrival_us), e.stamp_us) << "event " << i;
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
                  {At(1, 1300, 1300), At(2, 2300, 2300), {0u, 17300, 17300}}},
        ClockCase{"EarlierEventsTightenTheOffset",  // the first arrived 5 ms late
                  {At(1, 6300, 6300), At(2, 2300, 2300), At(3, 3300, 3300), At(9, 14300, 9300)}},
        ClockCase{"ClockJumpFallsBackToArrival",
                  {At(1, 1300, 1300), At(2, 2300, 2300), {5000000u, 3300, 3300},
                   {5000001u, 4300, 4300}, {5000002u, 10300, 5300}}},
        ClockCase{"ClockWrapsAround",
                  {{4294967000u, 1300, 1300}, {4294967290u, 291300, 291300},
                   {10u, 321300, 307300}}},
        // Presses seconds apart: the offset still comes from the last few events.
        ClockCase{"PressesSecondsApart",
                  {At(0, 300, 300), At(3000, 3000300, 3000300), At(6000, 6012300, 6000300)}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pyokoran
