#include "codecs/bmp_reader.h"

#include <gtest/gtest.h>
#include <png.h>

#include <array>
#include <cctype>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "reference_picture.h"

namespace pixmoor::image {
namespace {

using test_support::Bytes;
using test_support::countMismatches;
using test_support::pixelAt;
using test_support::put16;
using test_support::put32;
using test_support::readFile;
using test_support::readReference;
using test_support::Rgba;

std::string dataPath(const std::string& relative) {
  return std::string(PIXMOOR_TEST_DATA) + "/bmp/" + relative;
}

std::optional<DecodedPicture> readBmpFile(const std::string& relative) {
  const Bytes bytes = readFile(dataPath(relative));
  EXPECT_FALSE(bytes.empty()) << relative;
  return readBmp(bytes);
}

// --- conformance corpus -----------------------------------------------------

enum class Expect {
  match,   // loads and equals one of its reference renderings
  loads,   // loads (its references disagree with a rule of ours; see the row)
  reject,  // refused
  either,  // loads or is refused, without harm
};

struct CorpusFile {
  const char* path;
  Expect expect;
  int sourceDepth;                      // kMatch, kLoads
  std::vector<const char*> references;  // kMatch: any one may match
  int tolerance = 0;                    // kMatch: per channel
};

class BmpCorpus : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(BmpCorpus, LoadsAsExpected) {
  const CorpusFile& file = GetParam();
  const auto picture = readBmpFile(file.path);
  if (file.expect == Expect::reject) {
    EXPECT_FALSE(picture.has_value());
    return;
  }
  if (file.expect == Expect::either && !picture) return;
  ASSERT_TRUE(picture.has_value());
  ASSERT_NE(picture->raster, nullptr);
  const Raster& raster = *picture->raster;
  EXPECT_GT(raster.width, 0);
  EXPECT_GT(raster.height, 0);
  EXPECT_TRUE(raster.depth == 24 || raster.depth == 32);
  EXPECT_FALSE(picture->isIcon);
  if (file.expect == Expect::either) return;

  EXPECT_EQ(picture->sourceDepth, file.sourceDepth);
  EXPECT_FALSE(picture->partial);
  if (file.sourceDepth == 32) {
    EXPECT_EQ(raster.depth, 32);
  }
  if (file.sourceDepth < 24) {
    EXPECT_EQ(raster.depth, 24);
  }
  if (file.expect == Expect::loads) return;

