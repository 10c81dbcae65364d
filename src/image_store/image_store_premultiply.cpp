// Display copies of Images with alpha: colours multiplied by alpha, or the
// dimmed grey of a disabled menu entry.
#include "image_store/image_store.h"

namespace pixmoor::image {
namespace {

// The disabled look compresses the grey level towards the middle: levels
// below 64 or above 192 move 30% of the way back (0 gives 20, 255 gives 236).
int dimmedGrey(int blue, int green, int red) {
  const int u = (blue + 6 * green + 3 * red) / 10;
  if (u < 64) return 64 + (7 * (u - 64)) / 10;
  if (u > 192) return 192 + (7 * (u - 192)) / 10;
  return u;
}

}  // namespace

std::unique_ptr<Raster> premultipliedCopy(const Raster& raster, bool grey) {
  if (raster.data() == nullptr || (raster.depth != 24 && raster.depth != 32)) return nullptr;
  auto copy = makeRaster(raster.width, raster.height, 32);
  if (copy == nullptr) return nullptr;
  const int inBytes = raster.bytesPerPixel();
  for (int y = 0; y < raster.height; ++y) {
    const std::uint8_t* in = raster.storageRow(y);
    std::uint8_t* out = copy->storageRow(y);
    for (int x = 0; x < raster.width; ++x, in += inBytes, out += 4) {
      const int b = in[0], g = in[1], r = in[2];
      const int a = inBytes == 4 ? in[3] : 255;
      out[3] = static_cast<std::uint8_t>(a);
      if (grey) {
        const int v = dimmedGrey(b, g, r);
        const auto level = static_cast<std::uint8_t>(static_cast<int>((a / 255.0) * v));
        out[0] = out[1] = out[2] = level;
      } else if (a < 255) {
        out[0] = static_cast<std::uint8_t>((b * a) >> 8);
        out[1] = static_cast<std::uint8_t>((g * a) >> 8);
        out[2] = static_cast<std::uint8_t>((r * a) >> 8);
      } else {
        out[0] = static_cast<std::uint8_t>(b);
        out[1] = static_cast<std::uint8_t>(g);
        out[2] = static_cast<std::uint8_t>(r);
      }
    }
  }
  return copy;
}

}  // namespace pixmoor::image
