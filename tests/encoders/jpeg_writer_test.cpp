#include "encoders/jpeg_writer.h"

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "encode_test_support.h"
#include "encoders/encode.h"

namespace pixmoor::image {
namespace {

using testing::makeFilled;
using testing::readBytes;
using testing::ScratchFolder;

// Position in natural (row-major) order of the k-th coefficient in the
// zig-zag order in which DQT segments store them.
constexpr int kZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                             12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                             35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                             58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

struct Markers {
  std::vector<int> codes;                   // every marker after SOI, in order, up to SOS
  std::vector<std::array<int, 64>> tables;  // DQT tables by table number, natural order
  std::vector<int> tablePrecision;          // 0: 8-bit values, 1: 16-bit
  bool jfif = false;
};

// Reads the marker segments of a JPEG file from its bytes, stopping at SOS.
std::optional<Markers> readMarkers(const std::vector<std::uint8_t>& b) {
  if (b.size() < 4 || b[0] != 0xFF || b[1] != 0xD8) return std::nullopt;
  Markers m;
  m.tables.resize(4);
  m.tablePrecision.assign(4, -1);
  std::size_t at = 2;
  while (at + 4 <= b.size()) {
    if (b[at] != 0xFF) return std::nullopt;
    const int code = b[at + 1];
    m.codes.push_back(code);
    const std::size_t length = static_cast<std::size_t>(b[at + 2]) << 8 | b[at + 3];
    if (length < 2 || at + 2 + length > b.size()) return std::nullopt;
    const std::uint8_t* seg = &b[at + 4];
    const std::size_t segLength = length - 2;
    if (code == 0xE0 && segLength >= 5 && std::memcmp(seg, "JFIF\0", 5) == 0) m.jfif = true;
    if (code == 0xDB) {
      std::size_t p = 0;
      while (p < segLength) {
        const int precision = seg[p] >> 4;
        const int id = seg[p] & 15;
        if (id > 3) return std::nullopt;
        ++p;
        m.tablePrecision[static_cast<std::size_t>(id)] = precision;
        for (int k = 0; k < 64; ++k) {
          int v;
          if (precision == 0) {
            v = seg[p++];
          } else {
            v = seg[p] << 8 | seg[p + 1];
            p += 2;
          }
          m.tables[static_cast<std::size_t>(id)][static_cast<std::size_t>(kZigZag[k])] = v;
        }
      }
    }
    if (code == 0xDA) break;
    at += 2 + length;
  }
  return m;
}

// libjpeg's own luminance and chrominance tables for a library quality.
std::array<std::array<int, 64>, 2> libraryTables(int libraryQuality) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  cinfo.in_color_space = JCS_RGB;
  cinfo.input_components = 3;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, libraryQuality, FALSE);
  std::array<std::array<int, 64>, 2> out{};
  for (std::size_t t = 0; t < 2; ++t) {
    for (std::size_t i = 0; i < 64; ++i) out[t][i] = cinfo.quant_tbl_ptrs[t]->quantval[i];
  }
  jpeg_destroy_compress(&cinfo);
  return out;
}

struct Decoded {
  int width = 0, height = 0, components = 0;
  bool progressive = false;
  J_COLOR_SPACE colourSpace = JCS_UNKNOWN;
  int sampling[3][2] = {};
  std::vector<std::uint8_t> bgr;  // top row first, tightly packed
};

Decoded decode(const std::vector<std::uint8_t>& bytes) {
  Decoded d;
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&cinfo);
    return d;
  }
  d.components = cinfo.num_components;
  d.progressive = cinfo.progressive_mode != 0;
  d.colourSpace = cinfo.jpeg_color_space;
  for (int c = 0; c < cinfo.num_components && c < 3; ++c) {
    d.sampling[c][0] = cinfo.comp_info[c].h_samp_factor;
    d.sampling[c][1] = cinfo.comp_info[c].v_samp_factor;
  }
  cinfo.out_color_space = JCS_EXT_BGR;
  // Plain replication of the chroma samples, so that colour does not bleed
  // across the 2x2 blocks it was averaged over.
  cinfo.do_fancy_upsampling = FALSE;
  jpeg_start_decompress(&cinfo);
  d.width = static_cast<int>(cinfo.output_width);
  d.height = static_cast<int>(cinfo.output_height);
  d.bgr.resize(static_cast<std::size_t>(d.width) * static_cast<std::size_t>(d.height) * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row =
        &d.bgr[static_cast<std::size_t>(cinfo.output_scanline) * static_cast<std::size_t>(d.width) * 3];
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return d;
}

class JpegWriterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { registerJpegEncoder(); }

  std::vector<std::uint8_t> save(const Raster& raster, int quality) {
    EXPECT_EQ(saveRaster(raster, raster.depth, folder.file("out.jpg"), kJpegEncoder, quality, -1),
              SaveStatus::saved);
    return readBytes(folder.file("out.jpg"));
  }

  ScratchFolder folder;
};