  std::string report;
  bool matched = false;
  for (const char* name : file.references) {
    const auto reference = readReference(dataPath(std::string("reference/") + name));
    ASSERT_TRUE(reference.has_value()) << name;
    if (reference->width != raster.width || reference->height != raster.height) {
      report += std::string(name) + ": size differs; ";
      continue;
    }
    std::string first;
    const int mismatches = countMismatches(raster, *reference, file.tolerance, &first);
    if (mismatches == 0) {
      matched = true;
      break;
    }
    report += std::string(name) + ": " + std::to_string(mismatches) + " pixels differ, first " + first + "; ";
  }
  EXPECT_TRUE(matched) << report;
}

const std::vector<CorpusFile> kCorpus = {
    // Good files: every one loads and equals its rendering exactly.
    {"g/pal1.bmp", Expect::match, 1, {"bmpsuite/pal1.png"}},
    {"g/pal1bg.bmp", Expect::match, 1, {"bmpsuite/pal1bg.png"}},
    {"g/pal4.bmp", Expect::match, 4, {"bmpsuite/pal4.png"}},
    {"g/pal4rle.bmp", Expect::match, 4, {"bmpsuite/pal4.png"}},
    {"g/pal8-0.bmp", Expect::match, 8, {"bmpsuite/pal8.png"}},
    {"g/pal8.bmp", Expect::match, 8, {"bmpsuite/pal8.png"}},
    {"g/pal8gs.bmp", Expect::match, 8, {"bmpsuite/pal8gs.png"}},
    {"g/pal8os2.bmp", Expect::match, 8, {"bmpsuite/pal8.png"}},
    {"g/pal8rle.bmp", Expect::match, 8, {"bmpsuite/pal8.png"}},
    {"g/pal8topdown.bmp", Expect::match, 8, {"bmpsuite/pal8.png"}},
    {"g/pal8v5.bmp", Expect::match, 8, {"bmpsuite/pal8.png"}},
    {"g/pal8w124.bmp", Expect::match, 8, {"bmpsuite/pal8w124.png"}},
    {"g/pal8w126.bmp", Expect::match, 8, {"bmpsuite/pal8w126.png"}},
    {"g/rgb16-565.bmp", Expect::match, 16, {"bmpsuite/rgb16-565.png"}},
    {"g/rgb16.bmp", Expect::match, 16, {"bmpsuite/rgb16.png"}},
    {"g/rgb24.bmp", Expect::match, 24, {"bmpsuite/rgb24.png"}},
    {"g/rgb32.bmp", Expect::match, 32, {"bmpsuite/rgb24.png"}},
    {"g/rgb32bf.bmp", Expect::match, 32, {"bmpsuite/rgb24.png"}},
    {"g/irs_Core_1_Bit.bmp", Expect::match, 1, {"imagers/irs_Core_1_Bit.bmp.png"}},
    {"g/irs_Core_8_Bit.bmp", Expect::match, 8, {"imagers/irs_Core_8_Bit.bmp.png"}},
    {"g/irs_Info_1_Bit.bmp", Expect::match, 1, {"imagers/irs_Info_1_Bit.bmp.png"}},
    {"g/irs_Info_1_Bit_Top_Down.bmp", Expect::match, 1, {"imagers/irs_Info_1_Bit_Top_Down.bmp.png"}},
    {"g/irs_Info_4_Bit.bmp", Expect::match, 4, {"imagers/irs_Info_4_Bit.bmp.png"}},
    {"g/irs_Info_8_Bit.bmp", Expect::match, 8, {"imagers/irs_Info_8_Bit.bmp.png"}},
    {"g/irs_Info_8_Bit_Top_Down.bmp", Expect::match, 8, {"imagers/irs_Info_8_Bit_Top_Down.bmp.png"}},
    {"g/irs_Info_R8_G8_B8_Top_Down.bmp", Expect::match, 24, {"imagers/irs_Info_R8_G8_B8_Top_Down.bmp.png"}},
    {"g/irs_Info_X1_R5_G5_B5.bmp", Expect::match, 16, {"imagers/irs_Info_X1_R5_G5_B5.bmp.png"}},
    {"g/irs_V4_24_Bit.bmp", Expect::match, 24, {"imagers/irs_V4_24_Bit.bmp.png"}},
    {"g/irs_V4_R5_G6_B5.bmp", Expect::match, 16, {"imagers/irs_V4_R5_G6_B5.bmp.png"}},

    // Questionable files: what this reader makes of each.
    {"q/irs_Info_A8_R8_G8_B8.bmp", Expect::match, 32, {"imagers/irs_Info_A8_R8_G8_B8.bmp.png"}},
    // Alpha masks whose alpha is 0 in every pixel: opaque here, transparent in the references.
    {"q/irs_V3_A1_R5_G5_B5.bmp", Expect::loads, 16, {}},
    {"q/irs_V3_A1_R5_G5_B5_Top_Down.bmp", Expect::loads, 16, {}},
    {"q/irs_V3_A4_R4_G4_B4_Top_Down.bmp", Expect::loads, 16, {}},
    {"q/irs_V3_R5_G6_B5.bmp", Expect::match, 16, {"imagers/irs_V3_R5_G6_B5.bmp.png"}},
    {"q/irs_V3_X4_R4_G4_B4.bmp", Expect::match, 16, {"imagers/irs_V3_X4_R4_G4_B4.bmp.png"}},
    {"q/irs_V3_X4_R4_G4_B4_Top_Down.bmp", Expect::match, 16, {"imagers/irs_V3_X4_R4_G4_B4_Top_Down.bmp.png"}},
    {"q/irs_V3_X8_R8_G8_B8.bmp", Expect::match, 32, {"imagers/irs_V3_X8_R8_G8_B8.bmp.png"}},
    {"q/irs_V4_A8_R8_G8_B8.bmp", Expect::match, 32, {"imagers/irs_V4_A8_R8_G8_B8.bmp.png"}},
    {"q/irs_V5_A8_R8_G8_B8_Rgb.bmp", Expect::match, 32, {"imagers/irs_V5_A8_R8_G8_B8_Rgb.bmp.png"}},
    {"q/irs_V5_A8_R8_G8_B8_Rgb_BadMask.bmp", Expect::loads, 32, {}},
    {"q/irs_imagemagick_invalid_run_length_issue_2321.bmp", Expect::loads, 8, {}},
    {"q/pal1huffmsb.bmp", Expect::reject, 0, {}},  // Huffman 1D
    {"q/pal1p1.bmp", Expect::match, 1, {"bmpsuite/pal1p1.png"}},
    {"q/pal2.bmp", Expect::match, 2, {"bmpsuite/pal2.png"}},
    // Pixels the RLE stream skips stay black.
    {"q/pal4rletrns.bmp", Expect::match, 4, {"bmpsuite/pal4rletrns-b.png"}},
    {"q/pal8offs.bmp", Expect::match, 8, {"bmpsuite/pal8.png"}},
    {"q/pal8os2-hs.bmp", Expect::match, 8, {"bmpsuite/pal8.png"}},
    {"q/pal8os2sp.bmp", Expect::match, 8, {"bmpsuite/pal8.png"}},
    {"q/pal8os2v2-40sz.bmp", Expect::match, 8, {"bmpsuite/pal8.png"}},
    {"q/pal8os2v2.bmp", Expect::match, 8, {"bmpsuite/pal8.png"}},
    {"q/pal8oversizepal.bmp", Expect::match, 8, {"bmpsuite/pal8.png"}},
    {"q/pal8rlecut.bmp", Expect::match, 8, {"bmpsuite/pal8rlecut-b.png"}},
    {"q/rgb16-231.bmp", Expect::match, 16, {"bmpsuite/rgb16-231.png"}},
    {"q/rgb16faketrns.bmp", Expect::match, 16, {"bmpsuite/rgb16.png"}},
    {"q/rgb24jpeg.bmp", Expect::reject, 0, {}},  // JPEG inside
    {"q/rgb24largepal.bmp", Expect::match, 24, {"bmpsuite/rgb24.png"}},
    {"q/rgb24lprof.bmp", Expect::match, 24, {"bmpsuite/rgb24.png"}},
    {"q/rgb24prof.bmp", Expect::match, 24, {"bmpsuite/rgb24.png"}},
    {"q/rgb24rle24.bmp", Expect::reject, 0, {}},  // RLE24
    // 11-bit channels: the rendering rounds some values one step lower.
    {"q/rgb32-111110.bmp", Expect::match, 32, {"bmpsuite/rgb24.png"}, 1},
    {"q/rgb32-xbgr.bmp", Expect::match, 32, {"bmpsuite/rgb24.png"}},
    // The fourth byte of an unmasked 32-bit pixel is alpha once any of them is not 0.
    {"q/rgb32fakealpha.bmp", Expect::match, 32, {"bmpsuite/fakealpha.png"}},
    // 16 bits with an alpha mask: a 24-bit raster, colours checked below.
    {"q/rgba16-1924.bmp", Expect::loads, 16, {}},
    {"q/rgba16-4444.bmp", Expect::loads, 16, {}},
    {"q/rgba32-1.bmp", Expect::match, 32, {"bmpsuite/rgba32.png"}},
    {"q/rgba32-1010102.bmp", Expect::match, 32, {"bmpsuite/rgba32-1010102.png"}},
    {"q/rgba32-61754.bmp", Expect::match, 32, {"bmpsuite/rgba32-61754.png"}},
    {"q/rgba32abf.bmp", Expect::match, 32, {"bmpsuite/rgba32.png"}},
    {"q/rgba32h56.bmp", Expect::match, 32, {"bmpsuite/rgba32.png"}},
    {"q/rgba64.bmp", Expect::reject, 0, {}},
    {"x/ba-bm.bmp", Expect::reject, 0, {}},  // an OS/2 bitmap array, not a BMP file

    // Bad files: refused or loaded, never harmful (the sanitizer build checks the "never").
    {"b/badbitcount.bmp", Expect::reject, 0, {}},
    {"b/badbitssize.bmp", Expect::either, 0, {}},
    {"b/baddens1.bmp", Expect::either, 0, {}},
    {"b/badpalettesize.bmp", Expect::either, 0, {}},
    {"b/badrle.bmp", Expect::either, 0, {}},
    {"b/badrle4.bmp", Expect::either, 0, {}},
    {"b/badrle4bis.bmp", Expect::either, 0, {}},
    {"b/badrleter.bmp", Expect::either, 0, {}},
    {"b/badwidth.bmp", Expect::reject, 0, {}},
    {"b/irs_Bad_clrsUsed.bmp", Expect::either, 0, {}},
    {"b/irs_Bad_unusual_extend_buffer_usage.bmp", Expect::either, 0, {}},
    {"b/irs_Bad_width.bmp", Expect::reject, 0, {}},
    {"b/pal8badindex.bmp", Expect::either, 0, {}},
    {"b/reallybig.bmp", Expect::reject, 0, {}},
    {"b/rletopdown.bmp", Expect::reject, 0, {}},
    {"b/shortfile.bmp", Expect::reject, 0, {}},  // less than half of its rows
};

INSTANTIATE_TEST_SUITE_P(Files, BmpCorpus, ::testing::ValuesIn(kCorpus),
                         [](const ::testing::TestParamInfo<CorpusFile>& info) {
                           std::string name = info.param.path;
                           for (char& c : name)
                             if (std::isalnum(static_cast<unsigned char>(c)) == 0) c = '_';
                           return name;
                         });

// 16-bit files with an alpha mask load opaque, 24 bits, with the right colours.
TEST(BmpCorpusAlpha, SixteenBitAlphaMasksLoadOpaqueWithTheRightColours) {
  const std::pair<const char*, const char*> files[] = {
      {"irs_V3_A1_R5_G5_B5.bmp", "imagers/irs_V3_A1_R5_G5_B5.bmp.png"},
      {"irs_V3_A1_R5_G5_B5_Top_Down.bmp", "imagers/irs_V3_A1_R5_G5_B5_Top_Down.bmp.png"},
      {"irs_V3_A4_R4_G4_B4_Top_Down.bmp", "imagers/irs_V3_A4_R4_G4_B4_Top_Down.bmp.png"},
      {"rgba16-1924.bmp", "bmpsuite/rgba16-1924.png"},
      {"rgba16-4444.bmp", "bmpsuite/rgba16-4444.png"}};
  for (const auto& [name, rendering] : files) {
    const auto picture = readBmpFile(std::string("q/") + name);
    ASSERT_TRUE(picture.has_value()) << name;
    EXPECT_EQ(picture->raster->depth, 24) << name;
    auto reference = readReference(dataPath(std::string("reference/") + rendering));
    ASSERT_TRUE(reference.has_value()) << name;
    // A rendering with some alpha gives its clear pixels no colour: those are not compared.
    Bytes& px = reference->pixels;
    bool anyAlpha = false;
    for (std::size_t i = 3; i < px.size(); i += 4) anyAlpha = anyAlpha || px[i] != 0;
    for (std::size_t i = 0; i < px.size(); i += 4) {
      const auto at = static_cast<int>(i / 4);
      const auto got = pixelAt(*picture->raster, at % reference->width, at / reference->width);
      for (int c = 0; c < 3 && anyAlpha && px[i + 3] == 0; ++c) px[i + c] = static_cast<std::uint8_t>(got[c]);
      px[i + 3] = 255;
    }
    std::string first;
    EXPECT_EQ(countMismatches(*picture->raster, *reference, 0, &first), 0) << name << " " << first;
  }
}

// --- hand-made files ----------------------------------------------------------

struct Rgb {
  int r, g, b;
};

struct BmpLayout {
  std::uint32_t headerSize = 40;
  std::int32_t width = 1;
  std::int32_t height = 1;
  std::uint16_t bitsPerPixel = 24;
  std::uint32_t compression = 0;
  std::uint32_t colorsUsed = 0;
  std::vector<std::uint32_t> masks;  // inside headers of 52 bytes and more, else after the header
  std::vector<Rgb> palette;
  Bytes pixels;
  std::optional<std::uint32_t> pixelOffset;  // default: just after the tables
};

Bytes buildBmp(const BmpLayout& layout) {
  Bytes tables;
  if (layout.headerSize == 12) {
    put32(tables, 12);
    put16(tables, static_cast<std::uint32_t>(layout.width));
    put16(tables, static_cast<std::uint32_t>(layout.height));
    put16(tables, 1);
    put16(tables, layout.bitsPerPixel);
  } else {
    put32(tables, layout.headerSize);
    put32(tables, static_cast<std::uint32_t>(layout.width));
    put32(tables, static_cast<std::uint32_t>(layout.height));
    put16(tables, 1);
    put16(tables, layout.bitsPerPixel);
    put32(tables, layout.compression);
    put32(tables, static_cast<std::uint32_t>(layout.pixels.size()));
    put32(tables, 2835);
    put32(tables, 2835);
    put32(tables, layout.colorsUsed);
    put32(tables, 0);
    if (layout.headerSize > 40)
      for (std::uint32_t mask : layout.masks) put32(tables, mask);
    tables.resize(layout.headerSize, 0);
    if (layout.headerSize == 40)
      for (std::uint32_t mask : layout.masks) put32(tables, mask);
  }
  for (const Rgb& colour : layout.palette) {
    tables.push_back(static_cast<std::uint8_t>(colour.b));
    tables.push_back(static_cast<std::uint8_t>(colour.g));
    tables.push_back(static_cast<std::uint8_t>(colour.r));
    if (layout.headerSize != 12) tables.push_back(0);
  }
  Bytes file = {'B', 'M'};
  put32(file, static_cast<std::uint32_t>(14 + tables.size() + layout.pixels.size()));
  put32(file, 0);
  put32(file, layout.pixelOffset.value_or(static_cast<std::uint32_t>(14 + tables.size())));
  file.insert(file.end(), tables.begin(), tables.end());
  file.insert(file.end(), layout.pixels.begin(), layout.pixels.end());
  return file;
}

std::array<int, 4> rgba(const Rgb& colour, int alpha = 255) {
  return {colour.r, colour.g, colour.b, alpha};
}

constexpr Rgb kBlack = {0, 0, 0};

DecodedPicture load(const BmpLayout& layout) {
  auto picture = readBmp(buildBmp(layout));
  if (!picture) {
    ADD_FAILURE() << "refused";
    return {};
  }
  return std::move(*picture);
}

TEST(BmpReader, OneBitRowsTakeTheMostSignificantBitFirstAndRunBottomUp) {
  const Rgb zero = {10, 20, 30};
  const Rgb one = {200, 100, 50};
  BmpLayout layout;
  layout.width = 10;
  layout.height = 2;
  layout.bitsPerPixel = 1;
  layout.palette = {zero, one};
  // Stored bottom row: 1 0 1 1 0 0 0 1 | 1 0; top row: 0 ... 0 1.
  layout.pixels = {0xB1, 0x80, 0, 0, 0x00, 0x40, 0, 0};
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  const Raster& r = *picture.raster;
  EXPECT_EQ(r.width, 10);
  EXPECT_EQ(r.height, 2);
  EXPECT_EQ(r.depth, 24);
  EXPECT_EQ(r.stride, 32);
  EXPECT_EQ(picture.sourceDepth, 1);
  EXPECT_FALSE(picture.partial);
  const int bottom[10] = {1, 0, 1, 1, 0, 0, 0, 1, 1, 0};
  for (int x = 0; x < 10; ++x) {
    EXPECT_EQ(pixelAt(r, x, 1), rgba(bottom[x] ? one : zero)) << x;
    EXPECT_EQ(pixelAt(r, x, 0), rgba(x == 9 ? one : zero)) << x;
  }
}

TEST(BmpReader, FourBitIndicesBeyondTheTableAreBlack) {
  const Rgb a = {1, 2, 3};
  const Rgb b = {4, 5, 6};
  BmpLayout layout;
  layout.width = 3;
  layout.bitsPerPixel = 4;
  layout.colorsUsed = 2;
  layout.palette = {a, b};
  layout.pixels = {0x01, 0x50, 0, 0};
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  EXPECT_EQ(picture.sourceDepth, 4);
  EXPECT_EQ(pixelAt(*picture.raster, 0, 0), rgba(a));
  EXPECT_EQ(pixelAt(*picture.raster, 1, 0), rgba(b));
  EXPECT_EQ(pixelAt(*picture.raster, 2, 0), rgba(kBlack));
}

TEST(BmpReader, EightBitFileGivesA24BitRasterWithSourceDepth8) {
  BmpLayout layout;
  layout.width = 3;
  layout.height = 2;
  layout.bitsPerPixel = 8;
  layout.palette.assign(256, kBlack);
  layout.palette[7] = {0x11, 0x22, 0x33};
  layout.palette[200] = {0xAA, 0xBB, 0xCC};
  layout.pixels = {7, 200, 7, 0xEE, 200, 200, 7, 0xEE};
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  const Raster& r = *picture.raster;
  EXPECT_EQ(r.depth, 24);
  EXPECT_EQ(picture.sourceDepth, 8);
  ASSERT_EQ(r.stride, 12);
  // Storage row 0 is the bottom row, B G R order, padding bytes zero.
  const Bytes bottom(r.storageRow(0), r.storageRow(0) + 12);
  const Bytes top(r.storageRow(1), r.storageRow(1) + 12);
  EXPECT_EQ(bottom, (Bytes{0x33, 0x22, 0x11, 0xCC, 0xBB, 0xAA, 0x33, 0x22, 0x11, 0, 0, 0}));
  EXPECT_EQ(top, (Bytes{0xCC, 0xBB, 0xAA, 0xCC, 0xBB, 0xAA, 0x33, 0x22, 0x11, 0, 0, 0}));
}

TEST(BmpReader, NegativeHeightStoresRowsTopDownAndLoadsTheRightWayUp) {
  BmpLayout layout;
  layout.width = 2;
  layout.height = 2;
  layout.pixels = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  const DecodedPicture bottomUp = load(layout);
  layout.height = -2;
  const DecodedPicture topDown = load(layout);
  ASSERT_NE(bottomUp.raster, nullptr);
  ASSERT_NE(topDown.raster, nullptr);
  EXPECT_EQ(topDown.raster->height, 2);
  // The first stored row is the bottom row of one and the top row of the other.
  EXPECT_EQ(pixelAt(*bottomUp.raster, 0, 1), (std::array<int, 4>{3, 2, 1, 255}));
  EXPECT_EQ(pixelAt(*topDown.raster, 0, 0), (std::array<int, 4>{3, 2, 1, 255}));
  EXPECT_EQ(pixelAt(*topDown.raster, 1, 1), (std::array<int, 4>{12, 11, 10, 255}));
}

TEST(BmpReader, CoreHeaderUsesThreeByteTableEntries) {
  const Rgb a = {9, 8, 7};
  const Rgb b = {250, 128, 3};
  BmpLayout layout;
  layout.headerSize = 12;
  layout.width = 3;
  layout.height = 1;
  layout.bitsPerPixel = 1;
  layout.palette = {a, b};
  layout.pixels = {0x40, 0, 0, 0};
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  EXPECT_EQ(picture.sourceDepth, 1);
  EXPECT_EQ(pixelAt(*picture.raster, 0, 0), rgba(a));
  EXPECT_EQ(pixelAt(*picture.raster, 1, 0), rgba(b));
  EXPECT_EQ(pixelAt(*picture.raster, 2, 0), rgba(a));
}

TEST(BmpReader, ShortOs2HeadersReadTheFieldsTheyHold) {
  for (std::uint32_t size : {16u, 64u}) {
    BmpLayout layout;
    layout.headerSize = size;
    layout.width = 2;
    layout.bitsPerPixel = 8;
    layout.palette.assign(256, kBlack);
    layout.palette[1] = {40, 50, 60};
    layout.pixels = {1, 0, 0, 0};
    const DecodedPicture picture = load(layout);
    ASSERT_NE(picture.raster, nullptr) << size;
    EXPECT_EQ(pixelAt(*picture.raster, 0, 0), rgba({40, 50, 60})) << size;
  }
}

TEST(BmpReader, TableCutShortByThePixelOffsetLeavesTheOtherIndicesBlack) {
  BmpLayout layout;
  layout.width = 3;
  layout.bitsPerPixel = 8;
  layout.palette = {{1, 1, 1}, {2, 2, 2}};  // colours used 0 would mean 256
  layout.pixels = {0, 1, 2, 0};
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  EXPECT_EQ(pixelAt(*picture.raster, 1, 0), rgba({2, 2, 2}));
  EXPECT_EQ(pixelAt(*picture.raster, 2, 0), rgba(kBlack));
}

TEST(BmpReader, AbsurdColourCountIsClampedToTheDepth) {
  BmpLayout layout;
  layout.width = 1;
  layout.bitsPerPixel = 8;
  layout.colorsUsed = 0xFFFFFFFF;
  layout.palette.assign(256, {5, 6, 7});
  layout.pixels = {255, 0, 0, 0};
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  EXPECT_EQ(pixelAt(*picture.raster, 0, 0), rgba({5, 6, 7}));
}

// RLE test palette: index i is (i, 10 i, 255 - 10 i) with index 0 not black, so
// that skipped pixels (black) differ from painted index-0 pixels.
std::vector<Rgb> rlePalette(int size) {
  std::vector<Rgb> palette;
  for (int i = 0; i < size; ++i) palette.push_back({i == 0 ? 99 : i, 10 * i, 255 - 10 * i});
  return palette;
}

TEST(BmpReader, Rle8RunsLiteralsDeltaAndEndOfBitmap) {
  BmpLayout layout;
  layout.width = 6;
  layout.height = 3;
  layout.bitsPerPixel = 8;
  layout.compression = 1;
  layout.colorsUsed = 4;
  layout.palette = rlePalette(4);
  layout.pixels = {3, 1,              // three pixels of index 1
                   0, 3, 2, 3, 2, 0,  // three literal pixels, padded to an even count
                   0, 0,              // end of line
                   0, 2, 2, 1,        // move 2 right and 1 up: row 2, x 2
                   2, 3,              // two pixels of index 3
                   0, 1};             // end of bitmap
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  const Raster& r = *picture.raster;
  EXPECT_EQ(r.depth, 24);
  EXPECT_EQ(picture.sourceDepth, 8);
  EXPECT_FALSE(picture.partial);
  const auto palette = rlePalette(4);
  const int bottom[6] = {1, 1, 1, 2, 3, 2};
  for (int x = 0; x < 6; ++x) {
    EXPECT_EQ(pixelAt(r, x, 2), rgba(palette[bottom[x]])) << x;
    EXPECT_EQ(pixelAt(r, x, 1), rgba(kBlack)) << x;
    EXPECT_EQ(pixelAt(r, x, 0), rgba(x == 2 || x == 3 ? palette[3] : kBlack)) << x;
  }
}

TEST(BmpReader, Rle4AlternatesNibblesInRunsAndLiterals) {
  BmpLayout layout;
  layout.width = 5;
  layout.height = 2;
  layout.bitsPerPixel = 4;
  layout.compression = 2;
  layout.palette = rlePalette(16);
  layout.pixels = {5, 0x12, 0,    0,     // bottom row: 1 2 1 2 1
                   0, 3,    0x34, 0x50,  // literal 3 4 5 (two bytes, already even)
                   2, 0x67, 0,    1};    // 6 7, end of bitmap
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  const auto palette = rlePalette(16);
  const int bottom[5] = {1, 2, 1, 2, 1};
  const int top[5] = {3, 4, 5, 6, 7};
  for (int x = 0; x < 5; ++x) {
    EXPECT_EQ(pixelAt(*picture.raster, x, 1), rgba(palette[bottom[x]])) << x;
    EXPECT_EQ(pixelAt(*picture.raster, x, 0), rgba(palette[top[x]])) << x;
  }
  EXPECT_EQ(picture.sourceDepth, 4);
}

TEST(BmpReader, Rle4LiteralOfOddByteCountIsPaddedToAnEvenOne) {
  BmpLayout layout;
  layout.width = 7;
  layout.bitsPerPixel = 4;
  layout.compression = 2;
  layout.palette = rlePalette(16);
  layout.pixels = {0, 5,    0x9A, 0xBC, 0xD0, 0,  // five literal nibbles: three bytes and one of padding
                   1, 0xE0,                       // then one pixel of index 14
                   0, 1};
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  const auto palette = rlePalette(16);
  for (int x = 0; x < 6; ++x) EXPECT_EQ(pixelAt(*picture.raster, x, 0), rgba(palette[9 + x])) << x;
  EXPECT_EQ(pixelAt(*picture.raster, 6, 0), rgba(kBlack));
}

TEST(BmpReader, RleRunsPastTheRowEndAreCutNotWrapped) {
  BmpLayout layout;
  layout.width = 2;
  layout.height = 2;
  layout.bitsPerPixel = 8;
  layout.compression = 1;
  layout.palette = rlePalette(4);
  layout.pixels = {5, 1, 0, 0, 1, 2, 0, 1};
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  const auto palette = rlePalette(4);
  EXPECT_EQ(pixelAt(*picture.raster, 0, 1), rgba(palette[1]));
  EXPECT_EQ(pixelAt(*picture.raster, 1, 1), rgba(palette[1]));
  EXPECT_EQ(pixelAt(*picture.raster, 0, 0), rgba(palette[2]));
  EXPECT_EQ(pixelAt(*picture.raster, 1, 0), rgba(kBlack));
  EXPECT_FALSE(picture.partial);
}

TEST(BmpReader, RleDataEndingEarlyLoadsPartlyWithTheRestZero) {
  BmpLayout layout;
  layout.width = 4;
  layout.height = 2;
  layout.bitsPerPixel = 8;
  layout.compression = 1;
  layout.palette = rlePalette(4);
  layout.pixels = {4, 3, 0, 0, 2};  // the second row's first code is cut in half
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  EXPECT_TRUE(picture.partial);
  const auto palette = rlePalette(4);
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(pixelAt(*picture.raster, x, 1), rgba(palette[3])) << x;
    EXPECT_EQ(pixelAt(*picture.raster, x, 0), rgba(kBlack)) << x;
  }
}

TEST(BmpReader, RleLiteralCutByTheEndOfTheDataLoadsPartly) {
  BmpLayout layout;
  layout.width = 8;
  layout.height = 1;
  layout.bitsPerPixel = 8;
  layout.compression = 1;
  layout.palette = rlePalette(4);
  layout.pixels = {2, 1, 0, 5, 3, 3};  // five literal pixels announced, two present
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  EXPECT_TRUE(picture.partial);
  const auto palette = rlePalette(4);
  EXPECT_EQ(pixelAt(*picture.raster, 1, 0), rgba(palette[1]));
  EXPECT_EQ(pixelAt(*picture.raster, 2, 0), rgba(kBlack));
}

TEST(BmpReader, SixteenBitDefaultIs555ScaledToFullRange) {
  BmpLayout layout;
  layout.width = 4;
  layout.bitsPerPixel = 16;
  layout.pixels.clear();
  for (std::uint32_t p : {0x7FFFu, 0x4210u, 0x001Fu, 0x8000u}) put16(layout.pixels, p);
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  EXPECT_EQ(picture.raster->depth, 24);
  EXPECT_EQ(picture.sourceDepth, 16);
  EXPECT_EQ(pixelAt(*picture.raster, 0, 0), rgba({255, 255, 255}));
  EXPECT_EQ(pixelAt(*picture.raster, 1, 0), rgba({132, 132, 132}));  // 16 * 255 / 31 = 131.6
  EXPECT_EQ(pixelAt(*picture.raster, 2, 0), rgba({0, 0, 255}));
  EXPECT_EQ(pixelAt(*picture.raster, 3, 0), rgba(kBlack));  // the unused top bit is not alpha
}

TEST(BmpReader, SixteenBit565BitFields) {
  BmpLayout layout;
  layout.width = 3;
  layout.bitsPerPixel = 16;
  layout.compression = 3;
  layout.masks = {0xF800, 0x07E0, 0x001F};
  for (std::uint32_t p : {0xFFFFu, 0x0400u, 0xF800u}) put16(layout.pixels, p);
  put16(layout.pixels, 0);
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  EXPECT_EQ(picture.raster->depth, 24);
  EXPECT_EQ(pixelAt(*picture.raster, 0, 0), rgba({255, 255, 255}));
  EXPECT_EQ(pixelAt(*picture.raster, 1, 0), rgba({0, 130, 0}));  // 32 * 255 / 63 = 129.5
  EXPECT_EQ(pixelAt(*picture.raster, 2, 0), rgba({255, 0, 0}));
}

TEST(BmpReader, WideAndNarrowMasksAreScaledWithRounding) {
  BmpLayout layout;
  layout.width = 2;
  layout.bitsPerPixel = 32;
  layout.compression = 3;
  layout.masks = {0x3FF00000, 0x000FFC00, 0x000003FF};  // 10 bits each
  put32(layout.pixels, (512u << 20) | (1023u << 10) | 4u);
  put32(layout.pixels, (1u << 20) | (0u << 10) | 1022u);
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  // 512 * 255 / 1023 = 127.6; 4 * 255 / 1023 = 1.0; 1022 * 255 / 1023 = 254.75.
  EXPECT_EQ(pixelAt(*picture.raster, 0, 0), rgba({128, 255, 1}));
  EXPECT_EQ(pixelAt(*picture.raster, 1, 0), rgba({0, 0, 255}));

  BmpLayout narrow;
  narrow.width = 1;
  narrow.bitsPerPixel = 16;
  narrow.compression = 3;
  narrow.masks = {0x0007, 0x0018, 0x0020};  // 3, 2 and 1 bits
  put16(narrow.pixels, 3u | (1u << 3) | (1u << 5));
  put16(narrow.pixels, 0);
  const DecodedPicture small = load(narrow);
  ASSERT_NE(small.raster, nullptr);
  EXPECT_EQ(pixelAt(*small.raster, 0, 0), rgba({109, 85, 255}));  // 3 * 255 / 7, 255 / 3
}

TEST(BmpReader, ThirtyTwoBitsWithAllAlphaZeroLoadOpaque) {
  BmpLayout layout;
  layout.width = 2;
  layout.bitsPerPixel = 32;
  layout.pixels = {10, 20, 30, 0, 40, 50, 60, 0};
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  EXPECT_EQ(picture.raster->depth, 32);
  EXPECT_EQ(picture.sourceDepth, 32);
  EXPECT_EQ(pixelAt(*picture.raster, 0, 0), (std::array<int, 4>{30, 20, 10, 255}));
  EXPECT_EQ(pixelAt(*picture.raster, 1, 0), (std::array<int, 4>{60, 50, 40, 255}));
}

TEST(BmpReader, ThirtyTwoBitsWithOneNonZeroAlphaKeepTheirAlpha) {
  BmpLayout layout;
  layout.width = 2;
  layout.bitsPerPixel = 32;
  layout.pixels = {10, 20, 30, 0, 40, 50, 60, 128};
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  EXPECT_EQ(pixelAt(*picture.raster, 0, 0), (std::array<int, 4>{30, 20, 10, 0}));
  EXPECT_EQ(pixelAt(*picture.raster, 1, 0), (std::array<int, 4>{60, 50, 40, 128}));
}

TEST(BmpReader, BitFieldsWithoutAlphaMaskIgnoreTheFourthByte) {
  BmpLayout layout;
  layout.width = 1;
  layout.bitsPerPixel = 32;
  layout.compression = 3;
  layout.masks = {0x00FF0000, 0x0000FF00, 0x000000FF};
  layout.pixels = {1, 2, 3, 77};
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  EXPECT_EQ(picture.raster->depth, 32);
  EXPECT_EQ(pixelAt(*picture.raster, 0, 0), (std::array<int, 4>{3, 2, 1, 255}));
}

TEST(BmpReader, V5HeaderMasksIncludingAlphaAreRead) {
  BmpLayout layout;
  layout.headerSize = 124;
  layout.width = 2;
  layout.bitsPerPixel = 32;
  layout.compression = 3;
  layout.masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000};  // bytes R G B A
  layout.pixels = {11, 22, 33, 44, 55, 66, 77, 0};
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  EXPECT_EQ(pixelAt(*picture.raster, 0, 0), (std::array<int, 4>{11, 22, 33, 44}));
  EXPECT_EQ(pixelAt(*picture.raster, 1, 0), (std::array<int, 4>{55, 66, 77, 0}));
}

