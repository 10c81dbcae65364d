// The decoder registry: JPEG and PNG decoders, tried in registration order.
//
// Filled once at start-up (registerJpegDecoder, then registerPngDecoder; a
// second call of either does nothing) before any worker runs, and only read
// afterwards. Each decode owns its own context, so loads may run on any
// thread; the data is hostile and nothing is read outside the block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "image/decoded_picture.h"
#include "image/memory_budget.h"

namespace pixmoor::image {

void registerJpegDecoder();
void registerPngDecoder();

// Offers the block to each registered decoder in turn; the first whose probe
// accepts it decodes it. A picture whose data breaks part-way is still
// answered, with the undelivered rows zero and `partial` set; a cancelled
// decode answers nothing. `failure`, when given, says why nothing came: the
// most telling refusal of the decoders (cancelled, then over the budget, then
// too large, else unrecognised).
std::optional<DecodedPicture> decodeRegistered(std::span<const std::uint8_t> data,
                                               const DecodeLimits& limits = {},
                                               DecodeFailure* failure = nullptr);

// Upper bound on width x height for JPEG and PNG pictures, on top of the
// 32767 limit per side. Meant for fuzzing and tests; 0 restores "no bound".
void setDecodePixelLimit(std::uint64_t pixels);

// Beyond this many pixels a picture must have the data to paint itself: a
// header may not make the reader allocate and walk gigabytes that a few
// bytes of data could never fill (such files are truncated or hostile).
inline constexpr std::uint64_t kFreePixels = std::uint64_t{1} << 24;

// ---- The decoder interface shared by the registry and the readers. ----

// Value of the flags argument of `decode`: write rows bottom-up.
inline constexpr int kRowsBottomUp = 2;

// One load's state, owned by the call that decodes (never shared).
struct DecoderContext {
  std::span<const std::uint8_t> data;            // the whole block
  std::size_t position = 0;                      // reading position (the PNG reader advances it)
  std::uint64_t pixelLimit = 0;                  // 0: only the per-side limit
  std::uint64_t memoryBudget = kNoMemoryBudget;  // for the raster and the decoder's own state
  const CancelFlag* cancel = nullptr;            // polled per row, scan or pass
  int width = 0;
  int height = 0;
  int rasterDepth = 0;                   // 24 or 32: the raster to make
  int sourceDepth = 0;                   // bits per pixel as stored
  std::vector<std::uint8_t> iccProfile;  // the source's colour profile, empty when none (probe fills it)
  std::uint64_t decoderBytes = 0;        // probe: what the decoder holds beside the raster
  DecodeFailure refusal = DecodeFailure::unrecognised;  // why probe or decode gave up
  bool ranShort = false;                                // decode met the end of the data or a broken row
  void* state = nullptr;                                // the decoder's own library objects
};

// probe: reads the header; true when the decoder takes the data, with width,
// height, rasterDepth, sourceDepth and decoderBytes filled; a probe that must
// allocate its big buffers itself checks the budget first. decode: fills the
// raster's pixels; true when every row arrived. close: frees `state` (also
// after a failed probe). A refusal or a cancel sets `refusal`. None of them
// throws.
struct Decoder {
  bool (*probe)(DecoderContext& context);
  bool (*decode)(DecoderContext& context, std::uint8_t* pixels, int stride, int flags);
  void (*close)(DecoderContext& context);
};

// True, with `refusal` set, once the context's cancel flag is raised.
inline bool stopRequested(DecoderContext& context) {
  if (!cancelled(context.cancel)) return false;
  context.refusal = DecodeFailure::cancelled;
  return true;
}

// Runs one decoder over the block: probe, raster, decode, close.
std::optional<DecodedPicture> decodeWith(const Decoder& decoder, std::span<const std::uint8_t> data,
                                         const DecodeLimits& limits = {}, DecodeFailure* failure = nullptr);

}  // namespace pixmoor::image
