#include "codecs/icon_reader.h"

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
  return std::string(PIXMOOR_TEST_DATA) + "/ico/" + relative;
}

// Stands in for the program's PNG decoder: libpng's simplified reader, rows
// stored bottom-up as B, G, R, A in a 32-bit raster. Sides are checked before
// anything is allocated.
std::optional<DecodedPicture> decodePngForTest(std::span<const std::uint8_t> data) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&image, data.data(), data.size()) == 0) return std::nullopt;
  if (image.width == 0 || image.height == 0 || image.width > static_cast<png_uint_32>(kMaxSide) ||
      image.height > static_cast<png_uint_32>(kMaxSide)) {
    png_image_free(&image);
    return std::nullopt;
  }
  image.format = PNG_FORMAT_BGRA;
  auto raster = makeRaster(static_cast<int>(image.width), static_cast<int>(image.height), 32);
  if (!raster) {
    png_image_free(&image);
    return std::nullopt;
  }
  // A negative row stride makes libpng store the rows bottom-up in the block.
  if (png_image_finish_read(&image, nullptr, raster->data(), -raster->stride, nullptr) == 0)
    return std::nullopt;
  DecodedPicture picture;
  picture.raster = std::move(raster);
  picture.sourceDepth = 32;
  return picture;
}

// --- building containers ------------------------------------------------------

struct EntryLayout {
  int width;  // directory bytes (256 written as 0)
  int height;
  int bitsPerPixel;  // directory field
  Bytes data;
};

Bytes buildContainer(const std::vector<EntryLayout>& entries, std::uint16_t type = 1) {
  Bytes out;
  put16(out, 0);
  put16(out, type);
  put16(out, static_cast<std::uint32_t>(entries.size()));
  std::size_t offset = 6 + 16 * entries.size();
  for (const EntryLayout& entry : entries) {
    out.push_back(static_cast<std::uint8_t>(entry.width & 0xFF));
    out.push_back(static_cast<std::uint8_t>(entry.height & 0xFF));
    out.push_back(0);
    out.push_back(0);
    put16(out, 1);
    put16(out, static_cast<std::uint32_t>(entry.bitsPerPixel));
    put32(out, static_cast<std::uint32_t>(entry.data.size()));
    put32(out, static_cast<std::uint32_t>(offset));
    offset += entry.data.size();
  }
  for (const EntryLayout& entry : entries) out.insert(out.end(), entry.data.begin(), entry.data.end());
  return out;
}

struct Rgb {
  int r, g, b;
};

