// How much of a HEIF grid picture its tiles paint.
//
// libheif (1.15) says a grid's size but not its tiles, and allocates the
// whole grid before it decodes one: a grid that declares 900 megapixels
// over a few small tiles would cost gigabytes. This reads the file's own
// item boxes (pitm, iinf, iref, iprp) to sum the tiles' sizes. Any thread.
#pragma once

#include <cstdint>
#include <optional>

#include "image/picture_input.h"

namespace pixmoor::foreign {

// The pixels the tiles of the primary item paint, each reference counted
// (width x height of its ispe); nullopt when the primary item is no grid
// or the boxes cannot be read (libheif then judges the file).
std::optional<std::uint64_t> primaryGridTilePixels(image::PictureInput& input);

}  // namespace pixmoor::foreign