TEST(JpegLibraryQuality, ClampsToZeroToTenTimesTen) {
  const int rows[][2] = {{-3, 0}, {-1, 0},   {0, 0},    {1, 10},   {5, 50},
                         {8, 80}, {10, 100}, {11, 100}, {12, 100}, {1000, 100}};
  for (const auto& r : rows) EXPECT_EQ(jpegLibraryQuality(r[0]), r[1]) << r[0];
}

TEST_F(JpegWriterTest, QuantisationTablesAreLibjpegsAtTheClampedQuality) {
  auto raster =
      makeFilled(32, 24, 24, [](int x, int y, std::uint8_t* p) { testing::photoPixel(x, y, p, 24); });
  const int rows[][2] = {{12, 100}, {10, 100}, {8, 80}, {3, 30}, {1, 10}, {0, 0}, {-3, 0}};
  for (const auto& r : rows) {
    const auto markers = readMarkers(save(*raster, r[0]));
    ASSERT_TRUE(markers) << r[0];
    const auto expected = libraryTables(r[1]);
    EXPECT_EQ(markers->tables[0], expected[0]) << "quality " << r[0];
    EXPECT_EQ(markers->tables[1], expected[1]) << "quality " << r[0];
  }
}

TEST_F(JpegWriterTest, LowQualityKeepsTableValuesAbove255) {
  auto raster =
      makeFilled(16, 16, 24, [](int x, int y, std::uint8_t* p) { testing::photoPixel(x, y, p, 24); });
  const auto markers = readMarkers(save(*raster, 0));
  ASSERT_TRUE(markers);
  EXPECT_EQ(markers->tablePrecision[0], 1);
  int largest = 0;
  for (int v : markers->tables[0]) largest = std::max(largest, v);
  EXPECT_GT(largest, 255);
  // Tables of 16-bit values are not baseline: extended sequential frame.
  EXPECT_NE(std::find(markers->codes.begin(), markers->codes.end(), 0xC1), markers->codes.end());
  // Quality 0 reads as libjpeg quality 1: every value at its cap.
  EXPECT_EQ(markers->tables[0], libraryTables(1)[0]);
}

TEST_F(JpegWriterTest, WritesBaselineJfifWithFourTwoZeroSampling) {
  auto raster =
      makeFilled(50, 30, 24, [](int x, int y, std::uint8_t* p) { testing::photoPixel(x, y, p, 24); });
  const auto bytes = save(*raster, 8);
  const auto markers = readMarkers(bytes);
  ASSERT_TRUE(markers);
  EXPECT_TRUE(markers->jfif);
  ASSERT_FALSE(markers->codes.empty());
  EXPECT_EQ(markers->codes.front(), 0xE0);  // APP0 right after SOI
  // JFIF 1.01, density unit 0 (aspect ratio only), 1:1, no thumbnail.
  const std::vector<std::uint8_t> app0(bytes.begin() + 4, bytes.begin() + 20);
  EXPECT_EQ(app0, (std::vector<std::uint8_t>{0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}));
  EXPECT_NE(std::find(markers->codes.begin(), markers->codes.end(), 0xC0), markers->codes.end());
  EXPECT_EQ(std::find(markers->codes.begin(), markers->codes.end(), 0xC2), markers->codes.end());
  EXPECT_EQ(std::find(markers->codes.begin(), markers->codes.end(), 0xDD),
            markers->codes.end());  // no restarts
  EXPECT_EQ(markers->tablePrecision[0], 0);
  const Decoded d = decode(bytes);
  EXPECT_EQ(d.width, 50);
  EXPECT_EQ(d.height, 30);
  EXPECT_EQ(d.components, 3);
  EXPECT_FALSE(d.progressive);
  EXPECT_EQ(d.colourSpace, JCS_YCbCr);
  EXPECT_EQ(d.sampling[0][0], 2);
  EXPECT_EQ(d.sampling[0][1], 2);
  for (int c = 1; c < 3; ++c) {
    EXPECT_EQ(d.sampling[c][0], 1);
    EXPECT_EQ(d.sampling[c][1], 1);
  }
  EXPECT_EQ(bytes[bytes.size() - 2], 0xFF);
  EXPECT_EQ(bytes[bytes.size() - 1], 0xD9);
}

