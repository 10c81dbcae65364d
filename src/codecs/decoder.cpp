// Running one library decoder over one input: probe, measure, decode, close
// within one call, on a context of its own.
#include "codecs/decoder.h"

#include <sys/mman.h>

#include <atomic>

#include "image/orientation.h"

namespace pixmoor::image {
namespace {

std::atomic<std::uint64_t> pixelLimit{0};

// A decoded photo's raster is tens of megabytes of fresh pages written from
// end to end. Faulted in 4 KiB at a time they cost about a quarter of a
// 12-megapixel JPEG decode; as 2 MiB pages almost nothing. Only a hint: where
// the system declines, nothing changes.
void adviseHugePages(Raster& raster) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  const auto begin = reinterpret_cast<std::uintptr_t>(raster.data());
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (begin + raster.sizeBytes()) & ~(kHugePage - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)raster;
#endif
}

}  // namespace

void setDecodePixelLimit(std::uint64_t pixels) {
  pixelLimit.store(pixels, std::memory_order_relaxed);
}

Reading readWith(const Decoder& decoder, PictureInput& input, const DecodeLimits& limits,
                 const ReduceTo* reduce, ReadUpTo upTo) {
  Reading reading;
  const auto refuse = [&reading](DecodeFailure why) {
    reading.failure = why;
    return std::move(reading);
  };
  DecoderContext context;
  context.input = &input;
  context.pixelLimit = pixelLimit.load(std::memory_order_relaxed);
  // The window the input reads through is held while the picture is.
  context.memoryBudget = budgetLeft(limits.memoryBudget, input.heldBytes());
  context.cancel = limits.cancel;
  const bool probed = decoder.probe(context);
  const auto finish = [&](DecodeFailure why) {
    decoder.close(context);
    return refuse(why);
  };
  if (!probed) return finish(context.refusal);

  // What the rows go into: a reducer that holds only the rows a target row
  // needs, or the whole raster. Both are measured before either is made.
  const auto target = decoder.decodeRows != nullptr && context.rowByRow && context.rasterDepth == 24
                          ? reductionFor(reduce, context.width, context.height)
                          : std::nullopt;
  const bool turned = orientationSwapsSides(context.orientation);
  const int storedWidth = turned ? context.height : context.width;
  const int storedHeight = turned ? context.width : context.height;
  if (target) {
    context.outputBytes = RowReducer::bytesNeeded(storedWidth, storedHeight, context.orientation,
                                                  target->width, target->height);
    if (context.outputBytes == 0) return finish(DecodeFailure::overBudget);
    if (context.rowsDecoderBytes != 0) context.decoderBytes = context.rowsDecoderBytes;
  } else {
    context.outputBytes = rasterBytes(context.width, context.height, context.rasterDepth);
    if (context.outputBytes == 0) return finish(DecodeFailure::unrecognised);
  }
  if (context.outputBytes + context.decoderBytes > context.memoryBudget)
    return finish(DecodeFailure::overBudget);
  reading.header = HeaderFacts{
      {context.width, context.height}, false, target.has_value(), context.rasterDepth, context.exif};
  if (upTo == ReadUpTo::header) {
    decoder.close(context);
    return reading;
  }

  DecodedPicture picture;
  picture.source = {context.width, context.height};
  std::unique_ptr<RowReducer> reducer;
  bool complete = false;
  if (target) {
    reducer = RowReducer::make(storedWidth, storedHeight, context.orientation, target->width, target->height);
    if (reducer == nullptr) return finish(DecodeFailure::overBudget);
    complete = decoder.decodeRows(context, *reducer);
  } else {
    picture.raster = makeRaster(context.width, context.height, context.rasterDepth);
    if (picture.raster == nullptr) return finish(DecodeFailure::overBudget);
    adviseHugePages(*picture.raster);
    // A decode that stops part-way keeps the rows it delivered; the rest
    // stay zero (black, and transparent in a 32-bit raster).
    complete = decoder.decode(context, picture.raster->data(), picture.raster->stride, kRowsBottomUp);
  }
  decoder.close(context);
  // A cancelled decode is thrown away, and so is one whose data turned out
  // unusable.
  if (!complete && context.refusal == DecodeFailure::cancelled) return refuse(DecodeFailure::cancelled);
  if (context.rejected) return refuse(context.refusal);
  if (reducer != nullptr) picture.raster = reducer->finish();
  picture.sourceDepth = context.sourceDepth;
  picture.partial = !complete || context.ranShort;
  picture.nothingDecoded = picture.partial && !context.rowsArrived;
  picture.iccProfile = std::move(context.iccProfile);
  picture.exif = std::move(context.exif);
  reading.picture = std::move(picture);
  return reading;
}

std::optional<DecodedPicture> decodeWith(const Decoder& decoder, std::span<const std::uint8_t> data,
                                         const DecodeLimits& limits, DecodeFailure* failure) {
  PictureInput input(data);
  Reading reading = readWith(decoder, input, limits, nullptr, ReadUpTo::picture);
  if (!reading.picture && failure != nullptr) *failure = reading.failure;
  return std::move(reading.picture);
}

}  // namespace pixmoor::image
