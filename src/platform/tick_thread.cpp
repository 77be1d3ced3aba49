#include "platform/tick_thread.h"

#include <system_error>

#include "platform/tick_clock.h"

namespace pyokoran {
namespace {

constexpr int64_t kNsPerMs = 1000000;

}  // namespace

bool TickThread::RaisePriority() { return RaiseTickThreadPriority().real_time; }

int64_t TickThread::MonotonicNs() { return MonotonicClockNs(); }

bool TickThread::ClockAvailable() { return MonotonicClockAvailable(); }

bool TickThread::ClockHasMsResolution() { return MonotonicClockHasMsResolution(); }

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

bool TickThread::Start(std::atomic<int32_t>& tick, void (*hook)(int32_t)) {
  if (thread_.joinable()) return false;
  stop_.store(false);
  tick_ = &tick;
  counted_.store(0);
  largest_lag_ns_.store(0);
  started_.store(false);
  {
    std::lock_guard<std::mutex> lock(scheduled_mutex_);
    scheduled_ = false;
  }
  try {
    thread_ = std::thread(&TickThread::Run, this, &tick, hook);
  } catch (const std::system_error&) {
    return false;
  }
  std::unique_lock<std::mutex> lock(scheduled_mutex_);
  scheduled_cv_.wait(lock, [this] { return scheduled_; });
  return true;
}

void TickThread::Stop() {
  if (!thread_.joinable()) return;
  stop_.store(true);
  thread_.join();
}

void TickThread::Run(std::atomic<int32_t>* tick, void (*hook)(int32_t)) {
  scheduling_ = RaiseTickThreadPriority();
  realtime_.store(scheduling_.real_time, std::memory_order_relaxed);
  {
    std::lock_guard<std::mutex> lock(scheduled_mutex_);
    scheduled_ = true;
  }
  scheduled_cv_.notify_one();
  // Time zero is when the thread runs, however long the system took to start it.
  start_ns_ = MonotonicNs();
  started_.store(true, std::memory_order_release);
  const int64_t start = start_ns_;
  int64_t counted = 0;  // milliseconds added since start
  DeadlineSleeper sleeper;
  while (!stop_.load(std::memory_order_relaxed)) {
    sleeper.SleepUntil(start + (counted + 1) * kNsPerMs);
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