// A packed DIB of one colour: a 40-byte header with the doubled height, the
// colour table (index 1 holds the colour), the colour rows, then the mask
// rows, whose bit is set where `masked(x, storageRow)` answers true.
Bytes dibEntry(int width, int height, int bitsPerPixel, Rgb colour, int alpha, bool (*masked)(int, int)) {
  Bytes out;
  put32(out, 40);
  put32(out, static_cast<std::uint32_t>(width));
  put32(out, static_cast<std::uint32_t>(2 * height));
  put16(out, 1);
  put16(out, static_cast<std::uint32_t>(bitsPerPixel));
  for (int i = 0; i < 6; ++i) put32(out, 0);
  if (bitsPerPixel <= 8) {
    for (int i = 0; i < (1 << bitsPerPixel); ++i) {
      const Rgb entry = i == 1 ? colour : Rgb{0, 0, 0};
      out.insert(out.end(), {static_cast<std::uint8_t>(entry.b), static_cast<std::uint8_t>(entry.g),
                             static_cast<std::uint8_t>(entry.r), 0});
    }
  }
  const int stride = ((width * bitsPerPixel + 31) / 32) * 4;
  for (int y = 0; y < height; ++y) {
    Bytes row(static_cast<std::size_t>(stride), 0);
    for (int x = 0; x < width; ++x) {
      switch (bitsPerPixel) {
        case 4:
          row[static_cast<std::size_t>(x / 2)] |= static_cast<std::uint8_t>(x % 2 == 0 ? 0x10 : 0x01);
          break;
        case 8:
          row[static_cast<std::size_t>(x)] = 1;
          break;
        default: {
          const std::size_t at = static_cast<std::size_t>(x * bitsPerPixel / 8);
          row[at] = static_cast<std::uint8_t>(colour.b);
          row[at + 1] = static_cast<std::uint8_t>(colour.g);
          row[at + 2] = static_cast<std::uint8_t>(colour.r);
          if (bitsPerPixel == 32) row[at + 3] = static_cast<std::uint8_t>(alpha);
        }
      }
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  const int maskStride = ((width + 31) / 32) * 4;
  for (int y = 0; y < height; ++y) {
    Bytes row(static_cast<std::size_t>(maskStride), 0);
    for (int x = 0; x < width; ++x)
      if (masked(x, y)) row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

bool noMask(int, int) {
  return false;
}
bool fullMask(int, int) {
  return true;
}
bool checkerMask(int x, int y) {
  return (x + y) % 2 == 0;
}

std::array<int, 4> rgba(Rgb colour, int alpha) {
  return {colour.r, colour.g, colour.b, alpha};
}

const Rgb kRed = {200, 10, 20};
const Rgb kGreen = {30, 210, 40};
const Rgb kBlue = {50, 60, 220};

// A whole picture of one colour and one alpha.
void expectUniform(const DecodedPicture& picture, int width, int height, Rgb colour, int alpha) {
  ASSERT_NE(picture.raster, nullptr);
  ASSERT_EQ(picture.raster->width, width);
  ASSERT_EQ(picture.raster->height, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      ASSERT_EQ(pixelAt(*picture.raster, x, y), rgba(colour, alpha)) << x << "," << y;
}

// --- entry choice ---------------------------------------------------------------

TEST(IconReader, SixteenAtFourAndEightBitsAndThirtyTwoAtThirtyTwoGivesTheSixteenEightBitEntry) {
  const Bytes icon = buildContainer({{16, 16, 4, dibEntry(16, 16, 4, kRed, 0, noMask)},
                                     {16, 16, 8, dibEntry(16, 16, 8, kGreen, 0, noMask)},
                                     {32, 32, 32, dibEntry(32, 32, 32, kBlue, 255, noMask)}});
  const auto picture = readIcon(icon, decodePngForTest);
  ASSERT_TRUE(picture.has_value());
  EXPECT_TRUE(picture->isIcon);
  EXPECT_EQ(picture->raster->depth, 32);
  EXPECT_EQ(picture->sourceDepth, 32);
  EXPECT_FALSE(picture->partial);
  expectUniform(*picture, 16, 16, kGreen, 255);
}

struct ChoiceCase {
  const char* what;
  std::vector<EntryLayout> entries;
  Rgb chosen;
  int size;
};

class IconChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(IconChoice, TakesTheRightEntry) {
  const auto picture = readIcon(buildContainer(GetParam().entries), decodePngForTest);
  ASSERT_TRUE(picture.has_value());
  expectUniform(*picture, GetParam().size, GetParam().size, GetParam().chosen, 255);
}

const std::vector<ChoiceCase> kChoices = {
    {"first of equal depths wins",
     {{16, 16, 8, dibEntry(16, 16, 8, kRed, 0, noMask)}, {16, 16, 8, dibEntry(16, 16, 8, kGreen, 0, noMask)}},
     kRed,
     16},
    {"deeper later entry of the same size wins",
     {{16, 16, 4, dibEntry(16, 16, 4, kRed, 0, noMask)},
      {16, 16, 24, dibEntry(16, 16, 24, kGreen, 0, noMask)}},
     kGreen,
     16},
    {"only strictly deeper than the best so far",
     {{16, 16, 8, dibEntry(16, 16, 8, kRed, 0, noMask)},
      {16, 16, 4, dibEntry(16, 16, 4, kGreen, 0, noMask)},
      {16, 16, 8, dibEntry(16, 16, 8, kBlue, 0, noMask)}},
     kRed,
     16},
    {"the deepest of three",
     {{16, 16, 4, dibEntry(16, 16, 4, kRed, 0, noMask)},
      {16, 16, 8, dibEntry(16, 16, 8, kGreen, 0, noMask)},
      {16, 16, 24, dibEntry(16, 16, 24, kBlue, 0, noMask)}},
     kBlue,
     16},
    {"larger and deeper entries of other sizes are never taken",
     {{32, 32, 4, dibEntry(32, 32, 4, kRed, 0, noMask)},
      {48, 48, 32, dibEntry(48, 48, 32, kGreen, 255, noMask)},
      {16, 16, 32, dibEntry(16, 16, 32, kBlue, 255, noMask)}},
     kRed,
     32},
    {"a width alone is not the same size",
     {{16, 16, 4, dibEntry(16, 16, 4, kRed, 0, noMask)}, {16, 32, 8, dibEntry(16, 32, 8, kGreen, 0, noMask)}},
     kRed,
     16},
};

INSTANTIATE_TEST_SUITE_P(Entries, IconChoice, ::testing::ValuesIn(kChoices),
                         [](const ::testing::TestParamInfo<ChoiceCase>& info) {
                           std::string name = info.param.what;
                           for (char& c : name)
                             if (std::isalnum(static_cast<unsigned char>(c)) == 0) c = '_';
                           return name;
                         });

// --- mask and alpha -------------------------------------------------------------

TEST(IconReader, MaskBitsBecomeAlphaForEntriesWithoutAlpha) {
  for (int bits : {4, 8, 24}) {
    const auto picture = readIcon(buildContainer({{8, 8, bits, dibEntry(8, 8, bits, kRed, 0, checkerMask)}}),
                                  decodePngForTest);
    ASSERT_TRUE(picture.has_value()) << bits;
    const Raster& r = *picture->raster;
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 8; ++x) {
        // Mask rows run bottom-up like the colour rows.
        const int storageRow = 7 - y;
        EXPECT_EQ(pixelAt(r, x, y), rgba(kRed, checkerMask(x, storageRow) ? 0 : 255))
            << bits << " " << x << "," << y;
      }
    }
  }
}

TEST(IconReader, ThirtyTwoBitEntryWithAllAlphaZeroTakesTheMask) {
  const auto picture =
      readIcon(buildContainer({{4, 4, 32, dibEntry(4, 4, 32, kGreen, 0, checkerMask)}}), decodePngForTest);
  ASSERT_TRUE(picture.has_value());
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(pixelAt(*picture->raster, x, y), rgba(kGreen, checkerMask(x, 3 - y) ? 0 : 255))
          << x << "," << y;
}

TEST(IconReader, ThirtyTwoBitEntryWithAlphaIgnoresTheMask) {
  const auto picture =
      readIcon(buildContainer({{4, 4, 32, dibEntry(4, 4, 32, kBlue, 200, fullMask)}}), decodePngForTest);
  ASSERT_TRUE(picture.has_value());
  expectUniform(*picture, 4, 4, kBlue, 200);
}

TEST(IconReader, MissingMaskRowsStayOpaqueAndMarkThePicturePartial) {
  Bytes entry = dibEntry(8, 8, 24, kRed, 0, fullMask);
  entry.resize(entry.size() - 4 * 4);  // the top four mask rows are cut off
  const auto picture = readIcon(buildContainer({{8, 8, 24, entry}}), decodePngForTest);
  ASSERT_TRUE(picture.has_value());
  EXPECT_TRUE(picture->partial);
  EXPECT_EQ(pixelAt(*picture->raster, 0, 0), rgba(kRed, 255));
  EXPECT_EQ(pixelAt(*picture->raster, 0, 7), rgba(kRed, 0));
}

// --- PNG entries ----------------------------------------------------------------

Bytes encodePng(int width, int height, bool withAlpha, Rgb colour, int alpha) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = withAlpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  const int channels = withAlpha ? 4 : 3;
  Bytes pixels;
  for (int i = 0; i < width * height; ++i) {
    pixels.insert(pixels.end(), {static_cast<std::uint8_t>(colour.r), static_cast<std::uint8_t>(colour.g),
                                 static_cast<std::uint8_t>(colour.b)});
    if (withAlpha) pixels.push_back(static_cast<std::uint8_t>(alpha));
  }
  png_alloc_size_t size = 0;
  if (png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), width * channels, nullptr) == 0)
    return {};
  Bytes out(size);
  if (png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), width * channels, nullptr) == 0)
    return {};
  out.resize(size);
  return out;
}