TEST(BmpReader, MasksInside52And108ByteHeaders) {
  BmpLayout layout;
  layout.headerSize = 52;
  layout.width = 1;
  layout.bitsPerPixel = 16;
  layout.compression = 3;
  layout.masks = {0xF800, 0x07E0, 0x001F};
  put16(layout.pixels, 0x07E0);
  put16(layout.pixels, 0);
  const DecodedPicture v2 = load(layout);
  ASSERT_NE(v2.raster, nullptr);
  EXPECT_EQ(pixelAt(*v2.raster, 0, 0), rgba({0, 255, 0}));

  // Without bit-field compression the header's masks are not used: 5-5-5.
  layout.headerSize = 108;
  layout.compression = 0;
  const DecodedPicture v4 = load(layout);
  ASSERT_NE(v4.raster, nullptr);
  EXPECT_EQ(pixelAt(*v4.raster, 0, 0), rgba({8, 255, 0}));  // 0x07E0 in 5-5-5: red 1, green 31
}

TEST(BmpReader, AlphaBitFieldsAfterA40ByteHeader) {
  BmpLayout layout;
  layout.width = 1;
  layout.bitsPerPixel = 32;
  layout.compression = 6;
  layout.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
  layout.pixels = {1, 2, 3, 4};
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  EXPECT_EQ(pixelAt(*picture.raster, 0, 0), (std::array<int, 4>{3, 2, 1, 4}));
}

