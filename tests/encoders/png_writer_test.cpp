#include "encoders/png_writer.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstdlib>

#include "encode_test_support.h"
#include "encoders/encode.h"
#include "encoders/neuquant.h"

namespace pixmoor::image {
namespace {

using testing::bigEndian32;
using testing::findChunk;
using testing::makeFilled;
using testing::PngChunk;
using testing::pngChunks;
using testing::readBytes;
using testing::ScratchFolder;

struct Header {
  std::uint32_t width = 0, height = 0;
  int bitDepth = 0, colourType = 0, compression = -1, filter = -1, interlace = -1;
};

Header header(const std::vector<PngChunk>& chunks) {
  Header h;
  const PngChunk* c = findChunk(chunks, "IHDR");
  if (c == nullptr || c->data.size() != 13) return h;
  h.width = bigEndian32(&c->data[0]);
  h.height = bigEndian32(&c->data[4]);
  h.bitDepth = c->data[8];
  h.colourType = c->data[9];
  h.compression = c->data[10];
  h.filter = c->data[11];
  h.interlace = c->data[12];
  return h;
}

// The IDAT chunks joined and inflated: the filtered rows, each led by its
// filter-type byte.
std::vector<std::uint8_t> inflateImage(const std::vector<PngChunk>& chunks,
                                       std::uint8_t* zlibFlags = nullptr) {
  std::vector<std::uint8_t> compressed;
  for (const auto& c : chunks) {
    if (c.type == "IDAT") compressed.insert(compressed.end(), c.data.begin(), c.data.end());
  }
  if (zlibFlags != nullptr && compressed.size() >= 2) *zlibFlags = compressed[1];
  std::vector<std::uint8_t> out(1 << 16);
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return {};
  z.next_in = compressed.data();
  z.avail_in = static_cast<uInt>(compressed.size());
  std::size_t produced = 0;
  int rc = Z_OK;
  while (rc == Z_OK) {
    if (produced == out.size()) out.resize(out.size() * 2);
    z.next_out = out.data() + produced;
    z.avail_out = static_cast<uInt>(out.size() - produced);
    rc = inflate(&z, Z_NO_FLUSH);
    produced = out.size() - z.avail_out;
  }
  inflateEnd(&z);
  if (rc != Z_STREAM_END) return {};
  out.resize(produced);
  return out;
}

// Decodes with libpng's simplified interface into tightly packed rows, top
// row first, in the given format.
std::vector<std::uint8_t> decodeSimple(const std::vector<std::uint8_t>& bytes, png_uint_32 format, int* w,
                                       int* h) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return {};
  image.format = format;
  std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
  *w = static_cast<int>(image.width);
  *h = static_cast<int>(image.height);
  return pixels;
}

class PngWriterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { registerPngEncoder(); }

  std::vector<std::uint8_t> save(const Raster& raster, int sourceDepth, int depth = -1) {
    EXPECT_EQ(saveRaster(raster, sourceDepth, folder.file("out.png"), kPngEncoder, 7, depth),
              SaveStatus::saved);
    return readBytes(folder.file("out.png"));
  }

  ScratchFolder folder;
};

struct Size {
  int width, height;
};

class TrueColour : public PngWriterTest, public ::testing::WithParamInterface<Size> {};

