// AVIF reader over libavif 0.11 with dav1d: the first picture of an AVIF
// file (its primary item, or the first frame of a sequence), 8, 10 or
// 12 bits, any chroma sampling, alpha, as an image::FormatReader.
//
// libavif reads the file through an avifIO over the PictureInput (never a
// path), on one thread, with dav1d held to the size the header gave. It
// does not apply the file's crop, rotation and mirror: this reader does,
// in the order the format fixes (clap, then irot, then imir; an EXIF
// orientation inside is ignored), so that the picture comes out upright.
// The YUV planes are converted a band of rows at a time, never into a
// full-size RGB copy; samples above 8 bits are rounded to 8. Alpha arrives
// straight in a 32-bit raster. An ICC profile is carried as it is; colours
// given only by code points get a profile of their own (metadata/nclx_profile.h),
// and HDR curves are refused as unsupported.
//
// The memory the decode will hold is measured from the header against the
// budget before anything is decoded; an opaque picture is reduced while
// its rows are converted when asked. dav1d cannot be stopped inside a
// frame: the batch runs this reader in the decode helper process. Each
// call owns its state; any thread. Failures are values.
#pragma once

#include "image/picture_format.h"

namespace pixmoor::foreign {

image::Reading readAvif(image::PictureInput& input, const image::DecodeLimits& limits,
                        const image::ReduceTo* reduce, image::ReadUpTo upTo);

}  // namespace pixmoor::foreign