TEST(IconReader, PngEntryWithoutAlphaBecomesAnOpaque32BitIcon) {
  const Bytes png = encodePng(3, 2, false, kGreen, 255);
  ASSERT_FALSE(png.empty());
  const auto picture = readIcon(buildContainer({{3, 2, 24, png}}), decodePngForTest);
  ASSERT_TRUE(picture.has_value());
  EXPECT_TRUE(picture->isIcon);
  EXPECT_EQ(picture->sourceDepth, 32);
  EXPECT_EQ(picture->raster->depth, 32);
  expectUniform(*picture, 3, 2, kGreen, 255);
}

TEST(IconReader, PngEntryKeepsItsAlpha) {
  const Bytes png = encodePng(2, 2, true, kBlue, 77);
  const auto picture = readIcon(buildContainer({{2, 2, 32, png}}), decodePngForTest);
  ASSERT_TRUE(picture.has_value());
  expectUniform(*picture, 2, 2, kBlue, 77);
}

TEST(IconReader, PngEntryIsHandedToTheGivenDecoderOnly) {
  const Bytes png = encodePng(2, 2, true, kBlue, 77);
  const Bytes icon = buildContainer({{2, 2, 32, png}});
  EXPECT_FALSE(readIcon(icon, PngEntryDecoder{}).has_value());
  std::size_t seen = 0;
  const auto refusing = [&seen](std::span<const std::uint8_t> data) -> std::optional<DecodedPicture> {
    seen = data.size();
    return std::nullopt;
  };
  EXPECT_FALSE(readIcon(icon, refusing).has_value());
  EXPECT_EQ(seen, png.size());
}

