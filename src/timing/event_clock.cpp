#include "timing/event_clock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace pyokoran {

ClockCheck CheckEventClock(const std::vector<ClockProbe>& probes) {
  ClockCheck c;
  bool inside = true;
  int64_t narrowest_ns = -1;
  for (const ClockProbe& p : probes) {
    if (p.after_ns < p.before_ns || p.before_ns < 0) continue;
    const int64_t before_ms = p.before_ns / 1000000;
    const int64_t after_ms = p.after_ns / 1000000;
    // The answer's time against the start of the round trip, modulo 2^32.
    const int64_t since_ms = int32_t(p.server_ms - uint32_t(before_ms));
    if (since_ms < 0 || since_ms > after_ms - before_ms) inside = false;
    const int64_t width = p.after_ns - p.before_ns;
    if (narrowest_ns < 0 || width < narrowest_ns) {
      narrowest_ns = width;
      const int64_t middle_ms = (p.before_ns + width / 2) / 1000000;
      c.offset_ms = int32_t(p.server_ms - uint32_t(middle_ms));
      c.uncertainty_ms = double(width) / 2e6 + 1.0;
    }
  }
  if (narrowest_ns < 0) return ClockCheck{};
  if (inside) {
    c.kind = ClockCheck::Monotonic;
    c.offset_ms = 0;
  } else {
    c.kind = ClockCheck::Offset;
  }
  return c;
}

std::string EventClock::Describe() const {
  char text[200];
  switch (check_.kind) {
    case ClockCheck::Monotonic:
      std::snprintf(text, sizeof text, "server clock proved monotonic by round trip");
      break;
    case ClockCheck::Offset:
      std::snprintf(text, sizeof text,
                    "server clock %+lld ms from monotonic, learnt by round trip (+-%.1f ms)",
                    static_cast<long long>(check_.offset_ms), check_.uncertainty_ms);
      break;
    case ClockCheck::Unchecked:
      std::snprintf(text, sizeof text, "server clock unchecked, learnt from events");
      break;
  }
  std::string out = text;
  if (!monotonic_) out += "; events showed another clock, learnt from events";
  return out;
}

int64_t EventClock::Stamp(uint32_t event_ms, int64_t arrival_monotonic_ns, int64_t arrival_us) {
  last_from_event_ = false;
  if (event_ms == 0) return arrival_us;  // an event the system did not time
  // A system clock the round trips found off the monotonic one: shifted onto it.
  if (check_.kind == ClockCheck::Offset) event_ms -= uint32_t(check_.offset_ms);
  if (event_ms == 0) event_ms = 1;
  // The learnt mapping follows every event, so that it is ready should the monotonic one fail.
  const int64_t learnt = LearntStamp(event_ms, arrival_us);
  const bool learnt_from_event = last_from_event_;
  last_from_event_ = false;
  if (monotonic_ && arrival_monotonic_ns >= 0) {
    // How long before the arrival's millisecond the event's millisecond was, modulo 2^32.
    const int64_t arrival_ms = arrival_monotonic_ns / 1000000;
    const int32_t delay_ms = int32_t(uint32_t(arrival_ms) - event_ms);
    // A shifted clock is known only to within the round trip: an event that seems to come
    // that little after its arrival is taken as arriving at once.
    const int64_t slack_ms =
        check_.kind == ClockCheck::Offset ? int64_t(std::ceil(check_.uncertainty_ms)) : 0;
    const int64_t bound_us =
        check_.kind == ClockCheck::Unchecked ? kMaxEventDelayUs : kMaxProvedEventDelayUs;
    if (delay_ms < -slack_ms) {
      monotonic_ = false;  // an event after its arrival: another clock, for the rest of the run
    } else if (int64_t(delay_ms) * 1000 <= bound_us) {
      const int64_t event_us = (arrival_ms - delay_ms) * 1000 + 500;
      const int64_t stamp = arrival_us - (arrival_monotonic_ns / 1000 - event_us);
      last_from_event_ = true;
      return std::min(stamp, arrival_us);
    } else if (check_.kind != ClockCheck::Unchecked) {
      return arrival_us;  // older than any stall: its time is not believed
    }
    // Unchecked and too long before its arrival: this event takes the learnt mapping.
  }
  last_from_event_ = learnt_from_event;
  return learnt;
}

int64_t EventClock::LearntStamp(uint32_t event_ms, int64_t arrival_us) {
  last_from_event_ = false;
  if (have_) {
    unwrapped_ms_ += int64_t(int32_t(event_ms - last_ms_));
  } else {
    unwrapped_ms_ = event_ms;
  }
  last_ms_ = event_ms;
  const int64_t candidate = arrival_us - unwrapped_ms_ * 1000;
  // A later event with a smaller difference (one that came sooner, or an event clock that
  // jumped ahead) becomes the offset below; none starts the mapping again.
  if (!have_) {
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
  // One event alone says nothing about the delay; from the second on, its own time counts,
  // unless it came later than believable after it.
  if (samples_ < 2 || candidate - offset_us_ > kMaxEventDelayUs) return arrival_us;
  const int64_t mapped = unwrapped_ms_ * 1000 + offset_us_;
  last_from_event_ = mapped < arrival_us;
  return std::min(mapped, arrival_us);
}

}  // namespace pyokoran
