// Showing an Image of the store: its raster (bottom-up rows, B G R (A),
// straight alpha) converted to a QImage.
//
// The copy owns its pixels; the raster may be released afterwards. A null
// or malformed raster gives a null QImage. Any thread (QImage is not a
// widget).
#pragma once

#include <QImage>

#include "image/raster.h"

namespace pixmoor::platform {

QImage rasterToQImage(const image::Raster* raster);

}  // namespace pixmoor::platform
