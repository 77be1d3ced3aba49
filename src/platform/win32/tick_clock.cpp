#include "platform/tick_clock.h"

#include <windows.h>
#include <mmsystem.h>

#include <string>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace pyokoran {
namespace {

constexpr int64_t kNsPerMs = 1000000;
constexpr int64_t kNsPerSecond = 1000000000;

int64_t CounterFrequency() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f{};
    return QueryPerformanceFrequency(&f) ? int64_t(f.QuadPart) : int64_t(0);
  }();
  return frequency;
}

}  // namespace

int64_t MonotonicClockNs() {
  const int64_t frequency = CounterFrequency();
  LARGE_INTEGER now{};
  if (frequency <= 0 || !QueryPerformanceCounter(&now)) return 0;
  // Whole seconds and the rest apart, so that the product never overflows.
  const int64_t count = now.QuadPart;
  return count / frequency * kNsPerSecond + count % frequency * kNsPerSecond / frequency;
}

bool MonotonicClockAvailable() {
  LARGE_INTEGER now{};
  return CounterFrequency() > 0 && QueryPerformanceCounter(&now);
}

bool MonotonicClockHasMsResolution() { return CounterFrequency() >= 1000; }

// The highest priority an ordinary program may give a thread; it sleeps nearly all the time.
TickScheduling RaiseTickThreadPriority() {
  TickScheduling result;
  if (SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL)) {
    result.real_time = true;
    result.priority = THREAD_PRIORITY_TIME_CRITICAL;
  } else {
    result.error = int(GetLastError());
  }
  return result;
}

std::string DescribeTickScheduling(const TickScheduling& s) {
  if (s.real_time) return "tick thread: time-critical priority (THREAD_PRIORITY_TIME_CRITICAL)";
  return "tick thread: ordinary priority; raising it was refused (Windows error " +
         std::to_string(s.error) + ")";
}

// A high-resolution waitable timer where the system has one (Windows 10 1803 and later);
// otherwise Sleep with the system timer period shortened to 1 ms while the sleeper lives.
DeadlineSleeper::DeadlineSleeper() {
  timer_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                  TIMER_ALL_ACCESS);
  if (!timer_) raised_period_ = timeBeginPeriod(1) == TIMERR_NOERROR;
}

DeadlineSleeper::~DeadlineSleeper() {
  if (timer_) CloseHandle(static_cast<HANDLE>(timer_));
  if (raised_period_) timeEndPeriod(1);
}

void DeadlineSleeper::SleepUntil(int64_t monotonic_ns) {
  // Each wait is for what is left of the absolute deadline, so no error adds up.
  for (;;) {
    const int64_t left = monotonic_ns - MonotonicClockNs();
    if (left <= 0) return;
    if (timer_) {
      LARGE_INTEGER due{};
      due.QuadPart = -((left + 99) / 100);  // relative, in 100 ns
      if (SetWaitableTimer(static_cast<HANDLE>(timer_), &due, 0, nullptr, nullptr, FALSE) &&
          WaitForSingleObject(static_cast<HANDLE>(timer_), INFINITE) == WAIT_OBJECT_0) {
        continue;
      }
    }
    Sleep(DWORD((left + kNsPerMs - 1) / kNsPerMs));
  }
}

}  // namespace pyokoran
