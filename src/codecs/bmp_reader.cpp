#include "codecs/bmp_reader.h"

#include <algorithm>
#include <array>

#include "codecs/decoder.h"
#include "codecs/dib_decoder.h"
#include "image/byte_cursor.h"

namespace pixmoor::image {

namespace {

constexpr std::size_t kFileHeaderSize = 14;

// Run-length data paints at most 255 pixels per two bytes and leaves the
// rest undefined (zero). Up to this many pixels a picture may be as empty as
// its data likes; beyond it, the data must be able to paint the picture.
constexpr std::int64_t kRleFreePixels = std::int64_t{1} << 24;
constexpr std::int64_t kRlePixelsPerByte = 128;

void makeOpaque(Raster& raster, const CancelFlag* cancel) {
  for (int y = 0; y < raster.height && !cancelled(cancel); ++y) {
    std::span<std::uint8_t> row(raster.storageRow(y), static_cast<std::size_t>(raster.stride));
    for (std::size_t x = 0; x < static_cast<std::size_t>(raster.width); ++x) row[4 * x + 3] = 255;
  }
}

}  // namespace

namespace {

// The file header, information header, masks and colour table all lie in
// the first few KiB: a parse of just those gives the same header as a parse
// of the whole file (the table is cut short at the pixel rows either way).
constexpr std::size_t kHeadBytes = 4096;

struct BmpLayout {
  std::uint32_t pixelOffset = 0;
  DibHeader header;
};

std::optional<BmpLayout> readLayout(std::span<const std::uint8_t> head, std::uint64_t size,
                                    DecodeFailure& failure) {
  ByteCursor cursor(head);
  const std::uint8_t b = cursor.u8();
  const std::uint8_t m = cursor.u8();
  cursor.skip(8);  // file size and two reserved words: often wrong, never needed
  const std::uint32_t pixelOffset = cursor.u32();
  failure = DecodeFailure::unrecognised;
  if (!cursor.ok() || b != 'B' || m != 'M') return std::nullopt;

  bool sideTooLarge = false;
  const auto header =
      parseDibHeader(head, kFileHeaderSize, DibContainer::bmpFile, pixelOffset, &sideTooLarge);
  if (!header || pixelOffset > size) {
    if (sideTooLarge) failure = DecodeFailure::tooLarge;
    return std::nullopt;
  }
  const std::uint64_t pixelBytes = size - pixelOffset;
  if (header->compressed()) {
    const std::int64_t area = std::int64_t{header->width} * header->height;
    const auto bytes = static_cast<std::int64_t>(pixelBytes);
    if (bytes < 2 || area > kRleFreePixels + kRlePixelsPerByte * bytes) return std::nullopt;
  } else {
    // A file that holds less than half of its rows is far more likely broken
    // or hostile than a picture worth keeping; refusing it also keeps the
    // raster within a small multiple of the file's own size.
    const std::int64_t needed = dibPixelBytes(*header);
    if (static_cast<std::int64_t>(pixelBytes) * 2 < needed ||
        static_cast<std::int64_t>(pixelBytes) < dibPackedRowBytes(*header))
      return std::nullopt;
  }
  return BmpLayout{pixelOffset, *header};
}

}  // namespace

Reading readBmp(PictureInput& input, const DecodeLimits& limits, const ReduceTo* reduce, ReadUpTo upTo) {
  Reading reading;
  const auto refuse = [&reading](DecodeFailure why) {
    reading.failure = why;
    return std::move(reading);
  };
  std::array<std::uint8_t, kHeadBytes> head{};
  const auto headSize = static_cast<std::size_t>(std::min<std::uint64_t>(input.size(), kHeadBytes));
  if (!input.copy(0, std::span(head).first(headSize))) return refuse(DecodeFailure::unrecognised);
  DecodeFailure why = DecodeFailure::unrecognised;
  const auto layout = readLayout(std::span(head).first(headSize), input.size(), why);
  if (!layout) return refuse(why);
  const DibHeader& header = layout->header;

  // Only a 32-bit file keeps its alpha; every file below 24 bits gets a
  // 24-bit raster, an alpha mask of a 16-bit file included.
  const int depth = header.bitsPerPixel == 32 ? 32 : 24;
  // Rows come bottom-up unless the height said otherwise: bottom-up is the
  // upright picture mirrored top to bottom.
  const auto target =
      !header.compressed() && depth == 24 ? reductionFor(reduce, header.width, header.height) : std::nullopt;
  const int orientation = header.topDown ? 1 : 4;
  // Reduced, the rows a target row needs are held beside the input's window;
  // else the whole file is read and the whole raster made.
  const std::uint64_t needed =
      target
          ? RowReducer::bytesNeeded(header.width, header.height, orientation, target->width, target->height) +
                input.heldBytes()
          : (input.fromFile() ? input.size() : 0) + rasterBytes(header.width, header.height, depth);
  if (needed > limits.memoryBudget) return refuse(DecodeFailure::overBudget);
  reading.header = HeaderFacts{{header.width, header.height}, false, target.has_value(), depth, {}};
  if (upTo == ReadUpTo::header) return reading;

  DecodedPicture picture;
  picture.source = {header.width, header.height};
  picture.sourceDepth = header.bitsPerPixel;
  if (target) {
    auto reducer = RowReducer::make(header.width, header.height, orientation, target->width, target->height);
    if (reducer == nullptr) return refuse(DecodeFailure::overBudget);
    const DibPixelsResult result = streamDibRows(header, input, layout->pixelOffset, *reducer, limits.cancel);
    if (result.cancelled || cancelled(limits.cancel)) return refuse(DecodeFailure::cancelled);
    picture.raster = reducer->finish();
    picture.partial = result.partial;
    picture.nothingDecoded = result.nothingDecoded;
    reading.picture = std::move(picture);
    return reading;
  }

  const auto data = input.whole();
  if (!data) return refuse(cancelled(limits.cancel) ? DecodeFailure::cancelled : DecodeFailure::overBudget);
  auto raster = makeRaster(header.width, header.height, depth);
  if (!raster) return refuse(DecodeFailure::overBudget);

  const DibPixelsResult result =
      decodeDibPixels(header, data->subspan(layout->pixelOffset), *raster, limits.cancel);
  // Alpha that is 0 everywhere was never meant as alpha: such pictures are opaque.
  if (depth == 32 && !result.anyAlpha) makeOpaque(*raster, limits.cancel);
  if (cancelled(limits.cancel)) return refuse(DecodeFailure::cancelled);

  picture.raster = std::move(raster);
  picture.partial = result.partial;
  picture.nothingDecoded = result.nothingDecoded;
  reading.picture = std::move(picture);
  return reading;
}

std::optional<DecodedPicture> readBmp(std::span<const std::uint8_t> data, const DecodeLimits& limits,
                                      DecodeFailure* failure) {
  PictureInput input(data);
  Reading reading = readBmp(input, limits, nullptr, ReadUpTo::picture);
  if (!reading.picture && failure != nullptr) *failure = reading.failure;
  return std::move(reading.picture);
}

}  // namespace pixmoor::image
