// The two quarter turns of a bat label.
#include "game_rules/label_turn.h"

#include <array>
#include <cstddef>
#include <cstdint>

#include "game_rules/ball_game_rules.h"

namespace pixmoor::game {
namespace {

static_assert(kBatWidth == kLabelHeight && kBatHeight == kLabelWidth);

using ColourBuffer = std::array<std::uint32_t, kBatWidth * kBatHeight>;

bool usable(const image::Raster& r, int width, int height) {
  return r.data() != nullptr && r.width == width && r.height == height && (r.depth == 24 || r.depth == 32);
}

// One colour as 0xAARRGGBB; a 24-bit pixel reads as opaque.
std::uint32_t readPixel(const image::Raster& r, int x, int y) {
  const std::uint8_t* p = r.pictureRow(y) + static_cast<std::ptrdiff_t>(x) * r.bytesPerPixel();
  const std::uint32_t alpha = r.depth == 32 ? p[3] : 0xFFu;
  return (alpha << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
}

void writePixel(image::Raster& r, int x, int y, std::uint32_t colour) {
  std::uint8_t* p = r.pictureRow(y) + static_cast<std::ptrdiff_t>(x) * r.bytesPerPixel();
  p[0] = static_cast<std::uint8_t>(colour);
  p[1] = static_cast<std::uint8_t>(colour >> 8);
  p[2] = static_cast<std::uint8_t>(colour >> 16);
  if (r.depth == 32) p[3] = static_cast<std::uint8_t>(colour >> 24);
}

template <typename SourceOf>
bool turn(const image::Raster& label, image::Raster& bat, SourceOf sourceOf) {
  if (!usable(label, kLabelWidth, kLabelHeight) || !usable(bat, kBatWidth, kBatHeight)) {
    return false;
  }
  ColourBuffer buffer{};
  for (int y = 0; y < kBatHeight; ++y) {
    for (int x = 0; x < kBatWidth; ++x) {
      const auto [sx, sy] = sourceOf(x, y);
      buffer[static_cast<std::size_t>(y * kBatWidth + x)] = readPixel(label, sx, sy);
    }
  }
  for (int y = 0; y < kBatHeight; ++y) {
    for (int x = 0; x < kBatWidth; ++x) {
      writePixel(bat, x, y, buffer[static_cast<std::size_t>(y * kBatWidth + x)]);
    }
  }
  return true;
}

struct Point {
  int x;
  int y;
};

}  // namespace

bool turnLabelCounterClockwise(const image::Raster& label, image::Raster& bat) {
  return turn(label, bat, [](int x, int y) { return Point{kLabelWidth - 1 - y, x}; });
}

bool turnLabelClockwise(const image::Raster& label, image::Raster& bat) {
  return turn(label, bat, [](int x, int y) { return Point{y, kLabelHeight - 1 - x}; });
}

}  // namespace pixmoor::game
