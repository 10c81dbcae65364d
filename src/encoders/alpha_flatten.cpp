#include "encoders/alpha_flatten.h"

namespace pixmoor::image {

std::unique_ptr<Raster> flattenToWhite(const Raster& source) {
  if (source.depth != 32 || source.data() == nullptr) return nullptr;
  auto flat = makeRaster(source.width, source.height, 24);
  if (!flat) return nullptr;
  for (int y = 0; y < source.height; ++y) {
    const std::uint8_t* in = source.storageRow(y);
    std::uint8_t* out = flat->storageRow(y);
    for (int x = 0; x < source.width; ++x, in += 4, out += 3) {
      const std::uint8_t a = in[3];
      out[0] = flattenOnWhite(in[0], a);
      out[1] = flattenOnWhite(in[1], a);
      out[2] = flattenOnWhite(in[2], a);
    }
  }
  return flat;
}

}  // namespace pixmoor::image
