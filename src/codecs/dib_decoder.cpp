#include "codecs/dib_decoder.h"

#include <algorithm>
#include <bit>

#include "image/byte_cursor.h"

namespace pixmoor::image {

namespace {

// Compression codes of the information header.
constexpr std::uint32_t kCompressionNone = 0;
constexpr std::uint32_t kCompressionRle8 = 1;
constexpr std::uint32_t kCompressionRle4 = 2;
constexpr std::uint32_t kCompressionBitFields = 3;  // Huffman 1D in an OS/2 2.x header
constexpr std::uint32_t kCompressionAlphaBitFields = 6;

constexpr std::size_t kMasksInHeaderOffset = 40;  // masks inside headers of 52 bytes and more

std::optional<ChannelMask> channelFromMask(std::uint32_t mask, int bitsPerPixel) {
  ChannelMask channel;
  if (mask == 0) return channel;
  // Bits the pixel word does not have would read as 0 for ever: a broken mask.
  if (bitsPerPixel < 32 && (mask >> bitsPerPixel) != 0) return std::nullopt;
  const int shift = std::countr_zero(mask);
  const std::uint32_t run = mask >> shift;
  if ((run & (run + 1)) != 0) return std::nullopt;  // holes in the mask
  channel.mask = mask;
  channel.shift = shift;
  channel.bits = std::popcount(run);
  return channel;
}

bool setMasks(DibHeader& header, std::uint32_t red, std::uint32_t green, std::uint32_t blue,
              std::uint32_t alpha) {
  if (red == 0 && green == 0 && blue == 0) {
    // No colour mask at all: take the layout an unmasked file of this depth has.
    if (header.bitsPerPixel == 16) {
      red = 0x7C00;
      green = 0x03E0;
      blue = 0x001F;
    } else {
      red = 0x00FF0000;
      green = 0x0000FF00;
      blue = 0x000000FF;
    }
  }
  const auto r = channelFromMask(red, header.bitsPerPixel);
  const auto g = channelFromMask(green, header.bitsPerPixel);
  const auto b = channelFromMask(blue, header.bitsPerPixel);
  const auto a = channelFromMask(alpha, header.bitsPerPixel);
  if (!r || !g || !b || !a) return false;
  header.red = *r;
  header.green = *g;
  header.blue = *b;
  header.alpha = *a;
  return true;
}

// A channel's value scaled to 8 bits with rounding: v * 255 / (2^bits - 1),
// so that the largest value of any width becomes 255 and 0 stays 0.
class ChannelReader {
 public:
  explicit ChannelReader(const ChannelMask& channel) : channel_(channel) {
    if (channel_.bits > 0 && channel_.bits <= 8) {
      const std::uint32_t count = 1u << channel_.bits;
      for (std::uint32_t v = 0; v < count; ++v) table_[v] = scale(v);
    }
  }

  std::uint8_t operator()(std::uint32_t pixel) const {
    if (channel_.bits == 0) return 0;
    const std::uint32_t value = (pixel & channel_.mask) >> channel_.shift;
    if (channel_.bits <= 8) return table_[value];
    return scale(value);
  }

 private:
  std::uint8_t scale(std::uint64_t value) const {
    const std::uint64_t max = (std::uint64_t{1} << channel_.bits) - 1;
    return static_cast<std::uint8_t>((value * 255 + max / 2) / max);
  }

  ChannelMask channel_;
  std::array<std::uint8_t, 256> table_{};
};

std::int64_t packedRowBytes(std::int64_t width, int bitsPerPixel) {
  return (width * bitsPerPixel + 7) / 8;
}
std::int64_t paddedRowBytes(std::int64_t width, int bitsPerPixel) {
  return ((width * bitsPerPixel + 31) / 32) * 4;
}

std::span<std::uint8_t> rasterRow(Raster& raster, int storageRow) {
  return {raster.storageRow(storageRow), static_cast<std::size_t>(raster.stride)};
}

// --- uncompressed rows ------------------------------------------------------

// Converts one stored row into one raster row of kOut (3 or 4) bytes per
// pixel. Formats without alpha write alpha 0 into a 32-bit raster.
template <std::size_t kOut>
class RowConverter {
 public:
  explicit RowConverter(const DibHeader& header)
      : header_(header), red_(header.red), green_(header.green), blue_(header.blue), alpha_(header.alpha) {}

