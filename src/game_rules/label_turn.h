// Turning the 128 x 24 bat labels a quarter turn into the 24 x 128 bat
// pictures.
//
// Pixels are addressed top-down (row 0 is the top row of the picture, as the
// viewer sees it), whatever the raster's storage order. The colours go
// through a buffer of 24 x 128 colours, one 32-bit colour per pixel, so that
// source and target may be of either depth. Qt-free; the rasters belong to
// the calling thread.
#pragma once

#include "image/raster.h"

namespace pixmoor::game {

inline constexpr int kLabelWidth = 128;
inline constexpr int kLabelHeight = 24;

// Quarter turn counter-clockwise (the word then reads from bottom to top):
// pixel (x, y) of `bat` becomes pixel (127 - y, x) of `label`.
// False, with `bat` untouched, unless label is 128 x 24 and bat 24 x 128.
bool turnLabelCounterClockwise(const image::Raster& label, image::Raster& bat);

// Quarter turn clockwise (the word reads from top to bottom): pixel (x, y) of
// `bat` becomes pixel (y, 23 - x) of `label`. Same sizes and answer.
bool turnLabelClockwise(const image::Raster& label, image::Raster& bat);

}  // namespace pixmoor::game
