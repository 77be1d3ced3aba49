#include "timing/event_clock.h"

#include <algorithm>

namespace pyokoran {

int64_t EventClock::Stamp(uint32_t event_ms, int64_t arrival_monotonic_ns, int64_t arrival_us) {
  last_mapped_ = false;
  if (event_ms == 0) return arrival_us;  // an event the system did not time
  // The learnt mapping follows every event, so that it is ready should the monotonic one fail.
  const int64_t learnt = LearntStamp(event_ms, arrival_us);
  const bool learnt_mapped = last_mapped_;
  if (monotonic_ && arrival_monotonic_ns >= 0) {
    // How long before the arrival's millisecond the event's millisecond was, modulo 2^32.
    const int64_t arrival_ms = arrival_monotonic_ns / 1000000;
    const int32_t delay_ms = int32_t(uint32_t(arrival_ms) - event_ms);
    if (delay_ms < 0) {
      monotonic_ = false;  // an event after its arrival: another clock, for the rest of the run
    } else if (int64_t(delay_ms) * 1000 <= kMaxEventDelayUs) {
      const int64_t event_us = (arrival_ms - delay_ms) * 1000 + 500;
      const int64_t stamp = arrival_us - (arrival_monotonic_ns / 1000 - event_us);
      last_mapped_ = stamp < arrival_us;
      return std::min(stamp, arrival_us);
    }
    // Too long before its arrival to be believed: this event takes the learnt mapping.
  }
  last_mapped_ = learnt_mapped;
  return learnt;
}

int64_t EventClock::LearntStamp(uint32_t event_ms, int64_t arrival_us) {
  last_mapped_ = false;
  if (have_) {
    unwrapped_ms_ += int64_t(int32_t(event_ms - last_ms_));
  } else {
    unwrapped_ms_ = event_ms;
  }
  last_ms_ = event_ms;
  const int64_t candidate = arrival_us - unwrapped_ms_ * 1000;
  // A difference far from the others: the event clock is not the tick's. Start again.
  if (!have_ || candidate < offset_us_ - kMaxEventDelayUs ||
      candidate > offset_us_ + kMaxEventDelayUs) {
    have_ = true;
    offset_us_ = candidate;
    samples_ = 1;
    next_ = 0;
    for (Sample& s : kept_) s = Sample{arrival_us, candidate};
    return arrival_us;
  }
  kept_[next_] = Sample{arrival_us, candidate};
  // The smallest difference among the events of the window, and among the last few
  // whenever they are: presses can be seconds apart.
  offset_us_ = candidate;
  for (int age = 0; age < kKept; ++age) {
    const Sample& s = kept_[(next_ + kKept - age) % kKept];
    if (age < kRecentEvents || arrival_us - s.arrival_us <= kEventWindowUs) {
      offset_us_ = std::min(offset_us_, s.difference_us);
    }
  }
  next_ = (next_ + 1) % kKept;
  ++samples_;
  // One event alone says nothing about the delay; from the second on, its own time counts.
  if (samples_ < 2) return arrival_us;
  const int64_t mapped = unwrapped_ms_ * 1000 + offset_us_;
  last_mapped_ = mapped < arrival_us;
  return std::min(mapped, arrival_us);
}

}  // namespace pyokoran
