// Running part of a test in a forked child that cannot take the machine with
// it: its address space is capped a given amount above what the process
// already maps, and it is killed once its time is up. For tests of hostile
// input that would hang or exhaust the machine if the code under test failed.
#pragma once

#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>

#include "support/child_wait.h"
#include "support/under_sanitizer.h"

namespace pixmoor::testing {

// Sanitizer runtimes reserve terabytes of address space and own the heap:
// no cap (and no watching of the heap) under them.
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

// Runs `body` in a forked child that may map at most `room` bytes more than
// this process does, and answers what it returned (-1 when it crashed or ran
// past two minutes). Unlike runBounded, the cap holds whatever this process
// allocated and freed before: the child maps blocks from 64 KiB up anew and
// first takes the free memory its heap already holds, so that what `body`
// allocates needs new mappings, which the cap counts. Free memory in other
// threads' malloc arenas would escape it: a program that uses this makes
// every thread share one arena (useOneMallocArena, before any thread starts).
// Without a cap under a sanitizer (kAddressSpaceCapWorks).
inline int runWithRoom(const std::function<int()>& body, std::uint64_t room) {
  return runBounded(
             [&] {
               mallopt(M_MMAP_THRESHOLD, 64 * 1024);
               const struct mallinfo2 before = mallinfo2();
               // Blocks below the threshold, taken until the heap would grow.
               for (;;) {
                 const struct mallinfo2 now = mallinfo2();
                 if (now.arena != before.arena || now.hblkhd != before.hblkhd || std::malloc(4096) == nullptr)
                   break;
               }
               return body();
             },
             room, 120)
      .status;
}

inline bool useOneMallocArena() {
  return mallopt(M_ARENA_MAX, 1) == 1;
}

}  // namespace pixmoor::testing
