// The JPEG writer: 24-bit B G R rows to a baseline-compatible JFIF file
// through libjpeg (the 6b programming interface).
//
// Quality is the program's 0..10 scale, clamped, times 10 for libjpeg (which
// reads 0 as 1); force-baseline is off, so the tables of very low qualities
// keep values above 255. Everything else is libjpeg's default: JFIF, YCbCr
// with 2x2 luminance and 1x1 chrominance sampling, standard Huffman tables,
// sequential, integer DCT. Every picture is written as three components.
// The picture's ICC profile (RowSource), when it has one, follows the JFIF
// header as APP2 "ICC_PROFILE" segments; no other metadata is written.
//
// Library errors become WriteFailed at the edge of this module; the cancel
// flag is looked at before each row. Reentrant: each call owns its library
// objects and buffers.
#pragma once

#include "encoders/encoder_registry.h"

namespace pixmoor::image {

// The libjpeg quality used for the program's quality `quality`.
constexpr int jpegLibraryQuality(int quality) {
  return 10 * (quality < 0 ? 0 : quality > 10 ? 10 : quality);
}

// Writes a 24-bit RowSource (bytesPerPixel 3); `depth` is not used.
SaveStatus writeJpeg(TempOutput& out, const RowSource& rows, int quality, int depth,
                     const CancelFlag* cancel);

}  // namespace pixmoor::image