TEST(BmpReader, SixteenBitsWithAnAlphaMaskGiveA24BitRaster) {
  BmpLayout layout;
  layout.headerSize = 56;
  layout.width = 1;
  layout.bitsPerPixel = 16;
  layout.compression = 3;
  layout.masks = {0x0F00, 0x00F0, 0x000F, 0xF000};
  put16(layout.pixels, 0x8F05);
  put16(layout.pixels, 0);
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  EXPECT_EQ(picture.raster->depth, 24);
  EXPECT_EQ(picture.sourceDepth, 16);
  EXPECT_EQ(pixelAt(*picture.raster, 0, 0), (std::array<int, 4>{255, 0, 85, 255}));
}

TEST(BmpReader, MissingRowsStayZeroAndMarkThePicturePartial) {
  BmpLayout layout;
  layout.width = 1;
  layout.height = 4;
  layout.pixels = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9};  // the third row lacks only its padding
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  EXPECT_TRUE(picture.partial);
  EXPECT_EQ(pixelAt(*picture.raster, 0, 3), (std::array<int, 4>{3, 2, 1, 255}));
  EXPECT_EQ(pixelAt(*picture.raster, 0, 1), (std::array<int, 4>{9, 8, 7, 255}));
  EXPECT_EQ(pixelAt(*picture.raster, 0, 0), (std::array<int, 4>{0, 0, 0, 255}));

  layout.height = 3;  // now the file is whole, only the last padding is missing
  const DecodedPicture whole = load(layout);
  ASSERT_NE(whole.raster, nullptr);
  EXPECT_FALSE(whole.partial);
}

