// WebP reader over libwebp 1.2: lossy, lossless and alpha pictures, and the
// first frame of an animation composited on its canvas.
//
// The file is read a piece at a time (PictureInput): the RIFF chunk headers
// are walked to find the picture's bitstream, its colour profile (ICCP) and
// its EXIF block, and the bitstream is fed to libwebp's incremental decoder,
// whose rows are placed (or reduced, see image::ReduceTo) as they complete.
// An animation's first frame is put at its offset on a canvas of the
// canvas's size; the rest of the canvas is transparent, as libwebp's own
// animation decoder leaves it (the background colour of the ANIM chunk is
// a hint that it ignores too). An EXIF orientation is applied as a JPEG's
// is; a usable ICC profile is carried.
//
// Failures are values: data it cannot use is `unrecognised`, a picture whose
// data ends or breaks part-way is answered with the rows it got (`partial`).
// Each call owns its state; any thread.
#pragma once

#include "image/picture_format.h"

namespace pixmoor::foreign {

image::Reading readWebp(image::PictureInput& input, const image::DecodeLimits& limits,
                        const image::ReduceTo* reduce, image::ReadUpTo upTo);

}  // namespace pixmoor::foreign
