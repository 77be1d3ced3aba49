#include "platform/tick_clock.h"

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

}  // namespace

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

int64_t MonotonicClockNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * kNsPerSecond + now.tv_nsec;
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

bool MonotonicClockAvailable() {
  timespec t{};
  return clock_getres(CLOCK_MONOTONIC, &t) == 0 && clock_gettime(CLOCK_MONOTONIC, &t) == 0;
}

bool MonotonicClockHasMsResolution() {
  timespec res{};
  if (clock_getres(CLOCK_MONOTONIC, &res) != 0) return false;
  return res.tv_sec == 0 && res.tv_nsec <= kNsPerMs;
}

DeadlineSleeper::DeadlineSleeper() = default;
DeadlineSleeper::~DeadlineSleeper() = default;

void DeadlineSleeper::SleepUntil(int64_t monotonic_ns) {
  const timespec deadline = ToTimespec(monotonic_ns);
  int rc;
  do {
    rc = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
  } while (rc == EINTR);
}

}  // namespace pyokoran
