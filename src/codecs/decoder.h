// The interface of the readers over picture libraries (libjpeg, libpng):
// probe, decode, close, and optionally the rows one at a time, driven by
// readWith, which measures what a picture will hold against its budget
// before anything is allocated. A format's reader in the registry
// (format_registry.h) is readWith over its Decoder.
//
// Each read owns its own context, so reads may run on any thread; the data
// is hostile and nothing is read outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "image/decoded_picture.h"
#include "image/memory_budget.h"
#include "image/picture_format.h"
#include "image/picture_input.h"
#include "resample/row_reducer.h"

namespace pixmoor::image {

// Upper bound on width x height for JPEG and PNG pictures, on top of the
// 32767 limit per side. Meant for fuzzing and tests; 0 restores "no bound".
void setDecodePixelLimit(std::uint64_t pixels);

// Beyond this many pixels a picture must have the data to paint itself: a
// header may not make the reader allocate and walk gigabytes that a few
// bytes of data could never fill (such files are truncated or hostile).
inline constexpr std::uint64_t kFreePixels = std::uint64_t{1} << 24;

// Beyond the free allowance, a canvas (a GIF's screen, a WebP animation's
// canvas, a HEIF grid) must be painted at least half by the frames or tiles
// its file holds: a tiny frame on a vast empty canvas is a bomb, not a picture.
inline bool paintsTooLittleOf(std::uint64_t canvasPixels, std::uint64_t paintedPixels) {
  return canvasPixels > kFreePixels && paintedPixels < canvasPixels / 2;
}

// Value of the flags argument of `decode`: write rows bottom-up.
inline constexpr int kRowsBottomUp = 2;

// One load's state, owned by the call that decodes (never shared).
struct DecoderContext {
  PictureInput* input = nullptr;                 // the data
  std::uint64_t position = 0;                    // reading position (the PNG reader advances it)
  std::uint64_t pixelLimit = 0;                  // 0: only the per-side limit
  std::uint64_t memoryBudget = kNoMemoryBudget;  // for the raster and the decoder's own state
  const CancelFlag* cancel = nullptr;            // polled per row, scan or pass
  int width = 0;
  int height = 0;
  int rasterDepth = 0;                   // 24 or 32: the raster to make
  int sourceDepth = 0;                   // bits per pixel as stored
  std::vector<std::uint8_t> iccProfile;  // the source's colour profile, empty when none (probe fills it)
  std::vector<std::uint8_t> exif;        // the source's EXIF block, empty when none (probe fills it)
  std::uint64_t decoderBytes = 0;        // probe: what the decoder holds beside the raster
  // probe: what it holds beside a reducer when it hands its rows over one at
  // a time (decodeRows), where that differs; 0: decoderBytes. (A library
  // that decodes into a picture-sized buffer of its own needs that buffer
  // there, while it decodes straight into the raster otherwise.)
  std::uint64_t rowsDecoderBytes = 0;
  // probe: the rows can be handed over one at a time, as stored, which the
  // upright picture is turned by `orientation` (EXIF values 1 to 8).
  bool rowByRow = false;
  int orientation = 1;
  std::uint64_t outputBytes = 0;  // what the rows go into (raster or reducer), set before decoding
  DecodeFailure refusal = DecodeFailure::unrecognised;  // why probe or decode gave up
  bool ranShort = false;                                // decode met the end of the data or a broken row
  bool rowsArrived = false;  // decode: at least one row (or a whole scan) came from the data
  bool rejected = false;     // decode found the data unusable after all: no picture, as if probe had said so
  void* state = nullptr;     // the decoder's own library objects
};

// probe: reads the header; true when the decoder takes the data, with width,
// height, rasterDepth, sourceDepth, decoderBytes and rowByRow filled; it
// allocates nothing big. decode: fills the raster's pixels (the upright
// picture); true when every row arrived. decodeRows (null where the decoder
// has none): hands the rows as stored to `sink`, for a probe that set
// rowByRow; true when every row arrived. close: frees `state` (also after a
// failed probe). A refusal or a cancel sets `refusal`. None of them throws.
struct Decoder {
  bool (*probe)(DecoderContext& context);
  bool (*decode)(DecoderContext& context, std::uint8_t* pixels, int stride, int flags);
  void (*close)(DecoderContext& context);
  bool (*decodeRows)(DecoderContext& context, RowSink& sink) = nullptr;
};

// True, with `refusal` set, once the context's cancel flag is raised.
inline bool stopRequested(DecoderContext& context) {
  if (!cancelled(context.cancel)) return false;
  context.refusal = DecodeFailure::cancelled;
  return true;
}

// Runs one decoder over the data: probe and the memory it will need (the
// header), then raster or reducer, decode, close. The budget also counts
// the input's own window. A picture whose data breaks part-way is still
// answered, with the undelivered rows zero and `partial` set (and
// `nothingDecoded` when no row came from the data); a cancelled decode
// answers nothing.
Reading readWith(const Decoder& decoder, PictureInput& input, const DecodeLimits& limits,
                 const ReduceTo* reduce, ReadUpTo upTo);

// The whole picture of a block in memory (an icon's PNG entry, a test).
std::optional<DecodedPicture> decodeWith(const Decoder& decoder, std::span<const std::uint8_t> data,
                                         const DecodeLimits& limits = {}, DecodeFailure* failure = nullptr);

}  // namespace pixmoor::image
