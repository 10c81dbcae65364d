// The decode helper's confinement: what the process gives up before it
// parses the first byte of a picture, so that a hostile file that takes it
// over can do no more than spend the memory and time of its own picture.
//
// - an address-space limit of the picture's share of the memory budget
//   (above what the program already maps), so that a library that asks for
//   more gets a failed allocation rather than the machine's memory;
// - a CPU-time limit, so that a file that makes a library spin ends;
// - no new privileges, and death with the process that started it (the spawner);
// - a seccomp filter (libseccomp), an allow-list: reading the request pipe
//   and the picture, writing the answer pipe and standard error, memory,
//   threads of its own process, clocks, futexes and signals to itself.
//   Calls that open a file by name are answered EACCES, so that a library
//   that looks for something optional (a plug-in folder, the CPU count in
//   /sys) carries on without it; every other call (sockets, programs, new
//   processes, ptrace, executable memory) kills the process, which the
//   engine reports as a damaged picture.
//
// Called once, on the helper's only thread, before any other thread
// exists (the filter reaches the threads started after it). False when a
// step could not be taken: the helper then ends without reading.
#pragma once

#include <cstdint>

namespace pixmoor::decode_helper {

struct Confinement {
  std::uint64_t memoryBudget = 0;  // what the picture may hold; UINT64_MAX: no limit
  std::uint32_t cpuSeconds = 0;    // 0: no limit
};

// The room above the picture's budget: thread stacks, the libraries' own
// arenas and tables, the answer's buffers.
inline constexpr std::uint64_t kAddressSpaceAllowance = std::uint64_t{256} << 20;

bool confine(const Confinement& confinement);

}  // namespace pixmoor::decode_helper
