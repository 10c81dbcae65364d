// BMP reader: turns a BMP file held in memory into a raster.
//
// A 32-bit file gives a 32-bit raster (its alpha kept, or opaque when every
// alpha byte is 0); every other depth gives a 24-bit raster, so a 16-bit
// file's alpha mask is not used.
//
// The data is hostile: every field is checked as it is read and nothing is
// read outside the block. Pure function, callable from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "image/decoded_picture.h"
#include "image/memory_budget.h"
#include "image/picture_format.h"
#include "image/picture_input.h"

namespace pixmoor::image {

// Data starts with "BM". Fails (nullopt) when the header is unusable, a side
// is above 32767, the raster would exceed the budget or the cancel flag was
// raised; `failure`, when given, says which.
std::optional<DecodedPicture> readBmp(std::span<const std::uint8_t> data, const DecodeLimits& limits = {},
                                      DecodeFailure* failure = nullptr);

// The BMP format's reader (image/picture_format.h): from an input read in pieces.
// Uncompressed files of 24 bits or fewer are read a row at a time, and with
// `reduce` reduced on the way (see ReduceTo); the others are read whole, and
// the budget counts them. The header is the file's headers and tables, with
// the pixel rows measured by the file's size, never read.
Reading readBmp(PictureInput& input, const DecodeLimits& limits, const ReduceTo* reduce, ReadUpTo upTo);

}  // namespace pixmoor::image
