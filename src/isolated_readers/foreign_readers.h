// The readers of the formats decoded in the helper process (HEIF, AVIF,
// WebP, TIFF, GIF), over their libraries. They run inside the decode helper
// program and the fuzzers, never in the companion's own process: these
// libraries can be neither bounded nor stopped part-way, some abort on bad
// data, and they have needed many security fixes.
//
// Each is an image::FormatReader (image/picture_format.h): it reads its input up
// to the header or the whole picture, under the limits' memory budget
// (checked from the header with the library's own cost per pixel, before
// anything is decoded), reduces the picture while decoding when asked, and
// answers failures as values. Readers own nothing between calls; any thread.
#pragma once

#include <string_view>

#include "image/picture_format.h"

namespace pixmoor::foreign {

// The reader of the registry's format named `name` ("GIF", "WebP", ...);
// null for a format without one here.
image::FormatReader foreignReader(std::string_view name);

}  // namespace pixmoor::foreign
