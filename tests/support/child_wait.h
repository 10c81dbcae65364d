// Waiting for a child process to end, for at most a given time, without
// polling it: the kernel's descriptor of the process (pidfd) becomes
// readable the moment it ends, so the bound is only ever a bound, never the
// pace of the test.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace pixmoor::testing {

// Whether child `pid` ended within `limit` (it is not reaped: waitpid still
// answers its status).
inline bool endsWithin(pid_t pid, std::chrono::microseconds limit) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + limit;
  const int descriptor = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (descriptor >= 0) {
    pollfd watched{descriptor, POLLIN, 0};
    int ready = 0;
    do {
      const auto left = std::max(Clock::duration::zero(), deadline - Clock::now());
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
      const timespec timeout{static_cast<time_t>(seconds.count()),
                             static_cast<long>(std::chrono::nanoseconds(left - seconds).count())};
      ready = ::ppoll(&watched, 1, &timeout, nullptr);
    } while (ready < 0 && errno == EINTR);
    ::close(descriptor);
    return ready > 0;
  }
  // Kernels before 5.3 have no pidfd: look again every millisecond.
  for (;;) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == pid)
      return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

struct ChildEnd {
  bool inTime = false;  // ended by itself within the limit
  int status = 0;       // the wait status (of the SIGKILL when not in time)
};

// Waits at most `limit` for child `pid` to end, kills it when it has not,
// and reaps it either way; `usage` receives what it used.
inline ChildEnd endChildWithin(pid_t pid, std::chrono::microseconds limit, rusage* usage = nullptr) {
  ChildEnd end;
  end.inTime = endsWithin(pid, limit);
  if (!end.inTime) ::kill(pid, SIGKILL);
  rusage ignored{};
  while (::wait4(pid, &end.status, 0, usage != nullptr ? usage : &ignored) < 0 && errno == EINTR) {
  }
  return end;
}

// The exit code of a child that ended in time, 128 + the signal that ended
// it, or -1 when it had to be killed.
inline int exitCodeOf(const ChildEnd& end) {
  if (!end.inTime) return -1;
  return WIFEXITED(end.status) ? WEXITSTATUS(end.status) : 128 + WTERMSIG(end.status);
}

}  // namespace pixmoor::testing
