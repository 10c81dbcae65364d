// Rows of a picture as a library decodes them, put in their places in the
// upright raster. A file may store its picture turned (an EXIF or TIFF
// orientation, image/orientation.h) and libraries hand their rows over as
// stored; the raster the readers answer holds the picture upright.
//
// One placement belongs to one decode on one thread. It writes only inside
// the raster it was given and owns no memory.
#pragma once

#include <cstdint>

namespace pixmoor::foreign {

class UprightRows {
 public:
  // The raster at `pixels`, `stride` bytes a row (bottom-up rows when
  // `bottomUp`), holds the stored picture of `storedWidth` x `storedHeight`
  // pixels turned by `orientation` (1 to 8); pixels are `bytesPerPixel`
  // (3 or 4) bytes, B G R (A).
  UprightRows(std::uint8_t* pixels, int stride, bool bottomUp, int storedWidth, int storedHeight,
              int orientation, int bytesPerPixel);

  // Puts `count` pixels of stored row `y`, from stored column `x` on, in
  // their upright places.
  void place(const std::uint8_t* pixels, int x, int y, int count) const;

 private:
  std::uint8_t* storageRow(int uprightY) const;

  std::uint8_t* pixels_;
  int stride_;
  bool bottomUp_;
  int storedWidth_;
  int storedHeight_;
  int orientation_;
  int bytesPerPixel_;
};

}  // namespace pixmoor::foreign
