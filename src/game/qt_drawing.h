// Drawing on Images of the store with QPainter.
//
// ImageDrawing is the game's way in to an Image's pixels for 2D drawing: it
// copies the raster (24 or 32 bits, rows bottom-up, B G R (A)) into a QImage
// (top-down), hands out a QPainter on it, and when the drawing ends copies
// the pixels back into the raster (platform::rasterToQImage makes the copy).
// Interface thread only (QPainter on a QImage); the store and the Image
// belong to that thread while drawing.
#pragma once

#include <QImage>
#include <QPainter>
#include <optional>

#include "image_store/image_store.h"

namespace pixmoor::game {

// Copies a QImage of the raster's size back into the raster; false (raster
// untouched) when the sizes differ.
bool copyQImageToRaster(const QImage& picture, image::Raster& raster);

class ImageDrawing {
 public:
  // Starts drawing on Image `number`. valid() is false when the number holds
  // no raster (no Image, or an icon), or when memory is short.
  ImageDrawing(image::ImageStore& store, image::ImageId number);
  // Ends the drawing if end() was not called.
  ~ImageDrawing();
  ImageDrawing(const ImageDrawing&) = delete;
  ImageDrawing& operator=(const ImageDrawing&) = delete;

  bool valid() const { return painter_.has_value(); }
  // Only while valid().
  QPainter& painter() { return *painter_; }
  // Width and height of the Image, 0 when not valid.
  int width() const { return picture_.width(); }
  int height() const { return picture_.height(); }

  // Finishes the painting and copies the pixels into the raster. Answers
  // false when nothing was drawn (not valid) or the copy failed.
  bool end();

 private:
  image::Raster* raster_ = nullptr;
  QImage picture_;
  std::optional<QPainter> painter_;
};

}  // namespace pixmoor::game