  // OR of every alpha value written: non-zero when some pixel had alpha.
  std::uint8_t alphaSeen() const { return alphaSeen_; }

  // `in` holds at least the packed row bytes; `out` is one raster row.
  void convert(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
    const auto width = static_cast<std::size_t>(header_.width);
    switch (header_.encoding) {
      case DibEncoding::indexed:
        if (header_.bitsPerPixel == 8) {
          for (std::size_t x = 0; x < width; ++x) putColour(out, x, header_.palette[in[x]]);
        } else {
          const auto bits = static_cast<std::size_t>(header_.bitsPerPixel);
          const unsigned valueMask = (1u << bits) - 1;
          for (std::size_t x = 0; x < width; ++x) {
            // The leftmost pixel sits in the most significant bits of a byte.
            const std::size_t bit = x * bits;
            const auto shift = static_cast<unsigned>(8 - bits - bit % 8);
            putColour(out, x, header_.palette[(in[bit / 8] >> shift) & valueMask]);
          }
        }
        break;
      case DibEncoding::rgb24:
        if constexpr (kOut == 3) {
          std::copy_n(in.begin(), 3 * width, out.begin());
        } else {
          for (std::size_t x = 0; x < width; ++x) put(out, x, in[3 * x], in[3 * x + 1], in[3 * x + 2], 0);
        }
        break;
      case DibEncoding::bitFields:
        if (plainBytes32()) {
          const bool withAlpha = header_.alpha.mask != 0;
          for (std::size_t x = 0; x < width; ++x)
            put(out, x, in[4 * x], in[4 * x + 1], in[4 * x + 2], withAlpha ? in[4 * x + 3] : 0);
        } else if (header_.bitsPerPixel == 16) {
          for (std::size_t x = 0; x < width; ++x) {
            const std::uint32_t p = in[2 * x] | (static_cast<std::uint32_t>(in[2 * x + 1]) << 8);
            put(out, x, blue_(p), green_(p), red_(p), alpha_(p));
          }
        } else {
          for (std::size_t x = 0; x < width; ++x) {
            const std::uint32_t p = in[4 * x] | (static_cast<std::uint32_t>(in[4 * x + 1]) << 8) |
                                    (static_cast<std::uint32_t>(in[4 * x + 2]) << 16) |
                                    (static_cast<std::uint32_t>(in[4 * x + 3]) << 24);
            put(out, x, blue_(p), green_(p), red_(p), alpha_(p));
          }
        }
        break;
      case DibEncoding::rle8:
      case DibEncoding::rle4:
        break;
    }
  }

 private:
  bool plainBytes32() const {
    return header_.bitsPerPixel == 32 && header_.red.mask == 0x00FF0000 && header_.green.mask == 0x0000FF00 &&
           header_.blue.mask == 0x000000FF && (header_.alpha.mask == 0 || header_.alpha.mask == 0xFF000000);
  }

  void put(std::span<std::uint8_t> out, std::size_t x, std::uint8_t b, std::uint8_t g, std::uint8_t r,
           std::uint8_t a) {
    const std::size_t at = x * kOut;
    out[at] = b;
    out[at + 1] = g;
    out[at + 2] = r;
    if constexpr (kOut == 4) {
      out[at + 3] = a;
      alphaSeen_ |= a;
    }
  }

  void putColour(std::span<std::uint8_t> out, std::size_t x, const std::array<std::uint8_t, 3>& colour) {
    put(out, x, colour[0], colour[1], colour[2], 0);
  }

