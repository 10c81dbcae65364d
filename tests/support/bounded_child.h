// Running part of a test in a forked child that cannot take the machine with
// it: its address space is capped a given amount above what the process
// already maps, and it is killed once its time is up. For tests of hostile
// input that would hang or exhaust the machine if the code under test failed.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>

#include "support/child_wait.h"

namespace pixmoor::testing {

// Sanitizer runtimes reserve terabytes of address space and own the heap:
// no cap (and no watching of the heap) under them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PIXMOOR_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define PIXMOOR_UNDER_SANITIZER 1
#endif
#endif
#ifdef PIXMOOR_UNDER_SANITIZER
inline constexpr bool kAddressSpaceCapWorks = false;
#else
inline constexpr bool kAddressSpaceCapWorks = true;
#endif

struct BoundedRun {
  bool inTime = false;  // ended by itself before its time was up
  int status = -1;      // what the body answered (-1 when killed or crashed)
  double seconds = 0;
  long peakKiB = 0;  // the child's largest resident size beyond what it inherited
};

// Runs `body` in a forked child with at most `extraBytes` of address space
// beyond what this process maps now, for at most `seconds`.
inline BoundedRun runBounded(const std::function<int()>& body, std::uint64_t extraBytes, int seconds) {
  std::uint64_t mappedPages = 0;
  long residentPages = 0;
  std::ifstream("/proc/self/statm") >> mappedPages >> residentPages;
  const long inheritedKiB = residentPages * (::sysconf(_SC_PAGESIZE) / 1024);
  const std::uint64_t cap = mappedPages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) + extraBytes;
  std::fflush(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (kAddressSpaceCapWorks) {
      const rlimit limit{cap, cap};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    ::_exit(body());
  }
  BoundedRun run;
  if (pid < 0) return run;
  rusage usage{};
  const ChildEnd end = endChildWithin(pid, std::chrono::seconds(seconds), &usage);
  run.inTime = end.inTime;
  run.status = end.inTime && WIFEXITED(end.status) ? WEXITSTATUS(end.status) : -1;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peakKiB = usage.ru_maxrss > inheritedKiB ? usage.ru_maxrss - inheritedKiB : 0;
  return run;
}

}  // namespace pixmoor::testing
