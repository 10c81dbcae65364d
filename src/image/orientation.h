// Where a picture stored turned by an EXIF or TIFF orientation (1 to 8)
// puts its pixels once upright. Geometry alone: the resampling and the
// readers need it, and reading the tag from a file is metadata/exif_orientation.h's.
// Pure functions, callable from any thread.
#pragma once

namespace pixmoor::image {

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