  const DibHeader& header_;
  ChannelReader red_;
  ChannelReader green_;
  ChannelReader blue_;
  ChannelReader alpha_;
  std::uint8_t alphaSeen_ = 0;
};

template <std::size_t kOut>
DibPixelsResult decodeRowsInto(const DibHeader& header, std::span<const std::uint8_t> pixels, Raster& raster,
                               const CancelFlag* cancel) {
  DibPixelsResult result;
  RowConverter<kOut> converter(header);
  const auto packed = static_cast<std::size_t>(packedRowBytes(header.width, header.bitsPerPixel));
  const auto padded = static_cast<std::size_t>(paddedRowBytes(header.width, header.bitsPerPixel));
  ByteCursor cursor(pixels);
  for (int i = 0; i < header.height; ++i) {
    if (cancelled(cancel)) {
      result.cancelled = true;
      break;
    }
    // The last row may lack its padding; a row without all its pixels is left out.
    const auto row = cursor.take(packed);
    if (!row) {
      result.partial = true;
      result.nothingDecoded = i == 0;
      break;
    }
    cursor.skip(std::min(padded - packed, cursor.remaining()));
    const int storageRow = header.topDown ? header.height - 1 - i : i;
    converter.convert(*row, rasterRow(raster, storageRow));
  }
  result.anyAlpha = converter.alphaSeen() != 0;
  return result;
}

DibPixelsResult decodeRowsFrom(const DibHeader& header, PictureInput& input, std::uint64_t pixelOffset,
                               RowSink& sink, const CancelFlag* cancel) {
  DibPixelsResult result;
  RowConverter<3> converter(header);
  const auto packed = static_cast<std::size_t>(packedRowBytes(header.width, header.bitsPerPixel));
  const auto padded = static_cast<std::uint64_t>(paddedRowBytes(header.width, header.bitsPerPixel));
  const std::size_t out = static_cast<std::size_t>(header.width) * 3;
  for (int i = 0; i < header.height; ++i) {
    if (cancelled(cancel)) {
      result.cancelled = true;
      break;
    }
    // As above: the last row may lack its padding, a row short of pixels is left out.
    const auto row = input.bytes(pixelOffset + padded * static_cast<std::uint64_t>(i), packed);
    if (row.size() < packed) {
      result.partial = true;
      result.nothingDecoded = i == 0;
      break;
    }
    converter.convert(row, {sink.nextRow(), out});
    sink.rowDone();
  }
  return result;
}

DibPixelsResult decodeRows(const DibHeader& header, std::span<const std::uint8_t> pixels, Raster& raster,
                           const CancelFlag* cancel) {
  return raster.depth == 32 ? decodeRowsInto<4>(header, pixels, raster, cancel)
                            : decodeRowsInto<3>(header, pixels, raster, cancel);
}

// --- run-length encoded rows ------------------------------------------------

// RLE data: pairs (count, index) paint count pixels; (0, 0) ends the row,
// (0, 1) ends the picture, (0, 2, dx, dy) moves right and up, (0, n >= 3)
// is followed by n literal indices padded to an even byte count. Rows run
// bottom-up. Pixels the stream skips or never reaches stay zero.
class RleDecoder {
 public:
  RleDecoder(const DibHeader& header, Raster& raster)
      : header_(header), raster_(raster), step_(static_cast<std::size_t>(raster.depth / 8)) {}

  DibPixelsResult run(std::span<const std::uint8_t> pixels, const CancelFlag* cancel) {
    // Each step paints at most 255 pixels: looking every few thousand is often enough.
    constexpr unsigned kStepsPerCancelCheck = 4096;
    const bool fourBits = header_.encoding == DibEncoding::rle4;
    ByteCursor cursor(pixels);
    bool ended = false;
    DibPixelsResult result;
    for (unsigned step = 0; y_ < header_.height; ++step) {
      if (step % kStepsPerCancelCheck == 0 && cancelled(cancel)) {
        result.cancelled = true;
        break;
      }
      const std::uint8_t count = cursor.u8();
      const std::uint8_t value = cursor.u8();
      if (!cursor.ok()) break;
      if (count > 0) {
        for (int i = 0; i < count; ++i) paint(fourBits ? ((i % 2 == 0) ? value >> 4 : value & 0x0F) : value);
      } else if (value == 0) {
        x_ = 0;
        ++y_;
      } else if (value == 1) {
        ended = true;
        break;
      } else if (value == 2) {
        const std::uint8_t dx = cursor.u8();
        const std::uint8_t dy = cursor.u8();
        if (!cursor.ok()) break;
        // x_ stops at the row's end, so that long chains of moves cannot overflow it.
        x_ = std::min(x_ + dx, header_.width);
        y_ += dy;
      } else {
        const std::size_t bytes = fourBits ? (value + 1u) / 2u : value;
        const auto literal = cursor.take(bytes);
        if (!literal) break;
        for (int i = 0; i < value; ++i) {
          const std::uint8_t byte =
              (*literal)[fourBits ? static_cast<std::size_t>(i / 2) : static_cast<std::size_t>(i)];
          paint(fourBits ? ((i % 2 == 0) ? byte >> 4 : byte & 0x0F) : byte);
        }
        if (bytes % 2 != 0) cursor.skip(std::min<std::size_t>(1, cursor.remaining()));
      }
    }
    result.partial = !ended && y_ < header_.height;
    result.nothingDecoded = result.partial && !painted_;
    return result;
  }

