// EXIF orientation: reads the orientation tag of a JPEG's APP1 "Exif" block
// or a PNG's eXIf chunk and maps decoded pixel positions to their place in
// the upright picture (image/orientation.h).
//
// The block is hostile: every offset is checked against its end, and a block
// that cannot be read answers orientation 1 (as stored). Pure functions,
// callable from any thread.
#pragma once

#include <cstdint>
#include <span>

#include "image/orientation.h"

namespace pixmoor::image {

// The orientation tag (0x0112) of IFD0, 1 to 8; 1 when absent or unreadable.
// `app1` is the APP1 segment's payload, starting with "Exif\0\0".
int exifOrientation(std::span<const std::uint8_t> app1);
// The same from the TIFF structure alone ("II" or "MM" first), as a PNG's
// eXIf chunk holds it.
int tiffOrientation(std::span<const std::uint8_t> tiff);

}  // namespace pixmoor::image