TEST_F(JpegWriterTest, PixelsComeBackCloseAndTheRightWayUp) {
  // A smooth picture with a red top band and a blue bottom band.
  const int w = 97, h = 61;
  auto raster = makeFilled(w, h, 24, [](int x, int y, std::uint8_t* p) {
    if (y < 10) {
      p[0] = 0, p[1] = 0, p[2] = 250;
    } else if (y >= 50) {  // band edges on even rows: no chroma pair straddles them
      p[0] = 250, p[1] = 0, p[2] = 0;
    } else {
      p[0] = static_cast<std::uint8_t>(40 + x), p[1] = static_cast<std::uint8_t>(60 + 2 * y),
      p[2] = static_cast<std::uint8_t>(200 - x);
    }
  });
  const Decoded d = decode(save(*raster, 10));
  ASSERT_EQ(d.width, w);
  ASSERT_EQ(d.height, h);
  long total = 0;
  int worst = 0;
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* src = raster->pictureRow(y);
    for (int i = 0; i < w * 3; ++i) {
      const int diff = std::abs(src[i] - d.bgr[static_cast<std::size_t>(y * w * 3 + i)]);
      total += diff;
      worst = std::max(worst, diff);
    }
  }
  EXPECT_LT(static_cast<double>(total) / (w * h * 3), 1.0);
  EXPECT_LE(worst, 8);
  // Top-left is red, bottom-left is blue.
  EXPECT_GT(d.bgr[2], 230);
  EXPECT_LT(d.bgr[0], 25);
  const std::size_t bottom = static_cast<std::size_t>((h - 1) * w * 3);
  EXPECT_GT(d.bgr[bottom], 230);
  EXPECT_LT(d.bgr[bottom + 2], 25);
}

TEST_F(JpegWriterTest, OddAndTinySizesOpenAtTheirSize) {
  for (const auto& size :
       {std::pair{1, 1}, std::pair{1, 17}, std::pair{17, 1}, std::pair{3, 5}, std::pair{33, 9}}) {
    auto raster = makeFilled(size.first, size.second, 24,
                             [](int x, int y, std::uint8_t* p) { testing::photoPixel(x, y, p, 24); });
    const Decoded d = decode(save(*raster, 8));
    EXPECT_EQ(d.width, size.first);
    EXPECT_EQ(d.height, size.second);
  }
}

TEST_F(JpegWriterTest, GreyPicturesStillHaveThreeComponents) {
  auto raster = makeFilled(20, 20, 24, [](int x, int y, std::uint8_t* p) {
    p[0] = p[1] = p[2] = static_cast<std::uint8_t>(x * 10 + y);
  });
  EXPECT_EQ(saveRaster(*raster, 8, folder.file("grey.jpg"), kJpegEncoder, 8, -1), SaveStatus::saved);
  EXPECT_EQ(decode(readBytes(folder.file("grey.jpg"))).components, 3);
}

TEST_F(JpegWriterTest, ThirtyTwoBitPicturesAreWrittenWithoutAlpha) {
  auto raster = makeFilled(16, 16, 32, [](int x, int, std::uint8_t* p) {
    p[0] = 0, p[1] = 0, p[2] = 0, p[3] = static_cast<std::uint8_t>(x < 8 ? 0 : 255);
  });
  const Decoded d = decode(save(*raster, 10));
  ASSERT_EQ(d.components, 3);
  // Clear pixels turn white, opaque black stays black.
  EXPECT_GT(d.bgr[0], 240);
  EXPECT_LT(d.bgr[15 * 3], 15);
}

TEST_F(JpegWriterTest, StopBeforeTheFirstRow) {
  auto out = TempOutput::create(folder.file("x.jpg"));
  ASSERT_TRUE(out);
  auto raster = makeRaster(8, 8, 24);
  RowSource rows{raster->data(), 8, 8, raster->stride, 3, true};
  CancelFlag cancel{true};
  EXPECT_EQ(writeJpeg(*out, rows, 8, 24, &cancel), SaveStatus::cancelled);
  out.reset();
  EXPECT_TRUE(folder.names().empty());
}

// A Stop part-way through the rows: the writer looks at the flag before
// each row; what follows it is the rest of one row of blocks, at most one
// more of the library's 64 KiB output buffers.
TEST_F(JpegWriterTest, StopPartWayEndsWithinARowOfBlocks) {
  auto raster = makeFilled(2000, 800, 24, [](int x, int y, std::uint8_t* p) {
    testing::noisePixel(x, y, p, 24);
  });  // some megabytes at full quality
  const RowSource rows{raster->data(), 2000, 800, raster->stride, 3, true};
  CancelFlag cancel{false};
  testing::StopAfterBytes out(64 * 1024, cancel);
  EXPECT_EQ(writeJpeg(out, rows, 10, 24, &cancel), SaveStatus::cancelled);
  ASSERT_TRUE(out.stopped());
  EXPECT_LE(out.afterStop(), 64u * 1024u);
}

TEST_F(JpegWriterTest, RefusesRowsWithAlpha) {
  auto out = TempOutput::create(folder.file("x.jpg"));
  auto raster = makeRaster(8, 8, 32);
  RowSource rows{raster->data(), 8, 8, raster->stride, 4, true};
  EXPECT_EQ(writeJpeg(*out, rows, 8, 32, nullptr), SaveStatus::badRequest);
}

}  // namespace
}  // namespace pixmoor::image
