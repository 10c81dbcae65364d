// The decode helper's confinement: what the process gives up before it
// parses the first byte of a picture, so that a hostile file that takes it
// over can do no more than spend the memory and time of its own picture.
//
// - an address-space limit of the picture's share of the memory budget
//   (above what the program already maps; a load without a budget gets the
//   machine's), so that a library that asks for more gets a failed
//   allocation rather than the machine's memory; never above a hard limit
//   it inherited (ulimit -v), which would make the limit fail;
// - a CPU-time limit, so that a file that makes a library spin ends;
// - no file growth (RLIMIT_FSIZE 0), no core file, not dumpable;
// - no new privileges, and death with the process that started it (the spawner);
// - a seccomp filter (libseccomp), an allow-list: reading the request pipe
//   and the picture, writing the answer pipe, memory, threads of its own
//   process, clocks, futexes and signals to itself. Calls that open or stat
//   a file by name are answered EACCES, so that a library that looks for
//   something optional (a plug-in folder, the CPU count in /sys) carries on
//   without it; writes to standard error EBADF; every other call (sockets,
//   programs, new processes, ptrace, executable memory, a call of another
//   architecture) kills the process with SIGSYS, which the engine reports
//   as a sandbox violation.
//
// Called once, on the helper's only thread, before any other thread
// exists (the filter reaches the threads started after it). False when a
// step could not be taken: the helper then refuses the picture unread.
#pragma once

#include <cstdint>

namespace pixmoor::decode_helper {

struct Confinement {
  std::uint64_t memoryBudget = 0;  // what the picture may hold
  std::uint32_t cpuSeconds = 0;    // 0: no limit
};

// The room above the picture's budget: thread stacks, the libraries' own
// arenas and tables, the answer's buffers.
inline constexpr std::uint64_t kAddressSpaceAllowance = std::uint64_t{256} << 20;

bool confine(const Confinement& confinement);

// What the process maps now, kept for its forks: called by the spawner
// before it leaves /proc behind (empty_namespaces.h).
void rememberMappedBytes();

// The filter confine() loads, written to `fd` as libseccomp prints it (its
// PFC text), for the test that keeps the description of it true.
bool writeFilterText(int fd);

}  // namespace pixmoor::decode_helper
