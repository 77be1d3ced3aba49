// Press times as close to the input as the system allows: an input event's own timestamp
// (on X11 the server's millisecond clock, read when the server generates the event, not the
// kernel's time of the input) mapped onto the tick clock.
//
// Before a run the system's clock is checked by round trips (CheckEventClock): a clock found
// to be the monotonic one is used as such; one that is not is shifted by the offset the
// round trips show. Two mappings are then tried, each checked against the arrival of every
// event in the run:
// - the system's clock is the monotonic clock in milliseconds, wrapping at 2^32, as an X
//   server on Linux keeps it. An event is stamped at the middle of its millisecond when it
//   arrived within the believable delay after it: kMaxProvedEventDelayUs (seconds: the
//   program may have been stalled) where the round trips proved the clock, kMaxEventDelayUs
//   where they could not be made. One that arrived before its time shows another clock, and
//   this mapping is given up for the run; one older than believable takes its arrival.
// - otherwise the offset is learnt from the events themselves: an event reaches the program
//   some time after it happened, so the smallest difference between arrival and event time
//   seen lately is the best offset. An event that arrived later than kMaxEventDelayUs after
//   the time the offset gives takes its arrival (a stalled delivery cannot be told from a
//   clock that jumped back); it does not restart the mapping, which follows the smallest
//   differences of the events that come after it.
// A stamp is never later than the arrival; last_from_event says which of the two it is.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace pyokoran {

// Largest believable delay between an event and its arrival where nothing proved the
// system's clock; beyond it the event's own time is not used.
constexpr int64_t kMaxEventDelayUs = 100000;
// The same where round trips proved the clock (monotonic, or at a measured offset): a
// program stalled this long still stamps a press with its own time.
constexpr int64_t kMaxProvedEventDelayUs = 5000000;
// The offset is the smallest difference among the events of this last stretch of time (and
// the last few events), so that a clock running at a slightly different rate is followed.
constexpr int64_t kEventWindowUs = 2000000;
constexpr int kRecentEvents = 8;  // and among the last events, however old

// One round trip to the system's event clock: the monotonic time before asking, the
// system's millisecond time stamped on its answer, and the monotonic time the answer came.
struct ClockProbe {
  int64_t before_ns = 0;
  uint32_t server_ms = 0;
  int64_t after_ns = 0;
};

// What round trips proved about the system's clock. Monotonic: every answer lay inside its
// round trip (to the millisecond), so the system's milliseconds are the monotonic clock's.
// Offset: they did not; offset_ms (system minus monotonic) is learnt from the narrowest
// round trip, good to within its width. Unchecked: no round trip could be made.
struct ClockCheck {
  enum Kind { Unchecked, Monotonic, Offset } kind = Unchecked;
  int64_t offset_ms = 0;
  double uncertainty_ms = 0;  // half the narrowest round trip, plus the millisecond
};
ClockCheck CheckEventClock(const std::vector<ClockProbe>& probes);

class EventClock {
 public:
  // Takes what the round trips proved (before the run's first event): an offset shifts
  // every event's time onto the monotonic clock before it is mapped.
  void SetCheck(const ClockCheck& check) { check_ = check; }
  const ClockCheck& check() const { return check_; }
  // In a few words, for the timing record: how event times were mapped.
  std::string Describe() const;
  // The time of an event the system timed at event_ms (its millisecond clock, wrapping at
  // 2^32; 0 = not timed) that reached the program at arrival_us on the tick clock, which is
  // arrival_monotonic_ns on the monotonic clock; in tick-clock microseconds.
  int64_t Stamp(uint32_t event_ms, int64_t arrival_monotonic_ns, int64_t arrival_us);
  // The last stamp came from the event's own time (possibly moved back to the arrival, when
  // it fell after it), not from its arrival alone.
  bool last_from_event() const { return last_from_event_; }
  // No event of this run so far has shown the system's clock to be other than monotonic.
  bool monotonic() const { return monotonic_; }
  // The tick clock started again (a new run): learn the mapping anew.
  void Reset() {
    const ClockCheck check = check_;
    *this = EventClock{};
    check_ = check;
  }

 private:
  int64_t LearntStamp(uint32_t event_ms, int64_t arrival_us);

  bool monotonic_ = true;  // until an event says otherwise
  bool have_ = false;
  uint32_t last_ms_ = 0;
  int64_t unwrapped_ms_ = 0;  // event_ms without its wrap-arounds
  int64_t offset_us_ = 0;     // smallest arrival - event time in the window
  int samples_ = 0;           // events since the mapping began
  // The latest differences with their arrival, oldest overwritten first.
  static constexpr int kKept = 64;
  struct Sample {
    int64_t arrival_us = 0;
    int64_t difference_us = 0;
  };
  Sample kept_[kKept];
  int next_ = 0;
  bool last_from_event_ = false;
  ClockCheck check_;
};

}  // namespace pyokoran
