#include "timing/flip_times.h"

#include <algorithm>
#include <cstdio>

namespace pyokoran {

CompletionMode CompletionModeFromPresent(uint8_t mode) {
  return mode <= 3 ? CompletionMode(mode) : CompletionMode::Unknown;
}

const char* CompletionModeName(CompletionMode mode) {
  switch (mode) {
    case CompletionMode::Copy: return "copy";
    case CompletionMode::Flip: return "flip";
    case CompletionMode::Skip: return "skip";
    case CompletionMode::SuboptimalCopy: return "suboptimal-copy";
    case CompletionMode::Unknown: break;
  }
  return "unknown";
}

UstCheck CheckUstClock(const std::vector<UstProbe>& probes) {
  UstCheck c;
  bool inside = true;
  int64_t narrowest_ns = -1;
  for (const UstProbe& p : probes) {
    if (p.after_ns < p.before_ns || p.before_ns < 0 || p.ust_us == 0 ||
        p.ust_us > uint64_t(INT64_MAX / 1000)) {
      continue;
    }
    const int64_t ust_ns = int64_t(p.ust_us) * 1000;
    // To the microsecond: the answer's microsecond overlaps the round trip.
    if (ust_ns + 999 < p.before_ns || ust_ns > p.after_ns) inside = false;
    const int64_t width = p.after_ns - p.before_ns;
    if (narrowest_ns < 0 || width < narrowest_ns) {
      narrowest_ns = width;
      c.offset_us = int64_t(p.ust_us) - (p.before_ns + width / 2) / 1000;
      c.uncertainty_ms = double(width) / 2e6 + 0.001;
    }
  }
  if (narrowest_ns < 0) return UstCheck{};
  if (inside) {
    c.kind = UstCheck::Monotonic;
    c.offset_us = 0;
  } else {
    c.kind = UstCheck::Offset;
  }
  return c;
}

bool UstToMonotonicNs(const UstCheck& check, uint64_t ust_us, int64_t& monotonic_ns) {
  if (check.kind == UstCheck::Unchecked || ust_us == 0 || ust_us > uint64_t(INT64_MAX / 1000)) {
    return false;
  }
  monotonic_ns = (int64_t(ust_us) - check.offset_us) * 1000;
  return true;
}

std::string DescribeUstCheck(const UstCheck& check) {
  char text[160];
  switch (check.kind) {
    case UstCheck::Monotonic:
      return "UST proved monotonic by round trip";
    case UstCheck::Offset:
      std::snprintf(text, sizeof text, "UST %+.3f ms from monotonic, learnt by round trip (+-%.3f ms)",
                    double(check.offset_us) / 1000.0, check.uncertainty_ms);
      return text;
    case UstCheck::Unchecked:
      break;
  }
  return "UST unchecked";
}

void CompletionCount::Start(int present_every) {
  *this = CompletionCount{};
  present_every_ = std::max(present_every, 1);
}

bool CompletionCount::Frame(const FrameCompletion& completion, bool follows_previous) {
  switch (completion.mode) {
    case CompletionMode::Flip: ++flips_; break;
    case CompletionMode::Copy:
    case CompletionMode::SuboptimalCopy: ++copies_; break;
    case CompletionMode::Skip:
      // Replaced by a later picture before it was shown: dropped, and no refresh of its own.
      ++skips_;
      ++dropped_;
      return true;
    case CompletionMode::Unknown: break;
  }
  bool dropped = false;
  if (have_previous_ && follows_previous && completion.msc > previous_msc_) {
    const uint64_t step = completion.msc - previous_msc_;
    if (step > uint64_t(present_every_)) {
      dropped = true;
      ++dropped_;
      missed_ += int64_t(step - uint64_t(present_every_));
    }
  }
  previous_msc_ = completion.msc;
  have_previous_ = true;
  return dropped;
}

std::string CompletionCount::Describe() const {
  char text[120];
  std::snprintf(text, sizeof text, "%d flips, %d copies, %d skipped", flips_, copies_, skips_);
  return text;
}

}  // namespace pyokoran
