#include "platform/tick_clock.h"

#include <windows.h>
#include <mmsystem.h>
#include <avrt.h>

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

namespace {

// Takes the calling thread out of the multimedia class scheduler when it ends.
struct MmcssTask {
  HANDLE task = nullptr;
  ~MmcssTask() {
    if (task) AvRevertMmThreadCharacteristics(task);
  }
};
thread_local MmcssTask mmcss_task;

// Whether this system has high-resolution waitable timers (Windows 10 1803 and later), which
// DeadlineSleeper then sleeps on.
bool HasHighResolutionTimer() {
  HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                        TIMER_ALL_ACCESS);
  if (!timer) return false;
  CloseHandle(timer);
  return true;
}

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

}  // namespace

// The tick thread joins the multimedia class scheduler (MMCSS) as a "Pro Audio" task at
// critical priority, which runs it ahead of ordinary threads for as long as it lives; where
// the service refuses, it takes the time-critical priority of its process's class instead.
// It sleeps nearly all the time, so it takes little.
TickScheduling RaiseTickThreadPriority() {
  TickScheduling result;
  result.high_resolution_timer = HasHighResolutionTimer();
  if (!mmcss_task.task) {
    DWORD task_index = 0;
    mmcss_task.task = AvSetMmThreadCharacteristicsW(L"Pro Audio", &task_index);
    if (!mmcss_task.task) result.error = int(GetLastError());
  }
  if (mmcss_task.task) {
    result.real_time = true;
    result.mmcss = true;
    AvSetMmThreadPriority(mmcss_task.task, AVRT_PRIORITY_CRITICAL);
    // Wine accepts the task without scheduling it any differently.
    if (UnderWine()) SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  } else if (SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL)) {
    result.real_time = true;
  } else if (result.error == 0) {
    result.error = int(GetLastError());
  }
  result.priority = GetThreadPriority(GetCurrentThread());
  return result;
}

std::string DescribeTickScheduling(const TickScheduling& s) {
  const std::string timer = s.high_resolution_timer
                                ? "; sleeps on a high-resolution waitable timer"
                                : "; sleeps with the system timer at 1 ms (timeBeginPeriod), "
                                  "no high-resolution waitable timer";
  if (s.mmcss && UnderWine()) {
    return "tick thread: multimedia class scheduler (MMCSS task \"Pro Audio\") as Wine "
           "accepts it, without effect there; thread priority " + std::to_string(s.priority) +
           timer;
  }
  if (s.mmcss) {
    return "tick thread: multimedia class scheduler (MMCSS task \"Pro Audio\", critical "
           "priority)" + timer;
  }
  if (s.real_time) {
    return "tick thread: time-critical thread priority (" + std::to_string(s.priority) +
           "); the multimedia class scheduler refused (Windows error " +
           std::to_string(s.error) + "): check that the service \"Multimedia Class Scheduler\" "
           "runs" + timer;
  }
  return "tick thread: ordinary priority; raising it was refused (Windows error " +
         std::to_string(s.error) + ")" + timer;
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
