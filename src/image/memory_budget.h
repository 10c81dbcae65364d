// The memory one picture may take, and the limits every decode runs under.
//
// A decode is refused before it allocates when what it would hold (the
// raster, plus the library's own buffers such as libjpeg's coefficient
// arrays for progressive files, plus the compressed data read from a file)
// exceeds its budget. The batch takes the machine's budget once, when it
// starts; a load without limits of its own takes it at the time of the load.
// Tests inject smaller budgets. Pure values and one function that reads
// /proc and the process's limits; callable from any thread.
#pragma once

#include <cstdint>
#include <limits>

#include "image/raster.h"

namespace pixmoor::image {

inline constexpr std::uint64_t kNoMemoryBudget = std::numeric_limits<std::uint64_t>::max();

// Below this the budget taken from the machine's free memory never goes: the
// kernel's estimate is cautious, and a photo of some 40 megapixels (raster
// and progressive coefficients) must still load on a busy machine. Hard
// limits of the process (address space, control group) cap it regardless.
inline constexpr std::uint64_t kMemoryBudgetFloor = std::uint64_t{256} << 20;

// Half of the memory the machine can give now: `MemAvailable` of
// /proc/meminfo (at least kMemoryBudgetFloor), and at most half of the room
// left under the process's address-space limit and its control group's
// memory limit. Half, because the picture is only part of the work: its
// resampled copy, the encoder and the rest of the desktop need the other.
std::uint64_t machineMemoryBudget();

struct DecodeLimits {
  std::uint64_t memoryBudget = kNoMemoryBudget;  // bytes the decode may hold
  // Polled by the readers per row (per scan or pass in the libraries): once
  // raised, the decode stops and answers "cancelled".
  const CancelFlag* cancel = nullptr;
};

// The limits of a load that names none: the machine's budget, no cancel.
inline DecodeLimits machineDecodeLimits() {
  return DecodeLimits{machineMemoryBudget(), nullptr};
}

// Bytes of a raster made by makeRaster (0 for sizes it refuses).
std::uint64_t rasterBytes(int width, int height, int depth);

// The budget less `used`, never below 0.
constexpr std::uint64_t budgetLeft(std::uint64_t budget, std::uint64_t used) {
  return budget > used ? budget - used : 0;
}

}  // namespace pixmoor::image
