#include "image/bmp_reader.h"

#include "image/byte_cursor.h"
#include "image/dib_decoder.h"

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

std::optional<DecodedPicture> readBmp(std::span<const std::uint8_t> data, const DecodeLimits& limits,
                                      DecodeFailure* failure) {
  const auto refuse = [failure](DecodeFailure why) -> std::optional<DecodedPicture> {
    if (failure != nullptr) *failure = why;
    return std::nullopt;
  };
  ByteCursor cursor(data);
  const std::uint8_t b = cursor.u8();
  const std::uint8_t m = cursor.u8();
  cursor.skip(8);  // file size and two reserved words: often wrong, never needed
  const std::uint32_t pixelOffset = cursor.u32();
  if (!cursor.ok() || b != 'B' || m != 'M') return refuse(DecodeFailure::unrecognised);

  bool sideTooLarge = false;
  const auto header =
      parseDibHeader(data, kFileHeaderSize, DibContainer::kBmpFile, pixelOffset, &sideTooLarge);
  if (!header || pixelOffset > data.size())
    return refuse(sideTooLarge ? DecodeFailure::tooLarge : DecodeFailure::unrecognised);
  const auto pixels = data.subspan(pixelOffset);

  if (header->compressed()) {
    const std::int64_t area = std::int64_t{header->width} * header->height;
    const auto bytes = static_cast<std::int64_t>(pixels.size());
    if (bytes < 2 || area > kRleFreePixels + kRlePixelsPerByte * bytes)
      return refuse(DecodeFailure::unrecognised);
  } else {
    // A file that holds less than half of its rows is far more likely broken
    // or hostile than a picture worth keeping; refusing it also keeps the
    // raster within a small multiple of the file's own size.
    const std::int64_t needed = dibPixelBytes(*header);
    if (static_cast<std::int64_t>(pixels.size()) * 2 < needed ||
        static_cast<std::int64_t>(pixels.size()) < dibPackedRowBytes(*header))
      return refuse(DecodeFailure::unrecognised);
  }

  // Only a 32-bit file keeps its alpha; every file below 24 bits gets a
  // 24-bit raster, an alpha mask of a 16-bit file included.
  const int depth = header->bitsPerPixel == 32 ? 32 : 24;
  if (rasterBytes(header->width, header->height, depth) > limits.memoryBudget)
    return refuse(DecodeFailure::overBudget);
  auto raster = makeRaster(header->width, header->height, depth);
  if (!raster) return refuse(DecodeFailure::overBudget);

  const DibPixelsResult result = decodeDibPixels(*header, pixels, *raster, limits.cancel);
  // Alpha that is 0 everywhere was never meant as alpha: such pictures are opaque.
  if (depth == 32 && !result.anyAlpha) makeOpaque(*raster, limits.cancel);
  if (cancelled(limits.cancel)) return refuse(DecodeFailure::cancelled);

  DecodedPicture picture;
  picture.raster = std::move(raster);
  picture.sourceDepth = header->bitsPerPixel;
  picture.partial = result.partial;
  return picture;
}

}  // namespace pixmoor::image