// --- refusals ---------------------------------------------------------------------

TEST(IconReader, CursorsAndBrokenContainersAreRefused) {
  const Bytes entry = dibEntry(4, 4, 8, kRed, 0, noMask);
  EXPECT_FALSE(readIcon(buildContainer({{4, 4, 8, entry}}, 2), decodePngForTest).has_value()) << "cursor";
  Bytes reserved = buildContainer({{4, 4, 8, entry}});
  reserved[0] = 1;
  EXPECT_FALSE(readIcon(reserved, decodePngForTest).has_value()) << "reserved word";
  EXPECT_FALSE(readIcon(buildContainer({}), decodePngForTest).has_value()) << "no entry";
  const Bytes whole = buildContainer({{4, 4, 8, entry}, {4, 4, 4, dibEntry(4, 4, 4, kRed, 0, noMask)}});
  EXPECT_FALSE(readIcon(std::span(whole.data(), 6 + 16 + 8), decodePngForTest).has_value())
      << "directory cut";
  Bytes farOffset = buildContainer({{4, 4, 8, entry}});
  farOffset[18] = 0xFF;  // entry offset far beyond the block
  farOffset[19] = 0x7F;
  EXPECT_FALSE(readIcon(farOffset, decodePngForTest).has_value()) << "offset";
  EXPECT_TRUE(readIcon(buildContainer({{4, 4, 8, entry}}), decodePngForTest).has_value()) << "the valid one";
}

