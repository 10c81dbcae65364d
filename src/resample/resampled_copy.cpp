#include "resample/resample.h"

namespace pixmoor::image {

std::unique_ptr<Raster> resampledCopy(Raster& source, int width, int height, const CancelFlag* cancel) {
  // makeRaster refuses sides that are not positive or above 32767 before
  // asking for any memory.
  std::unique_ptr<Raster> result = makeRaster(width, height, source.depth);
  if (result == nullptr) return nullptr;
  // Only a 32-bit raster carries alpha.
  const bool done =
      source.depth == 32 ? resampleSmooth(source, *result, cancel) : resampleOpaque(source, *result, cancel);
  if (!done) return nullptr;
  return result;
}

}  // namespace pixmoor::image