TEST_P(TrueColour, TwentyFourBitsRoundTripExactlyAsColourType2) {
  const auto [w, h] = GetParam();
  auto raster = makeFilled(w, h, 24, [](int x, int y, std::uint8_t* p) { testing::photoPixel(x, y, p, 24); });
  const auto bytes = save(*raster, 24);
  const auto chunks = pngChunks(bytes);
  const Header hd = header(chunks);
  EXPECT_EQ(hd.width, static_cast<std::uint32_t>(w));
  EXPECT_EQ(hd.height, static_cast<std::uint32_t>(h));
  EXPECT_EQ(hd.bitDepth, 8);
  EXPECT_EQ(hd.colourType, 2);
  EXPECT_EQ(hd.compression, 0);
  EXPECT_EQ(hd.filter, 0);
  EXPECT_EQ(hd.interlace, 0);
  EXPECT_EQ(findChunk(chunks, "PLTE"), nullptr);
  EXPECT_EQ(findChunk(chunks, "tRNS"), nullptr);
  int dw = 0, dh = 0;
  const auto pixels = decodeSimple(bytes, PNG_FORMAT_BGR, &dw, &dh);
  ASSERT_EQ(dw, w);
  ASSERT_EQ(dh, h);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* src = raster->pictureRow(y);
    ASSERT_EQ(std::vector<std::uint8_t>(src, src + w * 3),
              std::vector<std::uint8_t>(pixels.begin() + y * w * 3, pixels.begin() + (y + 1) * w * 3))
        << "row " << y;
  }
}