struct Refusal {
  const char* what;
  BmpLayout layout;
};

BmpLayout valid24(int width, int height) {
  BmpLayout layout;
  layout.width = width;
  layout.height = height;
  layout.pixels.assign(static_cast<std::size_t>(((3 * width + 3) / 4) * 4 * std::abs(height)), 0x55);
  return layout;
}

BmpLayout with(BmpLayout layout, void (*change)(BmpLayout&)) {
  change(layout);
  return layout;
}

class BmpRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(BmpRefusal, IsRefusedCleanly) {
  EXPECT_FALSE(readBmp(buildBmp(GetParam().layout)).has_value()) << GetParam().what;
}

const std::vector<Refusal> kRefusals = {
    {"width 0", with(valid24(2, 2), [](BmpLayout& s) { s.width = 0; })},
    {"negative width", with(valid24(2, 2), [](BmpLayout& s) { s.width = -2; })},
    {"height 0", with(valid24(2, 2), [](BmpLayout& s) { s.height = 0; })},
    {"width above 32767", with(valid24(2, 2), [](BmpLayout& s) { s.width = 32768; })},
    {"height above 32767", with(valid24(2, 2), [](BmpLayout& s) { s.height = 32768; })},
    {"top-down height above 32767", with(valid24(2, 2), [](BmpLayout& s) { s.height = -32768; })},
    {"most negative height", with(valid24(2, 2), [](BmpLayout& s) { s.height = INT32_MIN; })},
    {"30000 x 30000 in a few bytes", with(valid24(2, 2), [](BmpLayout& s) { s.width = s.height = 30000; })},
    {"JPEG inside", with(valid24(2, 2), [](BmpLayout& s) { s.compression = 4; })},
    {"PNG inside", with(valid24(2, 2), [](BmpLayout& s) { s.compression = 5; })},
    {"unknown compression", with(valid24(2, 2), [](BmpLayout& s) { s.compression = 11; })},
    {"bit fields at 24 bits", with(valid24(2, 2),
                                   [](BmpLayout& s) {
                                     s.compression = 3;
                                     s.masks = {0xFF0000, 0xFF00, 0xFF};
                                   })},
    {"RLE8 at 4 bits", with(valid24(2, 2),
                            [](BmpLayout& s) {
                              s.compression = 1;
                              s.bitsPerPixel = 4;
                            })},
    {"RLE4 at 8 bits", with(valid24(2, 2),
                            [](BmpLayout& s) {
                              s.compression = 2;
                              s.bitsPerPixel = 8;
                            })},
    {"RLE stored top-down", with(valid24(2, 2),
                                 [](BmpLayout& s) {
                                   s.compression = 1;
                                   s.bitsPerPixel = 8;
                                   s.height = -2;
                                 })},
    {"64 bits per pixel", with(valid24(2, 2),
                               [](BmpLayout& s) {
                                 s.bitsPerPixel = 64;
                                 s.pixels.resize(64);
                               })},
    {"0 bits per pixel", with(valid24(2, 2), [](BmpLayout& s) { s.bitsPerPixel = 0; })},
    {"7 bits per pixel", with(valid24(2, 2), [](BmpLayout& s) { s.bitsPerPixel = 7; })},
    {"mask with a hole", with(valid24(2, 2),
                              [](BmpLayout& s) {
                                s.bitsPerPixel = 16;
                                s.compression = 3;
                                s.masks = {0xF0F0, 0x0F00, 0x000F};
                              })},
    {"mask beyond 16 bits", with(valid24(2, 2),
                                 [](BmpLayout& s) {
                                   s.bitsPerPixel = 16;
                                   s.compression = 3;
                                   s.masks = {0x10000, 0x0F00, 0x000F};
                                 })},
    {"masks cut by the end of the file", with(valid24(1, 1),
                                              [](BmpLayout& s) {
                                                s.bitsPerPixel = 32;
                                                s.compression = 3;
                                                s.pixels.clear();
                                                s.masks = {0xFF0000};
                                              })},
    {"Huffman 1D in an OS/2 header", with(valid24(2, 2),
                                          [](BmpLayout& s) {
                                            s.headerSize = 64;
                                            s.bitsPerPixel = 1;
                                            s.compression = 3;
                                          })},
    {"RLE24 in an OS/2 header", with(valid24(2, 2),
                                     [](BmpLayout& s) {
                                       s.headerSize = 64;
                                       s.compression = 4;
                                     })},
    {"header size 8", with(valid24(2, 2), [](BmpLayout& s) { s.headerSize = 8; })},
    {"header size 200", with(valid24(2, 2), [](BmpLayout& s) { s.headerSize = 200; })},
    {"pixel offset beyond the file", with(valid24(2, 2), [](BmpLayout& s) { s.pixelOffset = 100000; })},
    {"pixel offset inside the header", with(valid24(2, 2), [](BmpLayout& s) { s.pixelOffset = 30; })},
    {"pixel offset inside the masks", with(valid24(1, 1),
                                           [](BmpLayout& s) {
                                             s.bitsPerPixel = 32;
                                             s.compression = 3;
                                             s.masks = {0xFF0000, 0xFF00, 0xFF};
                                             s.pixelOffset = 58;
                                           })},
    {"less than half of the rows", with(valid24(2, 8), [](BmpLayout& s) { s.pixels.resize(8); })},
    {"RLE without data", with(valid24(2, 2),
                              [](BmpLayout& s) {
                                s.compression = 1;
                                s.bitsPerPixel = 8;
                                s.pixels.clear();
                              })},
    {"RLE far too short to paint 5000 x 5000", with(valid24(2, 2),
                                                    [](BmpLayout& s) {
                                                      s.compression = 1;
                                                      s.bitsPerPixel = 8;
                                                      s.width = s.height = 5000;
                                                      s.pixels = {0, 1};
                                                    })},
};

