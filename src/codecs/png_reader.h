// PNG reader over libpng 1.6: a decoder (decoder.h) that reads a PNG, a
// piece of its data at a time, into a 24-bit (no alpha) or 32-bit raster,
// or hands the rows of a non-interlaced one to a RowSink one at a time.
//
// Every colour type arrives as 8-bit blue, green, red (, alpha): palettes and
// grey are expanded, a transparency chunk becomes alpha, 16-bit samples keep
// their high byte. No gamma, background or colour-profile processing; an
// iCCP profile that libpng accepts is kept, unapplied, for the output. The
// orientation of an eXIf chunk before the picture data is applied as a
// JPEG's is, so that the raster holds the picture upright (a sink is told
// the orientation); one after the data comes too late and is ignored. A file
// that breaks while rows are read keeps the rows delivered; one whose
// critical chunk fails its CRC (libpng's own check, the only one) is refused. Library errors end
// the call with a failure value; warnings are ignored. Each call owns its state.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "codecs/decoder.h"

namespace pixmoor::image {

const Decoder& pngDecoder();

// Decodes a PNG block with this reader alone (for PNG entries of icons).
std::optional<DecodedPicture> decodePng(std::span<const std::uint8_t> data, const DecodeLimits& limits = {},
                                        DecodeFailure* failure = nullptr);

}  // namespace pixmoor::image
