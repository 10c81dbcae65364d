// JPEG reader over libjpeg (the 6b interface of libjpeg-turbo): a decoder
// (decoder.h) that reads a JPEG, a piece of its data at a time, into a
// 24-bit raster, or hands its rows as stored to a RowSink one at a time.
//
// Grey pictures arrive as equal blue, green and red; four-component pictures
// (CMYK, YCCK) are converted to RGB; the EXIF orientation is applied, so that
// the raster holds the picture upright (a sink is told the orientation).
// Data that reaches no scan within its first 64 MiB is not a picture. An ICC profile split over APP2
// segments is reassembled and kept when it is whole and usable (see
// metadata/icc_profile.h); other metadata is not. A file that ends early still decodes
// at full size (the library fills the missing part) and is marked partial,
// unless all it lacks is what follows the last row (the end marker). Library errors end the
// call with a failure value; warnings are ignored. Each call owns its state.
#pragma once

#include "codecs/decoder.h"

namespace pixmoor::image {

const Decoder& jpegDecoder();

}  // namespace pixmoor::image
