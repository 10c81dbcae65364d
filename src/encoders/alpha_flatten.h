// Flattening of straight-alpha pixels onto a white background, for formats
// that cannot keep alpha.
//
// Each of blue, green and red becomes ((c - 255) * a + 65025) / 255 with
// integer division: c * a/255 + 255 * (1 - a/255) with the fraction dropped.
// So alpha 255 keeps the colour, alpha 0 gives white, and blue 0, green 0,
// red 255 at alpha 128 gives 127, 127, 255. Pure functions, any thread.
#pragma once

#include <cstdint>
#include <memory>

#include "image/raster.h"

namespace pixmoor::image {

constexpr std::uint8_t flattenOnWhite(std::uint8_t colour, std::uint8_t alpha) {
  // The numerator is never negative ((c - 255) * a >= -65025), so the
  // division truncates and floors alike.
  return static_cast<std::uint8_t>(((static_cast<int>(colour) - 255) * static_cast<int>(alpha) + 65025) /
                                   255);
}

// A new 24-bit raster (stride: 3 bytes per pixel padded to 4) holding the
// 32-bit `source` flattened onto white, rows in the same storage order.
// Null when `source` is not a 32-bit raster with pixels or memory runs out.
std::unique_ptr<Raster> flattenToWhite(const Raster& source);

}  // namespace pixmoor::image
