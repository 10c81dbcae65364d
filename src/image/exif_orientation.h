// EXIF orientation: reads the orientation tag of a JPEG's APP1 "Exif" block
// or a PNG's eXIf chunk and maps decoded pixel positions to their place in
// the upright picture.
//
// The block is hostile: every offset is checked against its end, and a block
// that cannot be read answers orientation 1 (as stored). Pure functions,
// callable from any thread.
#pragma once

#include <cstdint>
#include <span>

namespace pixmoor::image {

// The orientation tag (0x0112) of IFD0, 1 to 8; 1 when absent or unreadable.
// `app1` is the APP1 segment's payload, starting with "Exif\0\0".
int exifOrientation(std::span<const std::uint8_t> app1);
// The same from the TIFF structure alone ("II" or "MM" first), as a PNG's
// eXIf chunk holds it.
int tiffOrientation(std::span<const std::uint8_t> tiff);

// Orientations 5 to 8 turn the picture a quarter: width and height swap.
inline bool orientationSwapsSides(int orientation) {
  return orientation >= 5 && orientation <= 8;
}

// Where the stored pixel (x, y) of a width x height picture lands in the
// upright picture (top-left origin).
struct Position {
  int x;
  int y;
};
inline Position orientedPosition(int orientation, int x, int y, int width, int height) {
  switch (orientation) {
    case 2:
      return {width - 1 - x, y};
    case 3:
      return {width - 1 - x, height - 1 - y};
    case 4:
      return {x, height - 1 - y};
    case 5:
      return {y, x};
    case 6:
      return {height - 1 - y, x};
    case 7:
      return {height - 1 - y, width - 1 - x};
    case 8:
      return {y, width - 1 - x};
    default:
      return {x, y};
  }
}

}  // namespace pixmoor::image
