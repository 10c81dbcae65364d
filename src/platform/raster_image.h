// Showing an Image of the store: its raster (bottom-up rows, B G R (A),
// straight alpha) converted to a top-down QImage, for the window's controls
// and the game's windows and drawing alike.
//
// The copy owns its pixels; the raster may be released afterwards. A null
// or malformed raster (no pixels, a depth other than 24 or 32, rows shorter
// than the width) gives a null QImage. Any thread (QImage is not a widget).
#pragma once

#include <QImage>

#include "image/raster.h"

namespace pixmoor::platform {

// RGB32 for 24 bits, ARGB32 (straight alpha) for 32 bits.
QImage rasterToQImage(const image::Raster* raster);

}  // namespace pixmoor::platform
