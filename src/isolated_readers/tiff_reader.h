// TIFF reader over libtiff 4.5: the first full-resolution page, in strips
// or tiles, of 1, 2, 4, 8 or 16-bit grey (min-is-black or min-is-white),
// palette, RGB, CMYK or JPEG-coded YCbCr samples, with or without alpha,
// compressed with none, LZW, Deflate, PackBits, JPEG, CCITT G3 or G4, ZSTD
// or WebP. Other compressions and sample layouts are refused as
// `unsupportedFeature`.
//
// libtiff reads through callbacks over the PictureInput (never a path, never
// a memory mapping), each of its allocations bounded by the memory budget.
// The rows come from libtiff's RGBA interface a strip or a row of tiles at a
// time (8-bit RGB and grey in contiguous strips straight from each decoded
// strip, the same bytes) and are placed (or reduced, see image::ReduceTo) as
// they come; the Orientation tag is applied as a JPEG's EXIF orientation
// is; 16-bit samples are rounded to 8 bits; alpha comes back straight. A
// usable ICC profile is carried.
//
// Failures are values: data it cannot use is `unrecognised`, a picture whose
// data breaks part-way is answered with the bands it got (`partial`).
// Each call owns its state; any thread.
#pragma once

#include "image/picture_format.h"

namespace pixmoor::foreign {

image::Reading readTiff(image::PictureInput& input, const image::DecodeLimits& limits,
                        const image::ReduceTo* reduce, image::ReadUpTo upTo);

}  // namespace pixmoor::foreign
