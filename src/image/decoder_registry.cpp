// The decoder registry: an ordered list of JPEG and PNG decoders, filled at
// start-up and read-only afterwards. Each load runs probe, raster, decode and
// close within one call on a context of its own.
#include "image/decoder_registry.h"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <atomic>

#include "image/exif_orientation.h"
#include "image/jpeg_reader.h"
#include "image/png_reader.h"

namespace pixmoor::image {
namespace {

struct Registry {
  std::array<const Decoder*, 4> entries{};
  std::size_t count = 0;

  void add(const Decoder* decoder) {
    for (std::size_t i = 0; i < count; ++i) {
      if (entries[i] == decoder) return;
    }
    if (count < entries.size()) entries[count++] = decoder;
  }
};

Registry& registry() {
  static Registry instance;
  return instance;
}

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

void registerJpegDecoder() {
  registry().add(&jpegDecoder());
}
void registerPngDecoder() {
  registry().add(&pngDecoder());
}

void setDecodePixelLimit(std::uint64_t pixels) {
  pixelLimit.store(pixels, std::memory_order_relaxed);
}

std::optional<PictureSize> reductionFor(const ReduceTo* reduce, int width, int height) {
  if (reduce == nullptr || !*reduce) return std::nullopt;
  const std::optional<PictureSize> target = (*reduce)(width, height);
  if (!target || target->width <= 0 || target->height <= 0 || target->width > width ||
      target->height > height || (target->width == width && target->height == height))
    return std::nullopt;
  return target;
}

std::optional<DecodedPicture> decodeWith(const Decoder& decoder, PictureInput& input,
                                         const DecodeLimits& limits, DecodeFailure* failure,
                                         const ReduceTo* reduce) {
  const auto refuse = [failure](DecodeFailure why) -> std::optional<DecodedPicture> {
    if (failure != nullptr) *failure = why;
    return std::nullopt;
  };
  DecoderContext context;
  context.input = &input;
  context.pixelLimit = pixelLimit.load(std::memory_order_relaxed);
  context.memoryBudget = limits.memoryBudget;
  context.cancel = limits.cancel;
  if (!decoder.probe(context)) {
    decoder.close(context);
    return refuse(context.refusal);
  }
  DecodedPicture picture;
  picture.source = {context.width, context.height};

  // Reduced on the way: only the rows a target row needs are held.
  const auto target = decoder.decodeRows != nullptr && context.rowByRow && context.rasterDepth == 24
                          ? reductionFor(reduce, context.width, context.height)
                          : std::nullopt;
  if (target) {
    const bool turned = orientationSwapsSides(context.orientation);
    const int storedWidth = turned ? context.height : context.width;
    const int storedHeight = turned ? context.width : context.height;
    context.outputBytes = RowReducer::bytesNeeded(storedWidth, storedHeight, context.orientation,
                                                  target->width, target->height);
    if (context.outputBytes + context.decoderBytes > context.memoryBudget) {
      decoder.close(context);
      return refuse(DecodeFailure::overBudget);
    }
    auto reducer =
        RowReducer::make(storedWidth, storedHeight, context.orientation, target->width, target->height);
    if (reducer == nullptr) {
      decoder.close(context);
      return refuse(DecodeFailure::overBudget);
    }
    const bool complete = decoder.decodeRows(context, *reducer);
    decoder.close(context);
    if (!complete && context.refusal == DecodeFailure::cancelled) return refuse(DecodeFailure::cancelled);
    if (context.rejected) return refuse(context.refusal);
    picture.raster = reducer->finish();
    picture.sourceDepth = context.sourceDepth;
    picture.partial = !complete || context.ranShort;
    picture.iccProfile = std::move(context.iccProfile);
    return picture;
  }

  const std::uint64_t needed = rasterBytes(context.width, context.height, context.rasterDepth);
  if (needed + context.decoderBytes > context.memoryBudget) {
    decoder.close(context);
    return refuse(DecodeFailure::overBudget);
  }
  auto raster = makeRaster(context.width, context.height, context.rasterDepth);
  if (raster == nullptr) {
    decoder.close(context);
    return refuse(needed == 0 ? DecodeFailure::unrecognised : DecodeFailure::overBudget);
  }
  adviseHugePages(*raster);
  context.outputBytes = needed;
  // A decode that stops part-way keeps the rows it delivered; the rest stay
  // zero (black, and transparent in a 32-bit raster). A cancelled one is
  // thrown away, and so is one whose data turned out unusable.
  const bool complete = decoder.decode(context, raster->data(), raster->stride, kRowsBottomUp);
  decoder.close(context);
  if (!complete && context.refusal == DecodeFailure::cancelled) return refuse(DecodeFailure::cancelled);
  if (context.rejected) return refuse(context.refusal);
  picture.raster = std::move(raster);
  picture.sourceDepth = context.sourceDepth;
  picture.partial = !complete || context.ranShort;
  picture.iccProfile = std::move(context.iccProfile);
  return picture;
}

std::optional<DecodedPicture> decodeWith(const Decoder& decoder, std::span<const std::uint8_t> data,
                                         const DecodeLimits& limits, DecodeFailure* failure) {
  PictureInput input(data);
  return decodeWith(decoder, input, limits, failure);
}

std::optional<DecodedPicture> decodeRegistered(PictureInput& input, const DecodeLimits& limits,
                                               DecodeFailure* failure, const ReduceTo* reduce) {
  const Registry& list = registry();
  DecodeFailure worst = DecodeFailure::unrecognised;
  for (std::size_t i = 0; i < list.count; ++i) {
    DecodeFailure why = DecodeFailure::unrecognised;
    auto picture = decodeWith(*list.entries[i], input, limits, &why, reduce);
    if (picture) return picture;
    // The enumerators run from the least to the most telling reason.
    worst = std::max(worst, why);
    if (why == DecodeFailure::cancelled) break;
  }
  if (failure != nullptr) *failure = worst;
  return std::nullopt;
}

std::optional<DecodedPicture> decodeRegistered(std::span<const std::uint8_t> data, const DecodeLimits& limits,
                                               DecodeFailure* failure) {
  PictureInput input(data);
  return decodeRegistered(input, limits, failure);
}

}  // namespace pixmoor::image
