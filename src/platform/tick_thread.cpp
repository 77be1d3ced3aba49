#include "platform/tick_thread.h"

#include <cerrno>
#include <pthread.h>
#include <sched.h>
#include <system_error>
#include <time.h>

namespace pyokoran {
namespace {

constexpr int64_t kNsPerMs = 1000000;
constexpr int64_t kNsPerSecond = 1000000000;

int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

timespec ToTimespec(int64_t ns) {
  timespec t{};
  t.tv_sec = time_t(ns / kNsPerSecond);
  t.tv_nsec = long(ns % kNsPerSecond);
  return t;
}

// Puts the calling thread ahead of ordinary ones, as a system timer thread would be, where
// the system permits real-time scheduling (root, or a user with an rtprio limit); otherwise
// the thread stays an ordinary one. It sleeps nearly all the time, so it takes little.
void RaiseTickThreadPriority() {
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO);  // any rtprio limit allows it
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

}  // namespace

bool TickThread::ClockAvailable() {
  timespec t{};
  return clock_getres(CLOCK_MONOTONIC, &t) == 0 && clock_gettime(CLOCK_MONOTONIC, &t) == 0;
}

bool TickThread::ClockHasMsResolution() {
  timespec res{};
  if (clock_getres(CLOCK_MONOTONIC, &res) != 0) return false;
  return res.tv_sec == 0 && res.tv_nsec <= kNsPerMs;
}

bool TickThread::Start(std::atomic<int32_t>& tick, void (*hook)(int32_t)) {
  if (thread_.joinable()) return false;
  stop_.store(false);
  try {
    thread_ = std::thread(&TickThread::Run, this, &tick, hook);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void TickThread::Stop() {
  if (!thread_.joinable()) return;
  stop_.store(true);
  thread_.join();
}

void TickThread::Run(std::atomic<int32_t>* tick, void (*hook)(int32_t)) {
  RaiseTickThreadPriority();
  const int64_t start = MonotonicNs();
  int64_t counted = 0;  // milliseconds added since start
  while (!stop_.load(std::memory_order_relaxed)) {
    const timespec deadline = ToTimespec(start + (counted + 1) * kNsPerMs);
    int rc;
    do {
      rc = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
    } while (rc == EINTR);
    // Every millisecond that has passed gets its own increment, however late the wake-up.
    const int64_t elapsed = (MonotonicNs() - start) / kNsPerMs;
    while (counted < elapsed) {
      ++counted;
      // An atomic add, so a reset by the UI thread is never overwritten by a stale value.
      uint32_t before = uint32_t(tick->fetch_add(1, std::memory_order_relaxed));
      if (hook) hook(int32_t(before + 1u));
    }
  }
}

}  // namespace pyokoran
