#include "timing/event_clock.h"

#include <algorithm>

namespace pyokoran {

int64_t EventClock::Stamp(uint32_t event_ms, int64_t arrival_us) {
  last_mapped_ = false;
  if (event_ms == 0) return arrival_us;  // an event the system did not time
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
