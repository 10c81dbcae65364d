#include "platform/raster_image.h"

#include <cstdint>

namespace pixmoor::platform {

QImage rasterToQImage(const image::Raster* raster) {
  if (raster == nullptr || raster->data() == nullptr || raster->width <= 0 || raster->height <= 0) return {};
  if (raster->depth != 24 && raster->depth != 32) return {};
  const int bytes = raster->bytesPerPixel();
  if (raster->stride < raster->width * bytes) return {};
  QImage out(raster->width, raster->height, bytes == 4 ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  if (out.isNull()) return {};
  for (int y = 0; y < raster->height; ++y) {
    const std::uint8_t* in = raster->pictureRow(y);
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < raster->width; ++x, in += bytes) {
      const int alpha = bytes == 4 ? in[3] : 255;
      line[x] = qRgba(in[2], in[1], in[0], alpha);
    }
  }
  return out;
}

}  // namespace pixmoor::platform
