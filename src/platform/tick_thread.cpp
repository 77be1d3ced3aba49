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

timespec ToTimespec(int64_t ns) {
  timespec t{};
  t.tv_sec = time_t(ns / kNsPerSecond);
  t.tv_nsec = long(ns % kNsPerSecond);
  return t;
}

}  // namespace

// Puts the calling thread ahead of ordinary ones, as a system timer thread would be, where
// the system permits real-time scheduling (root, or a user with an rtprio limit); otherwise
// the thread stays an ordinary one. It sleeps nearly all the time, so it takes little.
bool TickThread::RaisePriority() {
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO);  // any rtprio limit allows it
  return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

int64_t TickThread::MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

bool TickThread::TickClockUs(int64_t monotonic_ns, int64_t& tick_us) const {
  if (!thread_.joinable() || !tick_ || !started_.load(std::memory_order_acquire)) return false;
  // The tick is counted - offset for as long as nobody resets it; read both together.
  int64_t counted;
  int32_t tick;
  for (;;) {
    const uint32_t before = sequence_.load(std::memory_order_acquire);
    if (before & 1u) continue;
    counted = counted_.load(std::memory_order_acquire);
    tick = tick_->load(std::memory_order_acquire);
    if (sequence_.load(std::memory_order_acquire) == before) break;
  }
  const int64_t offset_ms = counted - int64_t(tick);
  tick_us = (monotonic_ns - start_ns_) / 1000 - offset_ms * 1000;
  return true;
}

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
  tick_ = &tick;
  counted_.store(0);
  largest_lag_ns_.store(0);
  started_.store(false);
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
  realtime_.store(RaisePriority(), std::memory_order_relaxed);
  // Time zero is when the thread runs, however long the system took to start it.
  start_ns_ = MonotonicNs();
  started_.store(true, std::memory_order_release);
  const int64_t start = start_ns_;
  int64_t counted = 0;  // milliseconds added since start
  while (!stop_.load(std::memory_order_relaxed)) {
    const timespec deadline = ToTimespec(start + (counted + 1) * kNsPerMs);
    int rc;
    do {
      rc = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
    } while (rc == EINTR);
    // Every millisecond that has passed gets its own increment, however late the wake-up.
    const int64_t now = MonotonicNs();
    const int64_t elapsed = (now - start) / kNsPerMs;
    if (counted < elapsed) {
      const int64_t lag = now - (start + (counted + 1) * kNsPerMs);
      if (lag > largest_lag_ns_.load(std::memory_order_relaxed)) {
        largest_lag_ns_.store(lag, std::memory_order_relaxed);
      }
    }
    while (counted < elapsed) {
      ++counted;
      sequence_.fetch_add(1, std::memory_order_acq_rel);
      // An atomic add, so a reset by the UI thread is never overwritten by a stale value.
      uint32_t before = uint32_t(tick->fetch_add(1, std::memory_order_acq_rel));
      counted_.store(counted, std::memory_order_release);
      sequence_.fetch_add(1, std::memory_order_acq_rel);
      if (hook) hook(int32_t(before + 1u));
    }
  }
}

}  // namespace pyokoran