INSTANTIATE_TEST_SUITE_P(Headers, BmpRefusal, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal>& info) {
                           std::string name = info.param.what;
                           for (char& c : name)
                             if (std::isalnum(static_cast<unsigned char>(c)) == 0) c = '_';
                           return name;
                         });

TEST(BmpReader, TheValidFilesBehindTheRefusalsLoad) {
  EXPECT_TRUE(readBmp(buildBmp(valid24(2, 2))).has_value());
  EXPECT_TRUE(readBmp(buildBmp(valid24(2, -2))).has_value());
  EXPECT_TRUE(readBmp(buildBmp(valid24(2, 8))).has_value());
}

TEST(BmpReader, RleMayLeaveAModestPictureAlmostEmpty) {
  BmpLayout layout;
  layout.width = 2000;
  layout.height = 2000;
  layout.bitsPerPixel = 8;
  layout.compression = 1;
  layout.palette = {{1, 2, 3}};
  layout.pixels = {1, 0, 0, 1};  // one pixel, then the end of the bitmap
  const DecodedPicture picture = load(layout);
  ASSERT_NE(picture.raster, nullptr);
  EXPECT_FALSE(picture.partial);
  EXPECT_EQ(pixelAt(*picture.raster, 0, 1999), (std::array<int, 4>{1, 2, 3, 255}));
  EXPECT_EQ(pixelAt(*picture.raster, 1, 1999), (std::array<int, 4>{0, 0, 0, 255}));
}

