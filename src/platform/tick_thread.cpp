#include "platform/tick_thread.h"

#include <cerrno>
#include <cstring>
#include <linux/capability.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <system_error>
#include <time.h>
#include <unistd.h>

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

// Puts the calling thread ahead of ordinary ones, as a system timer thread would be, where
// the system permits real-time scheduling (root, or a user with an rtprio limit); otherwise
// the thread stays an ordinary one. It sleeps nearly all the time, so it takes little.
TickScheduling RaiseTickThreadPriority() {
  TickScheduling result;
  rlimit limit{};
  if (getrlimit(RLIMIT_RTPRIO, &limit) == 0) {
    result.rtprio_limit = limit.rlim_cur == RLIM_INFINITY ? -1 : long(limit.rlim_cur);
  }
  // Capabilities belong to each thread: cap_sys_nice becomes effective in this one only.
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3]{};
  constexpr uint32_t kNice = 1u << CAP_SYS_NICE;
  result.capability =
      syscall(SYS_capget, &header, caps) == 0 && (caps[0].permitted & kNice) != 0;
  bool raised = false;
  if (result.capability && !(caps[0].effective & kNice)) {
    caps[0].effective |= kNice;
    raised = syscall(SYS_capset, &header, caps) == 0;
  }
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO);  // any rtprio limit allows it
  result.error = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
  result.real_time = result.error == 0;
  if (result.real_time) result.priority = param.sched_priority;
  if (raised) {
    caps[0].effective &= ~kNice;  // gone from this thread for good
    caps[0].permitted &= ~kNice;
    syscall(SYS_capset, &header, caps);
  }
  return result;
}

}  // namespace

bool TickThread::RaisePriority() { return RaiseTickThreadPriority().real_time; }

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

std::string DescribeTickScheduling(const TickScheduling& s) {
  if (s.real_time) {
    return "tick thread: real-time scheduling (SCHED_FIFO, priority " + std::to_string(s.priority) +
           ")";
  }
  return std::string("tick thread: ordinary scheduling; real-time was refused (") +
         std::strerror(s.error) + "; real-time priority limit " +
         (s.rtprio_limit < 0 ? "unlimited" : std::to_string(s.rtprio_limit)) +
         (s.capability ? ", cap_sys_nice held" : ", no cap_sys_nice") +
         "). The installed package gives the program cap_sys_nice; for another build: "
         "sudo setcap cap_sys_nice+p <the program>";
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
  scheduled_.store(false);
  try {
    thread_ = std::thread(&TickThread::Run, this, &tick, hook);
  } catch (const std::system_error&) {
    return false;
  }
  scheduled_.wait(false);
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
  scheduled_.store(true);
  scheduled_.notify_one();
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
