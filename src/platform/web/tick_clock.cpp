// The tick in the browser (and Node.js): performance.timeOrigin + performance.now(), which steps
// 5 µs in a page that is cross-origin isolated (0.1 ms otherwise), on a worker thread of the
// page. The time origin makes it the same clock in every thread of the page: the page's event
// timeStamps and animation frame times, taken on its own thread, map onto it. Its
// clock_nanosleep has no absolute deadlines: the thread sleeps the time left.
#include "platform/tick_clock.h"

#include <emscripten.h>
#include <time.h>

#include <cerrno>

namespace pyokoran {
namespace {

constexpr int64_t kNsPerSecond = 1000000000;

EM_JS(double, ClockMs, (), { return performance.timeOrigin + performance.now(); });

}  // namespace

TickScheduling RaiseTickThreadPriority() { return {}; }

std::string DescribeTickScheduling(const TickScheduling&) {
  return "tick thread: a worker of the browser (its scheduling cannot be chosen)";
}

int64_t MonotonicClockNs() { return int64_t(ClockMs() * 1e6); }

bool MonotonicClockAvailable() { return true; }

bool MonotonicClockHasMsResolution() { return true; }

DeadlineSleeper::DeadlineSleeper() = default;
DeadlineSleeper::~DeadlineSleeper() = default;

void DeadlineSleeper::SleepUntil(int64_t monotonic_ns) {
  for (;;) {
    const int64_t left = monotonic_ns - MonotonicClockNs();
    if (left <= 0) return;
    timespec t{};
    t.tv_sec = time_t(left / kNsPerSecond);
    t.tv_nsec = long(left % kNsPerSecond);
    nanosleep(&t, nullptr);
  }
}

}  // namespace pyokoran
