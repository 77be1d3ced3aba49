// Runs part of a test in a forked child: to bound an operation that might block for good,
// or to do it as a user without the superuser's rights.
#pragma once

#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <grp.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

namespace pyokoran {

struct ChildUser {
  uid_t uid;
  gid_t gid;
};

// Who an unprivileged child runs as: "nobody" when the tests run as root, else the tester.
inline ChildUser UnprivilegedUser() {
  if (::geteuid() != 0) return {::geteuid(), ::getegid()};
  const passwd* nobody = ::getpwnam("nobody");
  return nobody ? ChildUser{nobody->pw_uid, nobody->pw_gid} : ChildUser{65534, 65534};
}

constexpr int kChildTimedOut = -1;
constexpr int kChildCrashed = -2;
constexpr int kChildCannotDropRights = 125;

// body's result as the child's exit status, kChildTimedOut when it had not ended after
// timeout (it is killed then), kChildCrashed when it died of a signal. With unprivileged,
// the child first becomes UnprivilegedUser() (kChildCannotDropRights when it cannot).
inline int RunInChild(const std::function<int()>& body, std::chrono::milliseconds timeout,
                      bool unprivileged = false) {
  const ChildUser user = UnprivilegedUser();
  const pid_t pid = ::fork();
  if (pid < 0) return kChildCrashed;
  if (pid == 0) {
    if (unprivileged && ::geteuid() == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0) {
        ::_exit(kChildCannotDropRights);
      }
    }
    ::_exit(body());
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return kChildTimedOut;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : kChildCrashed;
}

}  // namespace pyokoran
