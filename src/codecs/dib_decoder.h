// Device-independent bitmap decoding shared by the BMP and icon readers: the
// bitmap information header in all its sizes (12-byte core header, OS/2 2.x
// headers of 16 to 64 bytes, the 40-byte header and its 52, 56, 108 and
// 124-byte extensions), colour tables, bit masks, and pixel rows either
// uncompressed or run-length encoded (RLE8, RLE4).
//
// The data is hostile: every field is checked as it is read, nothing is read
// outside the given block, and the pixel decoder never writes outside the
// raster it is handed. Pure functions, callable from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "image/picture_input.h"
#include "image/raster.h"
#include "resample/row_reducer.h"

namespace pixmoor::image {

enum class DibEncoding {
  indexed,    // 1, 2, 4 or 8 bits per pixel through the colour table
  rle8,       // run-length encoded 8-bit indices
  rle4,       // run-length encoded 4-bit indices
  rgb24,      // three bytes B, G, R
  bitFields,  // 16 or 32-bit words split by channel masks
};

// One colour channel of a bit-field pixel: a contiguous run of `bits` bits
// starting at bit `shift`. `bits` 0 means the channel is absent.
struct ChannelMask {
  std::uint32_t mask = 0;
  int shift = 0;
  int bits = 0;
};

struct DibHeader {
  std::uint32_t headerSize = 0;
  int width = 0;         // 1 .. kMaxSide
  int height = 0;        // 1 .. kMaxSide, colour rows only (an icon's mask rows excluded)
  bool topDown = false;  // first stored row is the top picture row
  int bitsPerPixel = 0;  // as the file stores it: 1, 2, 4, 8, 16, 24 or 32
  DibEncoding encoding = DibEncoding::indexed;
  ChannelMask red, green, blue, alpha;  // kBitFields only
  // Colour table as B, G, R; entries at and beyond paletteSize stay black, so
  // that indices the table does not cover come out black.
  std::array<std::array<std::uint8_t, 3>, 256> palette{};
  int paletteSize = 0;
  // Offset just past the header, its masks and its colour table; a packed
  // DIB (icon entry) has its pixel rows here.
  std::size_t tablesEnd = 0;

  bool hasAlphaChannel() const { return alpha.bits > 0; }
  bool compressed() const { return encoding == DibEncoding::rle8 || encoding == DibEncoding::rle4; }
};

enum class DibContainer {
  bmpFile,    // BMP file: pixel rows at the file header's offset; the colour table ends there
  iconEntry,  // icon entry: packed DIB, height counts colour and mask rows, bottom-up, uncompressed
};

// Reads the information header that starts at `headerOffset` of `data`.
// For a BMP file `pixelOffset` is where the file header says the pixel rows
// start: a colour table is cut short there. Fails (nullopt) for any field out
// of range, an unsupported compression or bit depth, or tables beyond the block;
// `sideTooLarge`, when given, is set when a side above 32767 was the reason.
std::optional<DibHeader> parseDibHeader(std::span<const std::uint8_t> data, std::size_t headerOffset,
                                        DibContainer container, std::size_t pixelOffset,
                                        bool* sideTooLarge = nullptr);

// Bytes of the uncompressed colour rows (each row padded to 4 bytes).
std::int64_t dibPixelBytes(const DibHeader& header);
// Bytes a row needs before its padding, i.e. what a last row must at least hold.
std::int64_t dibPackedRowBytes(const DibHeader& header);

struct DibPixelsResult {
  bool partial = false;         // the data ended before every row was decoded
  bool nothingDecoded = false;  // partial, and not one row (of RLE data: not one pixel) was
  bool anyAlpha = false;        // some decoded alpha value was not 0
  bool cancelled = false;       // `cancel` was raised: the rows stopped there
};

// Decodes the pixel rows in `pixels` into `raster`, which must be zero-filled
// and of the header's width and height at 24 or 32 bits. A 32-bit raster gets
// the alpha channel of the data, or 0 where the data has none. Rows (and RLE
// pixels) that the data does not hold stay zero. `cancel` is read per row.
DibPixelsResult decodeDibPixels(const DibHeader& header, std::span<const std::uint8_t> pixels, Raster& raster,
                                const CancelFlag* cancel = nullptr);

// The same for uncompressed rows that give a 24-bit raster, read a row at a
// time from `input` (the rows start at `pixelOffset`) and handed to `sink`
// in the order the file stores them, with the same pixels.
DibPixelsResult streamDibRows(const DibHeader& header, PictureInput& input, std::uint64_t pixelOffset,
                              RowSink& sink, const CancelFlag* cancel = nullptr);

}  // namespace pixmoor::image
