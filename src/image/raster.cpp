#include "image/raster.h"

#include <cstdlib>
#include <limits>

namespace pixmoor::image {

void Raster::FreeDeleter::operator()(std::uint8_t* p) const noexcept {
  std::free(p);
}

std::int64_t rowStride(std::int64_t width, int bitsPerPixel) {
  if (width < 0 || width > std::numeric_limits<std::int32_t>::max()) return -1;
  switch (bitsPerPixel) {
    case 1:
      return ((width + 31) / 32) * 4;
    case 4:
      return ((width + 7) / 8) * 4;
    case 8:
      return ((width + 3) / 4) * 4;
    case 15:
    case 16:
      return ((width + 1) / 2) * 4;
    case 24:
      return ((3 * width + 3) / 4) * 4;
    default:
      return 4 * width;
  }
}

std::unique_ptr<Raster> makeRaster(int width, int height, int depth) {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return nullptr;
  const int bits = depth > 24 ? 32 : 24;
  const std::int64_t stride = rowStride(width, bits);
  // Both sides are at most 32767, so stride * height stays far below 2^63;
  // calloc hands large blocks out as fresh zero pages without touching them.
  const auto bytes = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
  auto* memory = static_cast<std::uint8_t*>(std::calloc(bytes, 1));
  if (memory == nullptr) return nullptr;
  auto raster = std::make_unique<Raster>();
  raster->width = width;
  raster->height = height;
  raster->depth = bits;
  raster->stride = static_cast<int>(stride);
  raster->pixels_.reset(memory);
  return raster;
}

}  // namespace pixmoor::image
