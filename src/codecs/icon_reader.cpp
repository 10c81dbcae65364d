#include "codecs/icon_reader.h"

#include <algorithm>
#include <array>

#include "codecs/dib_decoder.h"
#include "image/byte_cursor.h"

namespace pixmoor::image {

namespace {

constexpr std::uint16_t kIconType = 1;
constexpr std::size_t kDirectoryEntrySize = 16;
constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

struct DirectoryEntry {
  std::uint8_t width = 0;  // 0 stands for 256
  std::uint8_t height = 0;
  std::uint16_t bitsPerPixel = 0;
  std::uint32_t size = 0;
  std::uint32_t offset = 0;
};

std::optional<DirectoryEntry> readEntry(ByteCursor& cursor) {
  DirectoryEntry entry;
  entry.width = cursor.u8();
  entry.height = cursor.u8();
  cursor.skip(4);  // colour count, reserved, planes
  entry.bitsPerPixel = cursor.u16();
  entry.size = cursor.u32();
  entry.offset = cursor.u32();
  if (!cursor.ok()) return std::nullopt;
  return entry;
}

// The entry shown: entry 0, unless a later entry of exactly its size stores
// more bits per pixel (the first of equal depths wins). Entries of other
// sizes are never taken, however large or deep.
std::optional<DirectoryEntry> chooseEntry(ByteCursor& cursor, int count) {
  auto best = readEntry(cursor);
  if (!best) return std::nullopt;
  const DirectoryEntry first = *best;
  for (int i = 1; i < count; ++i) {
    const auto entry = readEntry(cursor);
    if (!entry) return std::nullopt;
    if (entry->width == first.width && entry->height == first.height &&
        entry->bitsPerPixel > best->bitsPerPixel)
      best = entry;
  }
  return best;
}

bool isPng(std::span<const std::uint8_t> entry) {
  return entry.size() >= kPngSignature.size() &&
         std::equal(kPngSignature.begin(), kPngSignature.end(), entry.begin());
}

std::span<std::uint8_t> rasterRow(Raster& raster, int storageRow) {
  return {raster.storageRow(storageRow), static_cast<std::size_t>(raster.stride)};
}

// The 1-bit mask follows the colour rows, bottom-up, rows padded to 4 bytes:
// a set bit marks a transparent pixel. Rows the data lacks stay opaque.
bool applyMask(const DibHeader& header, std::span<const std::uint8_t> entry, Raster& raster) {
  const auto width = static_cast<std::size_t>(header.width);
  const std::size_t packed = (width + 7) / 8;
  const std::size_t padded = ((width + 31) / 32) * 4;
  const auto maskOffset =
      static_cast<std::uint64_t>(header.tablesEnd) + static_cast<std::uint64_t>(dibPixelBytes(header));
  ByteCursor cursor(entry, static_cast<std::size_t>(std::min<std::uint64_t>(maskOffset, entry.size())));
  bool complete = maskOffset <= entry.size();
  for (int y = 0; y < header.height; ++y) {
    auto out = rasterRow(raster, y);
    const auto bits = complete ? cursor.take(packed) : std::nullopt;
    if (!bits) complete = false;
    for (std::size_t x = 0; x < width; ++x) {
      const bool transparent = bits && (((*bits)[x / 8] >> (7 - x % 8)) & 1) != 0;
      out[4 * x + 3] = transparent ? 0 : 255;
    }
    if (bits) cursor.skip(std::min(padded - packed, cursor.remaining()));
  }
  return complete;
}

std::optional<DecodedPicture> readDibEntry(std::span<const std::uint8_t> entry, const DecodeLimits& limits) {
  const auto header = parseDibHeader(entry, 0, DibContainer::iconEntry, 0);
  if (!header || header->tablesEnd > entry.size()) return std::nullopt;
  const auto pixels = entry.subspan(header->tablesEnd);
  // As for BMP files: an entry missing more than half its colour rows is refused.
  if (static_cast<std::int64_t>(pixels.size()) * 2 < dibPixelBytes(*header) ||
      static_cast<std::int64_t>(pixels.size()) < dibPackedRowBytes(*header))
    return std::nullopt;

  if (rasterBytes(header->width, header->height, 32) > limits.memoryBudget) return std::nullopt;
  auto raster = makeRaster(header->width, header->height, 32);
  if (!raster) return std::nullopt;
  const DibPixelsResult result = decodeDibPixels(*header, pixels, *raster, limits.cancel);
  if (result.cancelled) return std::nullopt;
  bool partial = result.partial;
  // An entry with alpha values of its own ignores the mask; one without
  // (fewer than 32 bits, or 32 bits whose alpha is 0 everywhere) takes it.
  if (!(header->hasAlphaChannel() && result.anyAlpha))
    partial = !applyMask(*header, entry, *raster) || partial;

  DecodedPicture picture;
  picture.raster = std::move(raster);
  picture.partial = partial;
  return picture;
}

std::optional<DecodedPicture> readPngEntry(std::span<const std::uint8_t> entry,
                                           const PngEntryDecoder& decodePng) {
  if (!decodePng) return std::nullopt;
  auto decoded = decodePng(entry);
  if (!decoded || !decoded->raster) return std::nullopt;
  const Raster& source = *decoded->raster;
  if (source.depth == 32) return decoded;
  if (source.depth != 24) return std::nullopt;
  auto raster = makeRaster(source.width, source.height, 32);
  if (!raster) return std::nullopt;
  for (int y = 0; y < source.height; ++y) {
    std::span<const std::uint8_t> in(source.storageRow(y), static_cast<std::size_t>(source.stride));
    auto out = rasterRow(*raster, y);
    for (std::size_t x = 0; x < static_cast<std::size_t>(source.width); ++x) {
      out[4 * x] = in[3 * x];
      out[4 * x + 1] = in[3 * x + 1];
      out[4 * x + 2] = in[3 * x + 2];
      out[4 * x + 3] = 255;
    }
  }
  decoded->raster = std::move(raster);
  return decoded;
}

}  // namespace

std::optional<DecodedPicture> readIcon(std::span<const std::uint8_t> data, const PngEntryDecoder& decodePng,
                                       const DecodeLimits& limits) {
  ByteCursor cursor(data);
  const std::uint16_t reserved = cursor.u16();
  const std::uint16_t type = cursor.u16();
  const std::uint16_t count = cursor.u16();
  // Cursors (type 2) are not icons.
  if (!cursor.ok() || reserved != 0 || type != kIconType || count == 0) return std::nullopt;
  if (static_cast<std::size_t>(count) * kDirectoryEntrySize > cursor.remaining()) return std::nullopt;

  const auto chosen = chooseEntry(cursor, count);
  if (!chosen || chosen->offset >= data.size()) return std::nullopt;
  // A size field that runs past the block is cut at its end; the entry's own
  // header says what it needs and a short entry then loads partly or fails.
  const std::size_t length = std::min<std::size_t>(chosen->size, data.size() - chosen->offset);
  const auto entry = data.subspan(chosen->offset, length);

  auto picture = isPng(entry) ? readPngEntry(entry, decodePng) : readDibEntry(entry, limits);
  if (!picture) return std::nullopt;
  picture->isIcon = true;
  picture->sourceDepth = 32;
  return picture;
}

Reading readIcon(PictureInput& input, const DecodeLimits& limits, ReadUpTo upTo, PngEntryReader decodePng) {
  Reading reading;
  const std::uint64_t fileBytes = input.fromFile() ? input.size() : 0;
  const auto data = fileBytes <= limits.memoryBudget ? input.whole() : std::nullopt;
  if (!data) {
    reading.failure = cancelled(limits.cancel) ? DecodeFailure::cancelled : DecodeFailure::overBudget;
    return reading;
  }
  DecodeLimits rest = limits;
  rest.memoryBudget = budgetLeft(limits.memoryBudget, fileBytes);
  const PngEntryDecoder png = [&rest, decodePng](std::span<const std::uint8_t> entry) {
    return decodePng(entry, rest, nullptr);
  };
  // Containers this reader cannot use (cursors among them) are no picture.
  auto picture = readIcon(*data, png, rest);
  if (!picture || picture->raster == nullptr) return reading;
  reading.header =
      HeaderFacts{{picture->raster->width, picture->raster->height}, true, false, picture->raster->depth, {}};
  picture->source = reading.header->size;
  if (upTo == ReadUpTo::picture) reading.picture = std::move(picture);
  return reading;
}

}  // namespace pixmoor::image