TEST(IconReader, EntriesAnIconCannotHoldAreRefused) {
  Bytes topDown = dibEntry(4, 4, 8, kRed, 0, noMask);
  const std::uint32_t minusEight = static_cast<std::uint32_t>(-8);
  for (int i = 0; i < 4; ++i)
    topDown[8 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(minusEight >> (8 * i));
  EXPECT_FALSE(readIcon(buildContainer({{4, 4, 8, topDown}}), decodePngForTest).has_value()) << "top-down";
  Bytes rle = dibEntry(4, 4, 8, kRed, 0, noMask);
  rle[16] = 1;  // RLE8
  EXPECT_FALSE(readIcon(buildContainer({{4, 4, 8, rle}}), decodePngForTest).has_value()) << "RLE";
  Bytes huge = dibEntry(4, 4, 8, kRed, 0, noMask);
  huge[5] = 0x7F;  // width 32516 and more, in a few hundred bytes
  EXPECT_FALSE(readIcon(buildContainer({{4, 4, 8, huge}}), decodePngForTest).has_value()) << "huge";
}

TEST(IconReader, SizeFieldRunningPastTheBlockIsCutAtItsEnd) {
  Bytes icon = buildContainer({{4, 4, 8, dibEntry(4, 4, 8, kRed, 0, noMask)}});
  icon[14] = 0xFF;  // entry size 0xFFxxxxxx
  icon[17] = 0xFF;
  const auto picture = readIcon(icon, decodePngForTest);
  ASSERT_TRUE(picture.has_value());
  expectUniform(*picture, 4, 4, kRed, 255);
}

// --- conformance corpus ---------------------------------------------------------

enum class Expect {
  match,   // loads and equals the reference rendering of its entry
  loads,   // loads at the given size, as the given entry alone would
  reject,  // refused
  either,  // loads or is refused, without harm
};

struct CorpusIcon {
  const char* path;
  Expect expect;
  int width = 0;
  int height = 0;
  int entry = 0;  // kLoads: the directory entry that must be chosen
};

// The container reduced to one of its entries.
Bytes singleEntry(const Bytes& icon, int index) {
  const std::size_t at = 6 + 16 * static_cast<std::size_t>(index);
  const std::uint32_t size = icon[at + 8] | (icon[at + 9] << 8) | (icon[at + 10] << 16) |
                             (static_cast<std::uint32_t>(icon[at + 11]) << 24);
  const std::uint32_t offset = icon[at + 12] | (icon[at + 13] << 8) | (icon[at + 14] << 16) |
                               (static_cast<std::uint32_t>(icon[at + 15]) << 24);
  Bytes out = {0, 0, 1, 0, 1, 0};
  out.insert(out.end(), icon.begin() + static_cast<std::ptrdiff_t>(at),
             icon.begin() + static_cast<std::ptrdiff_t>(at + 12));
  put32(out, 22);
  out.insert(out.end(), icon.begin() + offset, icon.begin() + offset + size);
  return out;
}

class IconCorpus : public ::testing::TestWithParam<CorpusIcon> {};

TEST_P(IconCorpus, LoadsAsExpected) {
  const CorpusIcon& file = GetParam();
  const Bytes bytes = readFile(dataPath(file.path));
  ASSERT_FALSE(bytes.empty());
  const auto picture = readIcon(bytes, decodePngForTest);
  if (file.expect == Expect::reject) {
    EXPECT_FALSE(picture.has_value());
    return;
  }
  if (file.expect == Expect::either && !picture) return;
  ASSERT_TRUE(picture.has_value());
  ASSERT_NE(picture->raster, nullptr);
  const Raster& raster = *picture->raster;
  EXPECT_EQ(raster.depth, 32);
  EXPECT_EQ(picture->sourceDepth, 32);
  EXPECT_TRUE(picture->isIcon);
  if (file.expect == Expect::either) return;

  EXPECT_EQ(raster.width, file.width);
  EXPECT_EQ(raster.height, file.height);
  EXPECT_FALSE(picture->partial);
  if (file.expect == Expect::match) {
    std::string name = file.path;
    name = "reference/imagers/" + name.substr(name.find('/') + 1) + ".png";
    const auto reference = readReference(dataPath(name));
    ASSERT_TRUE(reference.has_value()) << name;
    ASSERT_EQ(reference->width, raster.width);
    ASSERT_EQ(reference->height, raster.height);
    std::string first;
    EXPECT_EQ(countMismatches(raster, *reference, 0, &first), 0) << first;
    return;
  }
  const auto alone = readIcon(singleEntry(bytes, file.entry), decodePngForTest);
  ASSERT_TRUE(alone.has_value());
  ASSERT_EQ(alone->raster->sizeBytes(), raster.sizeBytes());
  EXPECT_EQ(std::memcmp(alone->raster->data(), raster.data(), raster.sizeBytes()), 0);
}

const std::vector<CorpusIcon> kIcons = {
    {"good/idle_idle.ico", Expect::loads, 16, 16, 0},
    {"good/irs_bmp-24bpp-mask.ico", Expect::match, 32, 32},
    {"good/irs_bmp-32bpp-alpha.ico", Expect::match, 32, 32},
    {"good/irs_bmp_v5_with_icc.ico", Expect::loads, 127, 64, 0},
    {"good/irs_multiple_entries_with_different_bit_depth.ico", Expect::loads, 32, 32, 6},
    {"good/irs_png-32bpp-alpha.ico", Expect::match, 32, 32},
    {"good/irs_png_rgb8.ico", Expect::match, 32, 32},
    {"good/irs_smile.ico", Expect::match, 32, 32},
    {"good/nsis_arrow-install.ico", Expect::loads, 16, 16, 1},
    {"good/nsis_classic-install.ico", Expect::loads, 16, 16, 0},
    {"good/nsis_llama-blue.ico", Expect::loads, 32, 32, 0},
    {"good/nsis_modern-install-full.ico", Expect::loads, 16, 16, 5},
    {"good/nsis_modern-install.ico", Expect::loads, 16, 16, 5},
    {"good/nsis_modern-uninstall-colorful.ico", Expect::loads, 16, 16, 5},
    {"good/nsis_nsis-menu.ico", Expect::loads, 16, 16, 3},
    {"good/nsis_nsis3-install-alt.ico", Expect::loads, 32, 32, 4},
    {"good/nsis_nsis3-install.ico", Expect::loads, 32, 32, 4},
    {"good/nsis_orange-install.ico", Expect::loads, 16, 16, 6},
    {"good/nsis_pixel-install.ico", Expect::loads, 16, 16, 0},
    {"good/nsis_win-install.ico", Expect::loads, 16, 16, 0},
    {"good/pil_hopper.ico", Expect::loads, 16, 16, 0},
    {"good/pil_hopper_256x256.ico", Expect::loads, 256, 256, 0},
    {"good/pil_hopper_mask.ico", Expect::loads, 16, 16, 0},
    {"good/pil_pillow.ico", Expect::loads, 256, 256, 0},
    {"good/pil_python.ico", Expect::loads, 16, 16, 0},
    // The entry's own header gives no size: nothing to build.
    {"questionable/irs_bmp-32bpp-biWidth=biHeight=0.ico", Expect::reject},
    {"questionable/irs_bmp-32bpp-conflicting-and-mask.ico", Expect::match, 16, 16},
    {"questionable/irs_bmp_0rgb_with_and_mask.ico", Expect::match, 16, 16},
    {"questionable/irs_lenient-bpp.ico", Expect::match, 256, 256},
    {"questionable/irs_truncated_mask_32bpp.ico", Expect::either},
    {"questionable/pil_deerstalker.cur", Expect::reject},
    {"questionable/pil_mask_1.cur", Expect::reject},
    {"bad/irs_Bad_smile-incorrect-image-length.ico", Expect::either},
    {"bad/irs_crash-981fee302fe0fc543ee48292cc3d6ace7e97e633.ico", Expect::either},
    {"bad/irs_oom-0d0085eb7f66ea55d9119206235cd29e089b9140.ico", Expect::either},
    {"bad/pil_decompression_bomb.ico", Expect::reject},
    {"bad/trunc_nsis_modern-install_in-directory.ico", Expect::reject},
    {"bad/trunc_nsis_orange-install_in-last-dib.ico", Expect::either},
    {"bad/trunc_nsis_pixel-install_in-first-dib-header.ico", Expect::reject},
};

INSTANTIATE_TEST_SUITE_P(Files, IconCorpus, ::testing::ValuesIn(kIcons),
                         [](const ::testing::TestParamInfo<CorpusIcon>& info) {
                           std::string name = info.param.path;
                           for (char& c : name)
                             if (std::isalnum(static_cast<unsigned char>(c)) == 0) c = '_';
                           return name;
                         });

// Every prefix of real containers fails or loads at the chosen entry's size;
// nothing is read beyond the prefix (checked by the sanitizer build).
TEST(IconReader, EveryPrefixOfRealContainersFailsOrLoadsPartly) {
  for (const char* name :
       {"good/irs_smile.ico", "good/nsis_modern-install.ico", "good/irs_png-32bpp-alpha.ico",
        "good/pil_hopper_mask.ico", "good/nsis_llama-blue.ico"}) {
    const Bytes file = readFile(dataPath(name));
    ASSERT_FALSE(file.empty()) << name;
    const auto whole = readIcon(file, decodePngForTest);
    ASSERT_TRUE(whole.has_value()) << name;
    int loaded = 0;
    for (std::size_t size = 0; size < file.size(); ++size) {
      const Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
      const auto picture = readIcon(prefix, decodePngForTest);
      if (!picture) continue;
      ++loaded;
      EXPECT_EQ(picture->raster->width, whole->raster->width) << name << " " << size;
      EXPECT_EQ(picture->raster->height, whole->raster->height) << name << " " << size;
    }
    EXPECT_GT(loaded, 0) << name;  // the later prefixes load partly
  }
}

}  // namespace
}  // namespace pixmoor::image
