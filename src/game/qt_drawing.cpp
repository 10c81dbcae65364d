// Copying a QImage back into the store's bottom-up raster, and ImageDrawing.
#include "game/qt_drawing.h"

#include <cstddef>
#include <cstdint>

#include "platform/raster_image.h"

namespace pixmoor::game {
namespace {

bool isDrawableRaster(const image::ImageRecord* record) {
  return record != nullptr && !record->isIcon && record->raster != nullptr &&
         record->raster->data() != nullptr && (record->raster->depth == 24 || record->raster->depth == 32);
}

}  // namespace

bool copyQImageToRaster(const QImage& picture, image::Raster& raster) {
  if (raster.data() == nullptr || picture.width() != raster.width || picture.height() != raster.height ||
      (raster.depth != 24 && raster.depth != 32)) {
    return false;
  }
  const bool alpha = raster.depth == 32;
  const QImage source = picture.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  if (source.isNull()) {
    return false;
  }
  const int bytes = raster.bytesPerPixel();
  for (int y = 0; y < raster.height; ++y) {
    const auto* from = reinterpret_cast<const QRgb*>(source.constScanLine(y));
    std::uint8_t* to = raster.pictureRow(y);
    for (int x = 0; x < raster.width; ++x) {
      std::uint8_t* p = to + static_cast<std::ptrdiff_t>(x) * bytes;
      p[0] = static_cast<std::uint8_t>(qBlue(from[x]));
      p[1] = static_cast<std::uint8_t>(qGreen(from[x]));
      p[2] = static_cast<std::uint8_t>(qRed(from[x]));
      if (alpha) p[3] = static_cast<std::uint8_t>(qAlpha(from[x]));
    }
  }
  return true;
}

ImageDrawing::ImageDrawing(image::ImageStore& store, image::ImageId number) {
  const image::ImageRecord* record = store.record(number);
  if (!isDrawableRaster(record)) {
    return;
  }
  raster_ = store.raster(number);
  picture_ = platform::rasterToQImage(raster_);
  if (picture_.isNull()) {
    raster_ = nullptr;
    return;
  }
  painter_.emplace(&picture_);
  if (!painter_->isActive()) {
    painter_.reset();
    raster_ = nullptr;
  }
}

ImageDrawing::~ImageDrawing() {
  end();
}

bool ImageDrawing::end() {
  if (!painter_) {
    return false;
  }
  painter_->end();
  painter_.reset();
  const bool copied = copyQImageToRaster(picture_, *raster_);
  raster_ = nullptr;
  return copied;
}

}  // namespace pixmoor::game
