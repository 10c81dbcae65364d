// The decoder registry: JPEG and PNG decoders, tried in registration order.
//
// Filled once at start-up (registerJpegDecoder, then registerPngDecoder; a
// second call of either does nothing) before any worker runs, and only read
// afterwards. Each decode owns its own context, so loads may run on any
// thread; the data is hostile and nothing is read outside the block.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "image/decoded_picture.h"

namespace pixmoor::image {

void registerJpegDecoder();
void registerPngDecoder();

// Offers the block to each registered decoder in turn; the first whose probe
// accepts it decodes it. A picture whose data breaks part-way is still
// answered, with the undelivered rows zero and `partial` set.
std::optional<DecodedPicture> decodeRegistered(std::span<const std::uint8_t> data);

}  // namespace pixmoor::image
