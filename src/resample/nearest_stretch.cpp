// Raw stretch: every target pixel is a copy of the source pixel whose area
// holds the target pixel's centre, all bytes of it, with no blending.
//
// Positions are taken in picture order (top row first, left column first):
// target index i reads source index floor((i + 0.5) * old / new), computed in
// integers. A centre that falls exactly on the border of two source pixels
// takes the later one.
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "resample/resample.h"
#include "resample/resample_kernels.h"

namespace pixmoor::image {
namespace {

inline std::int32_t nearestIndex(int i, int newLength, int oldLength) {
  return static_cast<std::int32_t>(((2 * std::int64_t{i} + 1) * oldLength) / (2 * std::int64_t{newLength}));
}

}  // namespace

bool stretchRaw(const Raster& source, Raster& target) {
  if (!rasterUsable(source) || !rasterUsable(target) || source.depth != target.depth) return false;
  const int bytes = source.bytesPerPixel();
  std::vector<std::int32_t> columns;
  try {
    columns.resize(static_cast<std::size_t>(target.width));
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int x = 0; x < target.width; ++x) {
    columns[static_cast<std::size_t>(x)] = nearestIndex(x, target.width, source.width) * bytes;
  }
  for (int y = 0; y < target.height; ++y) {
    const std::uint8_t* in = source.pictureRow(nearestIndex(y, target.height, source.height));
    std::uint8_t* out = target.pictureRow(y);
    for (const std::int32_t column : columns) {
      std::memcpy(out, in + column, static_cast<std::size_t>(bytes));
      out += bytes;
    }
  }
  return true;
}

}  // namespace pixmoor::image
