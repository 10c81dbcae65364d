// Icon container reader: picks one entry of a Windows icon file and turns it
// into a 32-bit raster marked as an icon.
//
// The data is hostile; nothing is read outside the block. PNG-compressed
// entries are handed to `decodePng`, so that this reader needs no PNG code of
// its own. Pure function, callable from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "image/decoded_picture.h"
#include "image/memory_budget.h"
#include "image/picture_format.h"
#include "image/picture_input.h"

namespace pixmoor::image {

using PngEntryDecoder = std::function<std::optional<DecodedPicture>(std::span<const std::uint8_t>)>;

// Data starts with the 16-bit values 0 and 1. Fails (nullopt) when no icon
// can be built (an entry beyond `limits` included); the caller then offers
// the data to the other decoders. `decodePng` applies its own limits.
std::optional<DecodedPicture> readIcon(std::span<const std::uint8_t> data, const PngEntryDecoder& decodePng,
                                       const DecodeLimits& limits = {});

// The icon format's reader (image/picture_format.h): the container is read whole
// (small, and full of offsets), its bytes counted against the budget, and
// `decodePng` decodes a PNG entry under what is left of it. Its header is
// the chosen entry's size, which only the entry itself gives, so even the
// header decodes it. Icons are never reduced.
using PngEntryReader = std::optional<DecodedPicture> (*)(std::span<const std::uint8_t> data,
                                                         const DecodeLimits& limits, DecodeFailure* failure);
Reading readIcon(PictureInput& input, const DecodeLimits& limits, ReadUpTo upTo, PngEntryReader decodePng);

}  // namespace pixmoor::image
