// Frame times from the display system's own report of each completed present: when the
// picture reached the screen (UST, microseconds), on which refresh (MSC), and how (flipped,
// copied, or skipped), as the X Present extension's complete notification or
// GLX_OML_sync_control give them. Qt-free: the display layer reads the reports, this maps
// them onto the monotonic clock and counts what they show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pyokoran {

// How a present completed. The values are the X Present extension's (CompleteMode).
enum class CompletionMode : uint8_t { Copy = 0, Flip = 1, Skip = 2, SuboptimalCopy = 3, Unknown = 255 };
CompletionMode CompletionModeFromPresent(uint8_t mode);
const char* CompletionModeName(CompletionMode mode);

// One round trip to the display system's clock: the monotonic time before asking, the UST it
// answered with (microseconds), and the monotonic time the answer came.
struct UstProbe {
  int64_t before_ns = 0;
  uint64_t ust_us = 0;
  int64_t after_ns = 0;
};

// What round trips proved about UST. Monotonic: every answer lay inside its round trip (to
// the microsecond), so UST is the monotonic clock in microseconds (as Mesa and the X server
// keep it on Linux). Offset: they did not; offset_us (UST minus monotonic) is learnt from the
// narrowest round trip, good to within its width. Unchecked: no round trip could be made,
// and UST is not used.
struct UstCheck {
  enum Kind { Unchecked, Monotonic, Offset } kind = Unchecked;
  int64_t offset_us = 0;
  double uncertainty_ms = 0;  // half the narrowest round trip
};
UstCheck CheckUstClock(const std::vector<UstProbe>& probes);
// The monotonic time (ns) of a UST under check; false when unchecked or UST is 0 (unknown).
bool UstToMonotonicNs(const UstCheck& check, uint64_t ust_us, int64_t& monotonic_ns);
// In a few words, for the timing record.
std::string DescribeUstCheck(const UstCheck& check);

// One completed present as the display system reported it.
struct FrameCompletion {
  uint64_t ust_us = 0;
  uint64_t msc = 0;
  CompletionMode mode = CompletionMode::Unknown;
};

// Counts a run's completed presents: how many flipped, were copied or skipped, and which were
// dropped: skipped by the display system (never shown), or shown on a refresh later than due
// (the MSC advanced by more than present_every since the previous frame).
class CompletionCount {
 public:
  void Start(int present_every);
  // A frame completed; follows_previous: the loop presented it right after the previous one
  // (after a pause in which nothing moved, a later refresh is no drop). True when dropped.
  bool Frame(const FrameCompletion& completion, bool follows_previous = true);
  int flips() const { return flips_; }
  int copies() const { return copies_; }
  int skips() const { return skips_; }
  int dropped() const { return dropped_; }
  int64_t refreshes_missed() const { return missed_; }  // beyond those due, over the drops
  // "N flips, N copies, N skipped".
  std::string Describe() const;

 private:
  int present_every_ = 1;
  bool have_previous_ = false;
  uint64_t previous_msc_ = 0;
  int flips_ = 0, copies_ = 0, skips_ = 0, dropped_ = 0;
  int64_t missed_ = 0;
};

}  // namespace pyokoran
