// The AVIF writer: B G R (A) rows to an AVIF file through libavif 0.11 with
// the aom encoder, for pixmoor-batch's --format avif.
//
// 8-bit 4:2:0 (what every viewer decodes; 4:4:4 costs a third more bytes
// for colour detail a resized photo rarely has), full range, BT.601
// coefficients, speed 8 (libavif's default, 6, takes several times longer).
// libavif 0.11 encodes losslessly unless told otherwise, so the colour and
// alpha quantizers are always set: the program's 0..10 quality gives the
// quantizer avifQuantizer (63 the coarsest), both its lowest and its
// highest, and the alpha gets the same one. 32-bit rows keep their alpha
// (a picture without a transparent pixel is written without one). The
// picture's ICC profile and EXIF block (RowSource) are put in; a picture
// without a profile says sRGB by code points.
//
// One call encodes on the calling thread alone (maxThreads 1: the batch's
// budget of threads counts the pool threads that encode) and holds no state
// between calls. Stop: libavif 0.11 cannot abort an encode part-way, so the
// cancel flag is looked at before each row of the picture's copy and before
// and after the encode; a Stop raised during the encode is answered when it
// ends (Cancelled, nothing written), about a second per 12 megapixels on
// one core. libavif 0.11 ends the process when an allocation of its own
// fails; the batch's memory budget is what keeps pictures within reach.
// OutOfMemory comes only from this writer's own copy of the rows; a failed
// write gives WriteFailed. Reentrant.
#pragma once

#include "encoders/encoder_registry.h"
#include "encoders/webp_writer.h"

namespace pixmoor::image {

// The quantizer used for the program's quality `quality` (clamped): the
// quality the WebP writer gives libwebp for it (20 to 95), on libavif's
// 0..63 scale, rounded: 50, 44, 38, 32, 25, 19, 16, 13, 9, 6, 3.
constexpr int avifQuantizer(int quality) {
  return ((100 - webpLibraryQuality(quality)) * 63 + 50) / 100;
}
inline constexpr int kAvifSpeed = 8;

// 24-bit or 32-bit rows. `depth` is not used.
SaveStatus writeAvif(TempOutput& out, const RowSource& rows, int quality, int depth,
                     const CancelFlag* cancel);
// The same at another speed (0 slowest to 10 fastest), to measure them.
SaveStatus writeAvifAtSpeed(TempOutput& out, const RowSource& rows, int quality, int speed,
                            const CancelFlag* cancel);

}  // namespace pixmoor::image