TEST(BmpReader, BlocksTooShortForTheHeadersAreRefused) {
  const Bytes file = buildBmp(valid24(2, 2));
  for (std::size_t size : {0, 1, 2, 13, 14, 17, 18, 53}) {
    EXPECT_FALSE(readBmp(std::span(file.data(), size)).has_value()) << size;
  }
  Bytes notBm = file;
  notBm[1] = 'A';
  EXPECT_FALSE(readBmp(notBm).has_value());
}

// Every prefix of real files either fails or loads (partly) at the full
// size; nothing is read beyond the prefix (the sanitizer build checks that,
// the prefix living in a block of exactly its own size).
TEST(BmpReader, EveryPrefixOfRealFilesFailsOrLoadsPartly) {
  for (const char* name : {"g/pal1.bmp", "g/pal4rle.bmp", "g/pal8rle.bmp", "g/pal8os2.bmp", "g/rgb16-565.bmp",
                           "g/rgb24.bmp", "q/rgba32-1.bmp", "g/irs_Info_8_Bit_Top_Down.bmp"}) {
    const Bytes file = readFile(dataPath(name));
    ASSERT_FALSE(file.empty()) << name;
    const auto whole = readBmp(file);
    ASSERT_TRUE(whole.has_value()) << name;
    int loaded = 0;
    for (std::size_t size = 0; size < file.size(); ++size) {
      const Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
      const auto picture = readBmp(prefix);
      if (!picture) continue;
      ++loaded;
      ASSERT_NE(picture->raster, nullptr);
      EXPECT_EQ(picture->raster->width, whole->raster->width) << name << " " << size;
      EXPECT_EQ(picture->raster->height, whole->raster->height) << name << " " << size;
    }
    EXPECT_GT(loaded, 0) << name;  // the later prefixes load partly
  }
}

}  // namespace
}  // namespace pixmoor::image
