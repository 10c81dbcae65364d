// Fuzz target: the GIF reader, called in this process as pixmoor-decode
// calls it, always under a memory budget (its own check of the header is
// what keeps a few bytes from asking for gigabytes; the real limits' budget
// with PIXMOOR_FUZZ_MEMORY_BUDGET_MB, else 64 MiB). The input's last byte
// chooses the whole picture, the picture reduced while decoded (a third to
// an eighth), or the header alone.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_support.h"
#include "isolated_readers/gif_reader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pixmoor::fuzz::initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pixmoor::image;
  const std::span<const std::uint8_t> block(data, size);
  if (size == 0 || !pixmoor::fuzz::worthReading(block)) return -1;
  const std::uint64_t budget = pixmoor::fuzz::setup().memoryBudget;
  const DecodeLimits limits{budget != 0 ? budget : std::uint64_t{64} << 20, nullptr};
  const int choice = data[size - 1];
  const int divisor = 3 + choice % 6;
  const ReduceTo reduce = [divisor](int width, int height) -> std::optional<PictureSize> {
    return PictureSize{std::max(1, width / divisor), std::max(1, height / divisor)};
  };
  PictureInput input(block);
  const ReadUpTo upTo = choice % 3 == 2 ? ReadUpTo::header : ReadUpTo::picture;
  const Reading reading = pixmoor::foreign::readGif(input, limits, choice % 3 == 1 ? &reduce : nullptr, upTo);
  if (reading.picture && reading.picture->raster) pixmoor::fuzz::touchEveryRow(*reading.picture->raster);
  return 0;
}
