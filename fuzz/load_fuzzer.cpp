// Fuzz target: ImageStore::loadFromMemory over arbitrary bytes, so every
// reader (BMP, icon containers, JPEG, PNG) is reached through the same door
// the program uses; the seed corpus decides which family a run explores.
//
// Two modes. By default pictures are refused above 4 megapixels, so that a
// run spends its time on parsing rather than on filling gigabyte rasters
// from tiny inputs. With PIXMOOR_FUZZ_MEMORY_BUDGET_MB set, the real limits
// apply instead: sides up to 32767 and that memory budget, as the batch has
// them; run it with libFuzzer's -malloc_limit_mb just above the budget, so
// that any allocation beyond the budget is a crash (scripts/fuzz.sh budget).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "image/format_registry.h"
#include "image/image_store.h"

namespace {

constexpr std::uint64_t kPixelLimit = std::uint64_t{1} << 22;

// 0: the capped mode.
std::uint64_t memoryBudget = 0;

std::uint64_t littleEndian(const std::uint8_t* p, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

// The BMP reader has no pixel limit of its own: skip headers above the limit.
bool bmpTooLarge(std::span<const std::uint8_t> data) {
  if (data.size() < 26 || data[0] != 'B' || data[1] != 'M') return false;
  const std::uint64_t headerSize = littleEndian(&data[14], 4);
  std::int64_t width = 0, height = 0;
  if (headerSize == 12) {
    width = static_cast<std::int64_t>(littleEndian(&data[18], 2));
    height = static_cast<std::int64_t>(littleEndian(&data[20], 2));
  } else {
    width = static_cast<std::int32_t>(littleEndian(&data[18], 4));
    height = static_cast<std::int32_t>(littleEndian(&data[22], 4));
  }
  return static_cast<std::uint64_t>(std::llabs(width)) * static_cast<std::uint64_t>(std::llabs(height)) >
         kPixelLimit;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pixmoor::image::registerJpegDecoder();
  pixmoor::image::registerPngDecoder();
  if (const char* budget = std::getenv("PIXMOOR_FUZZ_MEMORY_BUDGET_MB");
      budget != nullptr && *budget != '\0') {
    memoryBudget = std::strtoull(budget, nullptr, 10) << 20;
  } else {
    pixmoor::image::setDecodePixelLimit(kPixelLimit);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pixmoor::image;
  static ImageStore store;
  const std::span<const std::uint8_t> block(data, size);
  if (memoryBudget == 0 && bmpTooLarge(block)) return -1;  // not added to the corpus
  const DecodeLimits limits{memoryBudget != 0 ? memoryBudget : kNoMemoryBudget, nullptr};
  if (store.loadFromMemory(kWorkingPicture, block, limits) != 0) {
    // Every byte of the raster must be owned and initialised.
    const Raster* raster = store.raster(kWorkingPicture);
    unsigned sum = 0;
    for (int y = 0; y < raster->height; y += 1 + raster->height / 8)
      sum += raster->storageRow(y)[raster->stride - 1];
    if (sum == 0xFFFFFFFFu) std::abort();  // keeps the reads
    // The dynamic path takes the same readers; try it on small inputs.
    if (size < 4096) {
      const auto id = store.loadFromMemory(kNewImage, block, limits);
      store.release(static_cast<ImageId>(id));
    }
  }
  store.release(kWorkingPicture);
  return 0;
}