TEST_P(TrueColour, ThirtyTwoBitsKeepAlphaAsColourType6) {
  const auto [w, h] = GetParam();
  auto raster = makeFilled(w, h, 32, [](int x, int y, std::uint8_t* p) { testing::photoPixel(x, y, p, 32); });
  const auto bytes = save(*raster, 32);
  const auto chunks = pngChunks(bytes);
  EXPECT_EQ(header(chunks).colourType, 6);
  EXPECT_EQ(header(chunks).bitDepth, 8);
  // The raw rows, not the simplified reader: it would take alpha as
  // premultiplied-free but still compose nothing; compare bytes directly.
  const auto raw = inflateImage(chunks);
  ASSERT_EQ(raw.size(), static_cast<std::size_t>(h) * (1 + static_cast<std::size_t>(w) * 4));
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* src = raster->pictureRow(y);
    const std::uint8_t* row = &raw[static_cast<std::size_t>(y) * (1 + static_cast<std::size_t>(w) * 4)];
    ASSERT_EQ(row[0], 0) << "filter of row " << y;
    for (int x = 0; x < w; ++x) {
      // File order is red, green, blue, alpha.
      ASSERT_EQ(row[1 + x * 4 + 0], src[x * 4 + 2]);
      ASSERT_EQ(row[1 + x * 4 + 1], src[x * 4 + 1]);
      ASSERT_EQ(row[1 + x * 4 + 2], src[x * 4 + 0]);
      ASSERT_EQ(row[1 + x * 4 + 3], src[x * 4 + 3]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, TrueColour,
                         ::testing::Values(Size{1, 1}, Size{3, 2}, Size{2, 3}, Size{37, 19}, Size{256, 100}));

TEST_F(PngWriterTest, RowsAreUnfilteredAndDeflatedAtTheHighestLevel) {
  auto raster =
      makeFilled(120, 80, 24, [](int x, int y, std::uint8_t* p) { testing::photoPixel(x, y, p, 24); });
  const auto chunks = pngChunks(save(*raster, 24));
  std::uint8_t flags = 0;
  const auto raw = inflateImage(chunks, &flags);
  ASSERT_EQ(raw.size(), 80u * (1 + 120 * 3));
  for (int y = 0; y < 80; ++y) EXPECT_EQ(raw[static_cast<std::size_t>(y) * (1 + 120 * 3)], 0) << y;
  EXPECT_EQ(flags >> 6, 3);  // zlib's FLEVEL: the slowest, best compression
}

TEST_F(PngWriterTest, SixteenBitAndOtherSourceDepthsGiveEightBitTrueColour) {
  auto raster = makeFilled(9, 7, 24, [](int x, int y, std::uint8_t* p) { testing::photoPixel(x, y, p, 24); });
  for (const int sourceDepth : {16, 24, 32, 15, 0, 3}) {
    const auto chunks = pngChunks(save(*raster, sourceDepth));
    EXPECT_EQ(header(chunks).bitDepth, 8) << sourceDepth;
    EXPECT_EQ(header(chunks).colourType, 2) << sourceDepth;
  }
}

// The palette written for a raster, worked out with the quantiser directly
// from the same pixels (B G R A, in memory order).
PaletteQuantizer expectedQuantizer(const Raster& raster, int colours) {
  std::vector<std::uint8_t> bgra;
  for (int y = 0; y < raster.height; ++y) {
    const std::uint8_t* row = raster.storageRow(y);
    for (int x = 0; x < raster.width; ++x) {
      const std::uint8_t* p = row + x * raster.bytesPerPixel();
      bgra.insert(bgra.end(), {p[0], p[1], p[2], raster.depth == 32 ? p[3] : std::uint8_t{255}});
    }
  }
  return *PaletteQuantizer::learn(bgra.data(), static_cast<std::size_t>(raster.width) * raster.height,
                                  colours);
}

struct PaletteCase {
  int depth;
  int rasterDepth;
  int width, height;
};

class PaletteOutput : public PngWriterTest, public ::testing::WithParamInterface<PaletteCase> {};

TEST_P(PaletteOutput, FullPaletteGammaAndPackedIndices) {
  const auto c = GetParam();
  auto raster = makeFilled(c.width, c.height, c.rasterDepth, [&](int x, int y, std::uint8_t* p) {
    testing::photoPixel(x, y, p, c.rasterDepth);
  });
  const auto bytes = save(*raster, c.depth);
  const auto chunks = pngChunks(bytes);
  const Header hd = header(chunks);
  EXPECT_EQ(hd.colourType, 3);
  EXPECT_EQ(hd.bitDepth, c.depth);
  EXPECT_EQ(hd.interlace, 0);
  EXPECT_EQ(findChunk(chunks, "tRNS"), nullptr);

  const PngChunk* gama = findChunk(chunks, "gAMA");
  ASSERT_NE(gama, nullptr);
  ASSERT_EQ(gama->data.size(), 4u);
  EXPECT_EQ(bigEndian32(gama->data.data()), 180000u);

  const int colours = 1 << c.depth;
  const PngChunk* plte = findChunk(chunks, "PLTE");
  ASSERT_NE(plte, nullptr);
  ASSERT_EQ(plte->data.size(), static_cast<std::size_t>(colours) * 3);

  // Chunk order: IHDR, gAMA before PLTE, PLTE before the data.
  std::vector<std::string> order;
  for (const auto& ch : chunks) {
    if (order.empty() || order.back() != ch.type) order.push_back(ch.type);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"IHDR", "gAMA", "PLTE", "IDAT", "IEND"}));

  const PaletteQuantizer q = expectedQuantizer(*raster, colours);
  for (int i = 0; i < colours; ++i) {
    const auto& e = q.palette()[static_cast<std::size_t>(i)];
    EXPECT_EQ(plte->data[static_cast<std::size_t>(i) * 3 + 0], e.red) << i;
    EXPECT_EQ(plte->data[static_cast<std::size_t>(i) * 3 + 1], e.green) << i;
    EXPECT_EQ(plte->data[static_cast<std::size_t>(i) * 3 + 2], e.blue) << i;
  }

  // Every row: filter 0, then the indices packed first pixel highest.
  const std::size_t rowBytes = (static_cast<std::size_t>(c.width) * c.depth + 7) / 8;
  const auto raw = inflateImage(chunks);
  ASSERT_EQ(raw.size(), static_cast<std::size_t>(c.height) * (1 + rowBytes));
  const int perByte = 8 / c.depth;
  const int mask = (1 << c.depth) - 1;
  for (int y = 0; y < c.height; ++y) {
    const std::uint8_t* row = &raw[static_cast<std::size_t>(y) * (1 + rowBytes)];
    ASSERT_EQ(row[0], 0);
    const std::uint8_t* src = raster->pictureRow(y);
    for (int x = 0; x < c.width; ++x) {
      const std::uint8_t* p = src + x * raster->bytesPerPixel();
      const int expected = q.indexOf(p[0], p[1], p[2], c.rasterDepth == 32 ? p[3] : 255);
      const int shift = 8 - c.depth * (x % perByte + 1);
      ASSERT_EQ((row[1 + x / perByte] >> shift) & mask, expected) << "pixel " << x << "," << y;
    }
    // Unused low bits of the last byte stay 0.
    const int used = c.width % perByte;
    if (used != 0) {
      EXPECT_EQ(row[rowBytes] & ((1 << (8 - used * c.depth)) - 1), 0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, PaletteOutput,
                         ::testing::Values(PaletteCase{8, 24, 61, 40}, PaletteCase{8, 32, 61, 40},
                                           PaletteCase{4, 24, 33, 17}, PaletteCase{2, 24, 13, 11},
                                           PaletteCase{1, 24, 19, 9}, PaletteCase{1, 32, 8, 3},
                                           PaletteCase{8, 24, 1, 1}));

TEST_F(PngWriterTest, EightBitSourceGivesA256EntryPalette) {
  // A grey picture, as an 8-bit grey source would load.
  auto raster = makeFilled(64, 48, 24, [](int x, int y, std::uint8_t* p) {
    p[0] = p[1] = p[2] = static_cast<std::uint8_t>((x * 4 + y) & 0xFF);
  });
  const auto chunks = pngChunks(save(*raster, 8));
  EXPECT_EQ(header(chunks).colourType, 3);
  EXPECT_EQ(header(chunks).bitDepth, 8);
  ASSERT_NE(findChunk(chunks, "PLTE"), nullptr);
  EXPECT_EQ(findChunk(chunks, "PLTE")->data.size(), 768u);
  ASSERT_NE(findChunk(chunks, "gAMA"), nullptr);
  EXPECT_EQ(bigEndian32(findChunk(chunks, "gAMA")->data.data()), 180000u);
}

TEST_F(PngWriterTest, OneBitSourceGivesTwoColoursEightPixelsPerByte) {
  // Black text-like stripes on white.
  const int w = 200, h = 150;
  auto raster = makeFilled(w, h, 24, [](int, int y, std::uint8_t* p) {
    const std::uint8_t v = y % 10 < 3 ? 0 : 255;
    p[0] = p[1] = p[2] = v;
  });
  const auto bytes = save(*raster, 1);
  const auto chunks = pngChunks(bytes);
  EXPECT_EQ(header(chunks).bitDepth, 1);
  EXPECT_EQ(header(chunks).colourType, 3);
  ASSERT_EQ(findChunk(chunks, "PLTE")->data.size(), 6u);
  const auto raw = inflateImage(chunks);
  ASSERT_EQ(raw.size(), static_cast<std::size_t>(h) * (1 + 25));  // 200 pixels in 25 bytes
  // The two stripes get two different entries, and a whole row one byte value.
  EXPECT_NE(raw[1], raw[3 * 26 + 1]);
  EXPECT_TRUE(raw[1] == 0x00 || raw[1] == 0xFF);
  int dw = 0, dh = 0;
  const auto pixels = decodeSimple(bytes, PNG_FORMAT_BGR, &dw, &dh);
  ASSERT_EQ(dw, w);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int got = pixels[static_cast<std::size_t>((y * w + x) * 3)];
      ASSERT_NEAR(got, raster->pictureRow(y)[x * 3], 12) << x << "," << y;
    }
  }
}

TEST_F(PngWriterTest, FirstPixelSitsInTheHighBit) {
  // Black stripes on white; the first pixel of every row and pixels 100 to
  // 103 have the other colour.
  const int w = 200, h = 150;
  auto raster = makeFilled(w, h, 24, [](int x, int y, std::uint8_t* p) {
    bool white = y % 10 >= 3;
    if (x == 0 || (x >= 100 && x < 104)) white = !white;
    p[0] = p[1] = p[2] = white ? 255 : 0;
  });
  const auto chunks = pngChunks(save(*raster, 1));
  const auto plte = findChunk(chunks, "PLTE")->data;
  const auto raw = inflateImage(chunks);
  ASSERT_EQ(raw.size(), static_cast<std::size_t>(h) * 26);
  ASSERT_GT(std::abs(plte[0] - plte[3]), 200) << "palette did not separate black and white";
  const int whiteIndex = plte[0] > plte[3] ? 0 : 1;
  const std::uint8_t white = whiteIndex ? 0xFF : 0x00;
  const std::uint8_t black = static_cast<std::uint8_t>(~white);
  for (int y : {0, 5}) {
    const std::uint8_t on = y % 10 >= 3 ? white : black;
    const std::uint8_t off = static_cast<std::uint8_t>(~on);
    const std::uint8_t* row = &raw[static_cast<std::size_t>(y) * 26 + 1];
    EXPECT_EQ(row[0], static_cast<std::uint8_t>((off & 0x80) | (on & 0x7F))) << y;
    EXPECT_EQ(row[1], on) << y;
    EXPECT_EQ(row[12], static_cast<std::uint8_t>((on & 0xF0) | (off & 0x0F))) << y;  // pixels 96..103
    EXPECT_EQ(row[24], on) << y;
  }
}

TEST_F(PngWriterTest, SameRasterSameFile) {
  auto raster =
      makeFilled(80, 60, 24, [](int x, int y, std::uint8_t* p) { testing::photoPixel(x, y, p, 24); });
  const auto first = save(*raster, 8);
  const auto second = save(*raster, 8);
  EXPECT_EQ(first, second);
}

TEST_F(PngWriterTest, StopBeforeTheFirstRow) {
  auto raster =
      makeFilled(40, 40, 24, [](int x, int y, std::uint8_t* p) { testing::photoPixel(x, y, p, 24); });
  RowSource rows{raster->data(), 40, 40, raster->stride, 3, true};
  CancelFlag cancel{true};
  for (const int depth : {24, 8, 1}) {
    auto out = TempOutput::create(folder.file("x.png"));
    ASSERT_TRUE(out);
    EXPECT_EQ(writePngRgb(*out, rows, 7, depth, &cancel), SaveStatus::cancelled) << depth;
  }
  EXPECT_TRUE(folder.names().empty());
}

// A Stop part-way through the rows: the writer looks at the flag before
// each row, so little more than the row being written follows it.
TEST_F(PngWriterTest, StopPartWayEndsWithinARow) {
  auto raster = makeFilled(600, 300, 24, [](int x, int y, std::uint8_t* p) {
    testing::noisePixel(x, y, p, 24);
  });  // 540 kB of rows, none compressible
  const RowSource rows{raster->data(), 600, 300, raster->stride, 3, true};
  for (const int depth : {24, 8}) {
    CancelFlag cancel{false};
    testing::StopAfterBytes out(100'000, cancel);
    EXPECT_EQ(writePngRgb(out, rows, 7, depth, &cancel), SaveStatus::cancelled) << depth;
    ASSERT_TRUE(out.stopped()) << depth;
    // At most the rest of one row, and libpng's one IDAT buffer (8 KiB).
    EXPECT_LE(out.afterStop(), 1801u + 8192u) << depth;
  }
}

TEST_F(PngWriterTest, RefusesRowsOfTheWrongWidth) {
  auto raster = makeRaster(4, 4, 24);
  RowSource rows{raster->data(), 4, 4, raster->stride, 3, true};
  auto out = TempOutput::create(folder.file("x.png"));
  EXPECT_EQ(writePngRgba(*out, rows, 7, 32, nullptr), SaveStatus::badRequest);
}

}  // namespace
}  // namespace pixmoor::image
