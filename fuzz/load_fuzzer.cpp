// Fuzz target: ImageStore::loadFromMemory over arbitrary bytes, so every
// reader of the format registry is reached through the door the window's
// own pictures use; the seed corpus (and PIXMOOR_FUZZ_FAMILY) decides which
// family a run explores. Modes and limits: fuzz_support.h.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_support.h"
#include "image_store/image_store.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pixmoor::fuzz::initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pixmoor::image;
  static ImageStore store;
  const std::span<const std::uint8_t> block(data, size);
  if (!pixmoor::fuzz::worthReading(block)) return -1;  // not added to the corpus
  const DecodeLimits limits = pixmoor::fuzz::setup().limits();
  if (store.loadFromMemory(kWorkingPicture, block, limits) != 0) {
    pixmoor::fuzz::touchEveryRow(*store.raster(kWorkingPicture));
    // The dynamic path takes the same readers; try it on small inputs.
    if (size < 4096) {
      const auto id = store.loadFromMemory(kNewImage, block, limits);
      store.release(static_cast<ImageId>(id));
    }
  }
  store.release(kWorkingPicture);
  return 0;
}
