// HEIF reader over libheif 1.15 (HEVC through libde265): the primary
// picture of a HEIF or HEIC file and nothing else (thumbnails, depth and
// gain-map pictures, the other pictures of a collection are never decoded:
// Debian's libheif crashes on some of them), as an image::FormatReader.
//
// libheif reads the file through a callback over the PictureInput (never a
// path), under its own limit on the sides, and applies the file's crop,
// rotation and mirror (clap, irot, imir) itself; an EXIF orientation inside
// is ignored, as the format says. The picture is asked for as planar RGB
// 4:4:4, which libheif converts to anyway, so that no second, interleaved
// copy is made; samples above 8 bits are rounded to 8. Alpha, straight or
// premultiplied in the file, arrives straight in a 32-bit raster. An ICC
// profile is carried as it is; colours given only by code points (nclx)
// get a profile of their own (metadata/nclx_profile.h), and HDR curves are refused
// as unsupported.
//
// The memory the decode will hold is measured from the header against the
// budget before anything is decoded; an opaque picture is reduced while its
// rows are converted when asked. libheif can neither be stopped inside a
// decode nor survive every broken file (its assertions are on in Debian):
// the batch runs this reader in the decode helper process. Each call owns
// its state; any thread. Failures are values.
#pragma once

#include "image/picture_format.h"

namespace pixmoor::foreign {

image::Reading readHeif(image::PictureInput& input, const image::DecodeLimits& limits,
                        const image::ReduceTo* reduce, image::ReadUpTo upTo);

}  // namespace pixmoor::foreign
