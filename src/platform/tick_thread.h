// The thread behind the millisecond tick: sleeps until absolute 1 ms deadlines on the
// monotonic clock and adds every elapsed millisecond to the tick, catching up after a late
// wake-up, so the tick stays within 1 ms of the time elapsed since Start while the thread
// gets the processor. It runs with real-time priority where the system permits it: root, a
// user with a real-time priority limit, or any user when the program file carries the
// capability cap_sys_nice in its permitted set (the Debian package sets it), which only the
// tick thread makes effective, for the one call, and then drops.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace pyokoran {

// How the tick thread is scheduled, as it found out when it started.
struct TickScheduling {
  bool real_time = false;   // SCHED_FIFO was granted (Windows: MMCSS or time-critical priority)
  int priority = 0;         // its real-time priority then (Windows: the thread priority)
  int error = 0;            // errno of the refusal otherwise (Windows: the system error code)
  long rtprio_limit = 0;    // the process's real-time priority limit (RLIMIT_RTPRIO), -1 unlimited
  bool capability = false;  // the program holds cap_sys_nice (a file capability)
  bool mmcss = false;       // Windows: the thread joined the multimedia class scheduler
  bool high_resolution_timer = false;  // Windows: it sleeps on a high-resolution waitable timer
};

// One line for the experimenter: what the tick thread got and, when real-time scheduling
// was refused, how an ordinary user gets it.
std::string DescribeTickScheduling(const TickScheduling& scheduling);

class TickThread {
 public:
  TickThread() = default;
  TickThread(const TickThread&) = delete;
  TickThread& operator=(const TickThread&) = delete;
  ~TickThread() { Stop(); }

  // True when the monotonic clock can be queried at all.
  static bool ClockAvailable();
  // True when the monotonic clock resolves 1 ms or better.
  static bool ClockHasMsResolution();
  // Starts adding to tick, calling hook (if not null, and short) on the thread after every
  // increment with the new value. False if a thread already runs or none could be started.
  // Returns once the thread has asked for real-time scheduling (see scheduling()).
  // Called on the UI thread; tick and hook must outlive the thread.
  bool Start(std::atomic<int32_t>& tick, void (*hook)(int32_t));
  // What the thread got when it was last started.
  TickScheduling scheduling() const { return scheduling_; }
  // Stops and joins (within about 1 ms); harmless when idle.
  void Stop();
  bool running() const { return thread_.joinable(); }

  // The tick clock at a monotonic time (CLOCK_MONOTONIC, ns), in microseconds: the tick is
  // that figure / 1000, rounded down, while the thread keeps up, also after the tick was
  // reset. False while no thread runs or it has not begun. Called on the UI thread.
  bool TickClockUs(int64_t monotonic_ns, int64_t& tick_us) const;
  // The largest lag of an increment behind its millisecond on the monotonic clock since
  // the thread started, in ns.
  int64_t largest_lag_ns() const { return largest_lag_ns_.load(std::memory_order_relaxed); }
  // CLOCK_MONOTONIC now, in ns.
  static int64_t MonotonicNs();
  // The thread got real-time scheduling (known once it runs).
  bool realtime() const { return realtime_.load(std::memory_order_relaxed); }
  // Raises the calling thread as the tick thread raises itself; true when real-time
  // scheduling was granted.
  static bool RaisePriority();

 private:
  void Run(std::atomic<int32_t>* tick, void (*hook)(int32_t));

  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int32_t>* tick_ = nullptr;
  int64_t start_ns_ = 0;
  // counted_ (increments made) and the tick move together; sequence_ is odd while they
  // are being changed, so that a reader sees a consistent pair.
  std::atomic<uint32_t> sequence_{0};
  std::atomic<int64_t> counted_{0};
  std::atomic<int64_t> largest_lag_ns_{0};
  std::atomic<bool> realtime_{false};
  std::atomic<bool> started_{false};  // start_ns_ is set
  // The thread has written scheduling_. A mutex and condition variable rather than
  // std::atomic::wait, whose fallback where there is no futex (MinGW) can miss the wake-up.
  std::mutex scheduled_mutex_;
  std::condition_variable scheduled_cv_;
  bool scheduled_ = false;
  TickScheduling scheduling_;
};

}  // namespace pyokoran