 private:
  // Paints the pixel at x_ and moves on; past the row's end nothing is drawn
  // until the next end of line.
  void paint(int index) {
    if (x_ >= header_.width) return;
    const auto& colour = header_.palette[static_cast<std::size_t>(index)];
    auto row = rasterRow(raster_, y_);
    const std::size_t at = static_cast<std::size_t>(x_) * step_;
    row[at] = colour[0];
    row[at + 1] = colour[1];
    row[at + 2] = colour[2];
    ++x_;
    painted_ = true;
  }

  const DibHeader& header_;
  Raster& raster_;
  std::size_t step_;
  int x_ = 0;
  int y_ = 0;
  bool painted_ = false;
};

}  // namespace

DibPixelsResult streamDibRows(const DibHeader& header, PictureInput& input, std::uint64_t pixelOffset,
                              RowSink& sink, const CancelFlag* cancel) {
  if (header.compressed() || header.bitsPerPixel == 32) return DibPixelsResult{true, false};
  return decodeRowsFrom(header, input, pixelOffset, sink, cancel);
}

std::int64_t dibPixelBytes(const DibHeader& header) {
  return paddedRowBytes(header.width, header.bitsPerPixel) * header.height;
}

std::int64_t dibPackedRowBytes(const DibHeader& header) {
  return packedRowBytes(header.width, header.bitsPerPixel);
}

std::optional<DibHeader> parseDibHeader(std::span<const std::uint8_t> data, std::size_t headerOffset,
                                        DibContainer container, std::size_t pixelOffset, bool* sideTooLarge) {
  ByteCursor cursor(data, headerOffset);
  DibHeader header;
  const std::uint32_t size = cursor.u32();
  if (!cursor.ok()) return std::nullopt;
  const bool core = size == 12;
  const bool windows = size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
  const bool os2 = !windows && size >= 16 && size <= 64;
  if (!core && !windows && !os2) return std::nullopt;
  if (size > data.size() - headerOffset) return std::nullopt;
  header.headerSize = size;

  std::int64_t width = 0;
  std::int64_t height = 0;
  std::uint32_t compression = kCompressionNone;
  std::uint32_t colorsUsed = 0;
  if (core) {
    width = cursor.u16();
    height = cursor.u16();
    cursor.u16();  // planes
    header.bitsPerPixel = cursor.u16();
  } else {
    width = cursor.s32();
    height = cursor.s32();
    cursor.u16();  // planes
    header.bitsPerPixel = cursor.u16();
    // Short OS/2 2.x headers end early; the fields they leave out are 0.
    if (size >= 20) compression = cursor.u32();
    if (size >= 36) {
      cursor.skip(12);  // image size, resolution
      colorsUsed = cursor.u32();
    }
  }
  if (!cursor.ok()) return std::nullopt;

  if (width <= 0 || height == 0) return std::nullopt;
  header.topDown = height < 0;
  std::int64_t rows = height < 0 ? -height : height;
  if (container == DibContainer::iconEntry) {
    // The stored height counts the colour rows and the mask rows.
    if (header.topDown) return std::nullopt;
    rows /= 2;
  }
  if (rows <= 0) return std::nullopt;
  if (width > kMaxSide || rows > kMaxSide) {
    if (sideTooLarge != nullptr) *sideTooLarge = true;
    return std::nullopt;
  }
  header.width = static_cast<int>(width);
  header.height = static_cast<int>(rows);

  std::size_t tablesEnd = headerOffset + size;
  const int bpp = header.bitsPerPixel;
  switch (compression) {
    case kCompressionNone:
      if (bpp == 1 || bpp == 2 || bpp == 4 || bpp == 8) {
        header.encoding = DibEncoding::indexed;
      } else if (bpp == 16) {
        header.encoding = DibEncoding::bitFields;
        setMasks(header, 0x7C00, 0x03E0, 0x001F, 0);
      } else if (bpp == 24) {
        header.encoding = DibEncoding::rgb24;
      } else if (bpp == 32) {
        // The fourth byte of an unmasked 32-bit pixel is taken as alpha.
        header.encoding = DibEncoding::bitFields;
        setMasks(header, 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000);
      } else {
        return std::nullopt;
      }
      break;
    case kCompressionRle8:
    case kCompressionRle4: {
      const bool eight = compression == kCompressionRle8;
      if (bpp != (eight ? 8 : 4)) return std::nullopt;
      // Compressed rows are always stored bottom-up; icon entries are never compressed.
      if (header.topDown || container == DibContainer::iconEntry) return std::nullopt;
      header.encoding = eight ? DibEncoding::rle8 : DibEncoding::rle4;
      break;
    }
    case kCompressionBitFields:
    case kCompressionAlphaBitFields: {
      if (!windows || (bpp != 16 && bpp != 32)) return std::nullopt;
      const bool withAlphaField = compression == kCompressionAlphaBitFields;
      std::uint32_t masks[4] = {0, 0, 0, 0};
      if (size == 40) {
        // The masks follow the header.
        ByteCursor maskCursor(data, tablesEnd);
        const int count = withAlphaField ? 4 : 3;
        for (int i = 0; i < count; ++i) masks[i] = maskCursor.u32();
        if (!maskCursor.ok()) return std::nullopt;
        tablesEnd += static_cast<std::size_t>(count) * 4;
      } else {
        ByteCursor maskCursor(data, headerOffset + kMasksInHeaderOffset);
        const int count = size >= 56 ? 4 : 3;
        for (int i = 0; i < count; ++i) masks[i] = maskCursor.u32();
        if (!maskCursor.ok()) return std::nullopt;
      }
      header.encoding = DibEncoding::bitFields;
      if (!setMasks(header, masks[0], masks[1], masks[2], masks[3])) return std::nullopt;
      break;
    }
    default:
      // JPEG or PNG inside the file, OS/2 Huffman 1D or RLE24, CMYK variants.
      return std::nullopt;
  }

  if (container == DibContainer::bmpFile && pixelOffset < tablesEnd) return std::nullopt;

  if (bpp <= 8) {
    const std::size_t entrySize = core ? 3 : 4;
    const std::uint32_t full = 1u << bpp;
    std::size_t count = (colorsUsed == 0 || colorsUsed > full) ? full : colorsUsed;
    if (container == DibContainer::bmpFile) {
      // The table cannot run into the pixel rows (short OS/2 tables end there).
      const std::size_t limit = std::min(pixelOffset, data.size());
      const std::size_t room = limit > tablesEnd ? (limit - tablesEnd) / entrySize : 0;
      count = std::min(count, room);
    }
    ByteCursor table(data, tablesEnd);
    for (std::size_t i = 0; i < count; ++i) {
      const auto entry = table.take(entrySize);
      if (!entry) return std::nullopt;
      header.palette[i] = {(*entry)[0], (*entry)[1], (*entry)[2]};
    }
    header.paletteSize = static_cast<int>(count);
    tablesEnd += count * entrySize;
  } else if (container == DibContainer::iconEntry && colorsUsed > 0) {
    // A packed DIB keeps its optional colour table before the pixels even
    // when the pixels do not use it.
    if (tablesEnd > data.size() || colorsUsed > (data.size() - tablesEnd) / 4) return std::nullopt;
    tablesEnd += static_cast<std::size_t>(colorsUsed) * 4;
  }
  header.tablesEnd = tablesEnd;
  return header;
}

DibPixelsResult decodeDibPixels(const DibHeader& header, std::span<const std::uint8_t> pixels, Raster& raster,
                                const CancelFlag* cancel) {
  if (raster.width != header.width || raster.height != header.height ||
      (raster.depth != 24 && raster.depth != 32))
    return DibPixelsResult{true, false};
  if (header.compressed()) return RleDecoder(header, raster).run(pixels, cancel);
  return decodeRows(header, pixels, raster, cancel);
}

}  // namespace pixmoor::image
