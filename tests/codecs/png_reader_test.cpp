// The PNG reader: every colour type and bit depth, with and without a
// transparency chunk, plain and interlaced, against the samples written;
// short, damaged and oversized files.
#include "codecs/png_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/format_registry.h"
#include "decode_test_support.h"
#include "image_store/image_store.h"

namespace pixmoor::image {
namespace {

using decodetest::Bytes;
using decodetest::makePng;
using decodetest::pixelAt;
using decodetest::PngRecipe;
using decodetest::Stored;
using decodetest::storedPositionFor;

// Deterministic pseudo-random samples.
class Samples {
 public:
  explicit Samples(std::uint32_t seed) : state_(seed) {}
  unsigned next(unsigned limit) {
    state_ = state_ * 1664525u + 1013904223u;
    return (state_ >> 8) % limit;
  }

 private:
  std::uint32_t state_;
};

int channelsOf(int colourType) {
  switch (colourType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
      return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      return 2;
    case PNG_COLOR_TYPE_RGB:
      return 3;
    default:
      return 4;
  }
}

// The picture as plain numbers: samples[y][x * channels + c], each below 2^depth.
struct Picture {
  int width;
  int height;
  int channels;
  std::vector<std::vector<unsigned>> samples;
};

Picture randomPicture(int width, int height, int colourType, int bitDepth, unsigned paletteSize,
                      std::uint32_t seed) {
  Samples random(seed);
  Picture picture{width, height, channelsOf(colourType), {}};
  const unsigned limit = colourType == PNG_COLOR_TYPE_PALETTE ? paletteSize : 1u << bitDepth;
  for (int y = 0; y < height; ++y) {
    std::vector<unsigned> row;
    for (int i = 0; i < width * picture.channels; ++i) row.push_back(random.next(limit));
    picture.samples.push_back(row);
  }
  return picture;
}

// Rows packed as a PNG stores them: small samples from the high bit down,
// 16-bit samples big-endian.
std::vector<Bytes> packRows(const Picture& picture, int bitDepth) {
  std::vector<Bytes> rows;
  for (const auto& samples : picture.samples) {
    Bytes row;
    if (bitDepth == 16) {
      for (unsigned s : samples) {
        row.push_back(static_cast<std::uint8_t>(s >> 8));
        row.push_back(static_cast<std::uint8_t>(s));
      }
    } else if (bitDepth == 8) {
      for (unsigned s : samples) row.push_back(static_cast<std::uint8_t>(s));
    } else {
      unsigned accumulator = 0;
      int used = 0;
      for (unsigned s : samples) {
        accumulator = accumulator << bitDepth | s;
        used += bitDepth;
        if (used == 8) {
          row.push_back(static_cast<std::uint8_t>(accumulator));
          accumulator = 0;
          used = 0;
        }
      }
      if (used > 0) row.push_back(static_cast<std::uint8_t>(accumulator << (8 - used)));
    }
    rows.push_back(row);
  }
  return rows;
}

struct PngCase {
  const char* name;
  int colourType;
  int bitDepth;
  bool transparency;
  int depth;        // raster depth expected
  int sourceDepth;  // as the table of colour types gives it
};

struct Made {
  PngRecipe recipe;
  Picture picture;
};

Made makeCase(const PngCase& c, bool interlaced, std::uint32_t seed, int width = 13, int height = 11) {
  Made made;
  PngRecipe& recipe = made.recipe;
  recipe.width = width;
  recipe.height = height;
  recipe.colourType = c.colourType;
  recipe.bitDepth = c.bitDepth;
  recipe.interlaced = interlaced;
  unsigned paletteSize = 0;
  if (c.colourType == PNG_COLOR_TYPE_PALETTE) {
    paletteSize = std::min(1u << c.bitDepth, 200u);
    Samples random(seed + 7);
    for (unsigned i = 0; i < paletteSize; ++i) {
      recipe.palette.push_back(png_color{static_cast<png_byte>(random.next(256)),
                                         static_cast<png_byte>(random.next(256)),
                                         static_cast<png_byte>(random.next(256))});
    }
    if (c.transparency) {
      // Fewer entries than the palette: the rest are opaque.
      for (unsigned i = 0; i < (paletteSize + 1) / 2; ++i)
        recipe.paletteAlpha.push_back(static_cast<std::uint8_t>(random.next(256)));
    }
  }
  made.picture = randomPicture(recipe.width, recipe.height, c.colourType, c.bitDepth, paletteSize, seed);
  if (c.transparency && c.colourType != PNG_COLOR_TYPE_PALETTE) {
    // The key is a colour the picture really uses, so some pixels turn transparent.
    recipe.greyOrColourKey = true;
    const auto& first = made.picture.samples[3];
    if (c.colourType == PNG_COLOR_TYPE_GRAY) {
      recipe.key.gray = static_cast<png_uint_16>(first[2]);
    } else {
      recipe.key.red = static_cast<png_uint_16>(first[6]);
      recipe.key.green = static_cast<png_uint_16>(first[7]);
      recipe.key.blue = static_cast<png_uint_16>(first[8]);
    }
  }
  recipe.rows = packRows(made.picture, c.bitDepth);
  return made;
}

// The 8-bit value of a sample: small grey samples widen to the full range,
// 16-bit samples keep their high byte.
unsigned widen(unsigned sample, int bitDepth) {
  if (bitDepth == 16) return sample >> 8;
  return sample * 255 / ((1u << bitDepth) - 1);
}

std::array<unsigned, 4> expectedBgra(const Made& made, int x, int y) {
  const PngRecipe& recipe = made.recipe;
  const int channels = made.picture.channels;
  const auto* s = &made.picture.samples[y][static_cast<std::size_t>(x) * channels];
  const int bits = recipe.bitDepth;
  switch (recipe.colourType) {
    case PNG_COLOR_TYPE_GRAY: {
      const unsigned g = widen(s[0], bits);
      const unsigned a = recipe.greyOrColourKey && s[0] == recipe.key.gray ? 0 : 255;
      return {g, g, g, a};
    }
    case PNG_COLOR_TYPE_RGB: {
      const bool keyed = recipe.greyOrColourKey && s[0] == recipe.key.red && s[1] == recipe.key.green &&
                         s[2] == recipe.key.blue;
      return {widen(s[2], bits), widen(s[1], bits), widen(s[0], bits), keyed ? 0u : 255u};
    }
    case PNG_COLOR_TYPE_PALETTE: {
      const png_color& entry = recipe.palette[s[0]];
      const unsigned a = s[0] < recipe.paletteAlpha.size() ? recipe.paletteAlpha[s[0]] : 255;
      return {entry.blue, entry.green, entry.red, a};
    }
    case PNG_COLOR_TYPE_GRAY_ALPHA: {
      const unsigned g = widen(s[0], bits);
      return {g, g, g, widen(s[1], bits)};
    }
    default:
      return {widen(s[2], bits), widen(s[1], bits), widen(s[0], bits), widen(s[3], bits)};
  }
}

const PngCase kCases[] = {
    {"Grey1", PNG_COLOR_TYPE_GRAY, 1, false, 24, 1},
    {"Grey2", PNG_COLOR_TYPE_GRAY, 2, false, 24, 2},
    {"Grey4", PNG_COLOR_TYPE_GRAY, 4, false, 24, 4},
    {"Grey8", PNG_COLOR_TYPE_GRAY, 8, false, 24, 8},
    {"Grey16", PNG_COLOR_TYPE_GRAY, 16, false, 24, 16},
    {"Grey1Key", PNG_COLOR_TYPE_GRAY, 1, true, 32, 8},
    {"Grey4Key", PNG_COLOR_TYPE_GRAY, 4, true, 32, 8},
    {"Grey8Key", PNG_COLOR_TYPE_GRAY, 8, true, 32, 8},
    {"Grey16Key", PNG_COLOR_TYPE_GRAY, 16, true, 32, 16},
    {"Rgb8", PNG_COLOR_TYPE_RGB, 8, false, 24, 24},
    {"Rgb16", PNG_COLOR_TYPE_RGB, 16, false, 24, 24},
    {"Rgb8Key", PNG_COLOR_TYPE_RGB, 8, true, 32, 32},
    {"Rgb16Key", PNG_COLOR_TYPE_RGB, 16, true, 32, 32},
    {"Palette1", PNG_COLOR_TYPE_PALETTE, 1, false, 24, 1},
    {"Palette2", PNG_COLOR_TYPE_PALETTE, 2, false, 24, 2},
    {"Palette4", PNG_COLOR_TYPE_PALETTE, 4, false, 24, 4},
    {"Palette8", PNG_COLOR_TYPE_PALETTE, 8, false, 24, 8},
    {"Palette1Alpha", PNG_COLOR_TYPE_PALETTE, 1, true, 32, 32},
    {"Palette8Alpha", PNG_COLOR_TYPE_PALETTE, 8, true, 32, 32},
    {"GreyAlpha8", PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, 32, 8},
    {"GreyAlpha16", PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, 32, 16},
    {"Rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8, false, 32, 32},
    {"Rgba16", PNG_COLOR_TYPE_RGB_ALPHA, 16, false, 32, 32},
};

class PngColourTypeTest : public ::testing::TestWithParam<std::tuple<PngCase, bool>> {
 protected:
  static void SetUpTestSuite() {
    registerJpegDecoder();
    registerPngDecoder();
  }
};

TEST_P(PngColourTypeTest, LoadsTheSamplesAsWritten) {
  const auto& [c, interlaced] = GetParam();
  const Made made =
      makeCase(c, interlaced, 12345u + static_cast<std::uint32_t>(c.bitDepth * 31 + c.colourType));
  const Bytes file = makePng(made.recipe);
  ASSERT_FALSE(file.empty());
  ImageStore store;
  ASSERT_NE(store.loadFromMemory(55, file), 0u);
  const ImageRecord* record = store.record(55);
  ASSERT_EQ(record->width, 13);
  ASSERT_EQ(record->height, 11);
  EXPECT_EQ(record->depth, c.depth);
  EXPECT_EQ(record->sourceDepth, c.sourceDepth);
  int transparent = 0;
  for (int y = 0; y < 11; ++y) {
    for (int x = 0; x < 13; ++x) {
      const auto want = expectedBgra(made, x, y);
      const std::uint8_t* got = pixelAt(*record->raster, x, y);
      ASSERT_EQ(got[0], want[0]) << x << "," << y;
      ASSERT_EQ(got[1], want[1]) << x << "," << y;
      ASSERT_EQ(got[2], want[2]) << x << "," << y;
      if (c.depth == 32) {
        ASSERT_EQ(got[3], want[3]) << x << "," << y;
        transparent += want[3] == 0;
      }
    }
  }
  if (c.transparency && c.colourType != PNG_COLOR_TYPE_PALETTE) {
    EXPECT_GT(transparent, 0);
  }
  // Row padding stays zero.
  const int used = 13 * c.depth / 8;
  for (int y = 0; y < 11; ++y) {
    for (int i = used; i < record->raster->stride; ++i) ASSERT_EQ(record->raster->storageRow(y)[i], 0);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryType, PngColourTypeTest,
                         ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "Interlaced" : "");
                         });

class PngReaderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    registerJpegDecoder();
    registerPngDecoder();
  }
  ImageStore store;
};

Made rgbaPicture(int width, int height) {
  return makeCase(PngCase{"Rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8, false, 32, 32}, false, 99u + width, width,
                  height);
}

std::size_t findChunk(const Bytes& file, const char* type) {
  for (std::size_t i = 8; i + 4 <= file.size(); ++i) {
    if (std::memcmp(&file[i], type, 4) == 0) return i - 4;  // start of the length field
  }
  return 0;
}

TEST_F(PngReaderTest, FileCutInsideThePictureKeepsTheRowsRead) {
  // libpng takes picture data in pieces of 8 KiB: the cut must leave some.
  const Made made = rgbaPicture(128, 128);
  const Bytes file = makePng(made.recipe);
  const std::size_t idat = findChunk(file, "IDAT");
  ASSERT_GT(idat, 0u);
  ASSERT_GT(file.size() - idat, 40000u);
  const Bytes cut(file.begin(),
                  file.begin() + static_cast<std::ptrdiff_t>(idat + 8 + (file.size() - idat) / 2));
  auto picture = decodePng(cut);
  ASSERT_TRUE(picture.has_value());
  EXPECT_TRUE(picture->partial);
  EXPECT_EQ(picture->raster->width, 128);
  EXPECT_EQ(picture->raster->height, 128);
  // The top rows arrived; the bottom row never did and stays transparent black.
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 128; ++x) {
      const auto want = expectedBgra(made, x, y);
      const std::uint8_t* got = pixelAt(*picture->raster, x, y);
      for (int c = 0; c < 4; ++c) ASSERT_EQ(got[c], want[c]) << x << "," << y;
    }
  }
  for (int i = 0; i < 128 * 4; ++i) ASSERT_EQ(picture->raster->pictureRow(127)[i], 0);
  ASSERT_NE(store.loadFromMemory(55, cut), 0u);
  EXPECT_EQ(store.imageWidth(55), 128);
}

TEST_F(PngReaderTest, FileWithoutItsEndChunkLoadsWhole) {
  const Made made = rgbaPicture(9, 9);
  const Bytes file = makePng(made.recipe);
  const std::size_t iend = findChunk(file, "IEND");
  ASSERT_GT(iend, 0u);
  const Bytes noEnd(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(iend));
  ASSERT_NE(store.loadFromMemory(55, noEnd), 0u);
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 9; ++x) ASSERT_EQ(pixelAt(*store.raster(55), x, y)[2], expectedBgra(made, x, y)[2]);
  }
}

TEST_F(PngReaderTest, DamagedPictureChunkIsRefused) {
  const Made made = rgbaPicture(9, 9);
  Bytes file = makePng(made.recipe);
  const std::size_t idat = findChunk(file, "IDAT");
  const std::uint32_t length = static_cast<std::uint32_t>(file[idat]) << 24 | file[idat + 1] << 16 |
                               file[idat + 2] << 8 | file[idat + 3];
  file[idat + 8 + length] ^= 0x01;  // first CRC byte
  ASSERT_NE(store.create(55, 2, 2, 24), 0u);
  EXPECT_EQ(store.loadFromMemory(55, file), 0u);
  EXPECT_EQ(store.imageWidth(55), 0);
  // So is a file whose end chunk is damaged, though every row came before it.
  Bytes badEnd = makePng(made.recipe);
  badEnd[findChunk(badEnd, "IEND") + 8] ^= 0x01;
  EXPECT_EQ(store.loadFromMemory(55, badEnd), 0u);
}

TEST_F(PngReaderTest, DamagedAncillaryChunkIsIgnored) {
  const Made made = rgbaPicture(9, 9);
  const Bytes file = makePng(made.recipe);
  // A text chunk with a wrong CRC, placed after the header.
  const Bytes text = {0, 0, 0, 3, 't', 'E', 'X', 't', 'a', 0, 'b', 1, 2, 3, 4};
  Bytes damaged(file.begin(), file.begin() + 33);
  damaged.insert(damaged.end(), text.begin(), text.end());
  damaged.insert(damaged.end(), file.begin() + 33, file.end());
  ASSERT_NE(store.loadFromMemory(55, damaged), 0u);
  EXPECT_EQ(pixelAt(*store.raster(55), 4, 4)[1], expectedBgra(made, 4, 4)[1]);
}

Bytes withHeaderSize(Bytes file, std::uint32_t width, std::uint32_t height) {
  for (int i = 0; i < 4; ++i) {
    file[16 + i] = static_cast<std::uint8_t>(width >> (24 - 8 * i));
    file[20 + i] = static_cast<std::uint8_t>(height >> (24 - 8 * i));
  }
  const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, &file[12], 17));
  for (int i = 0; i < 4; ++i) file[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  return file;
}

TEST_F(PngReaderTest, SidesAbove32767AreRefused) {
  const Bytes file = makePng(rgbaPicture(9, 9).recipe);
  LoadStatus status = LoadStatus::loaded;
  status = store.loadData(55, withHeaderSize(file, 40000, 9)).status;
  EXPECT_EQ(status, LoadStatus::unsupported);
  status = store.loadData(55, withHeaderSize(file, 9, 32768)).status;
  EXPECT_EQ(status, LoadStatus::unsupported);
  // A declared 32767 x 32767 picture with nine rows of data: the raster is
  // made lazily and only the rows present are written.
  status = store.loadData(55, withHeaderSize(file, 9, 32767)).status;
  EXPECT_EQ(status, LoadStatus::loaded);
  EXPECT_EQ(store.imageHeight(55), 32767);
}

TEST_F(PngReaderTest, PixelLimitRefusesLargerPictures) {
  const Bytes file = makePng(rgbaPicture(9, 9).recipe);
  setDecodePixelLimit(80);
  LoadStatus status = LoadStatus::loaded;
  status = store.loadData(55, file).status;
  EXPECT_EQ(status, LoadStatus::unsupported);
  setDecodePixelLimit(0);
  EXPECT_NE(store.loadFromMemory(55, file), 0u);
}

TEST_F(PngReaderTest, EveryPrefixFailsOrLoadsPartly) {
  const Made made = makeCase(PngCase{"Palette4", PNG_COLOR_TYPE_PALETTE, 4, true, 32, 32}, true, 5u);
  const Bytes file = makePng(made.recipe);
  const std::size_t idat = findChunk(file, "IDAT");
  const std::size_t idatEnd = idat + 12 + (static_cast<std::size_t>(file[idat + 2]) << 8 | file[idat + 3]);
  ASSERT_EQ(findChunk(Bytes(file.begin() + static_cast<std::ptrdiff_t>(idatEnd), file.end()), "IDAT"), 0u);
  std::size_t loaded = 0;
  for (std::size_t n = 0; n < file.size(); ++n) {
    auto picture = decodePng(std::span(file.data(), n));
    if (!picture) continue;
    ++loaded;
    EXPECT_EQ(picture->raster->width, 13);
    // Every row needs the whole picture chunk; the end chunk is not needed.
    if (n < idatEnd) {
      EXPECT_TRUE(picture->partial) << n;
    }
  }
  EXPECT_GT(loaded, 0u);
}

// ---- orientation ----

// The TIFF block of an eXIf chunk: an EXIF block without its "Exif" mark.
Bytes exifChunkWithOrientation(int orientation, bool bigEndian) {
  const Bytes block = decodetest::exifWithOrientation(orientation, bigEndian, 1);
  return Bytes(block.begin() + 6, block.end());
}

struct PngTurn {
  int orientation;
  bool alpha;
  bool interlaced;
};

class PngOrientationTest : public PngReaderTest, public ::testing::WithParamInterface<PngTurn> {};

// An eXIf chunk turns the picture as a JPEG's EXIF block does: every pixel
// lands where the tag says, alpha included, interlaced or not.
TEST_P(PngOrientationTest, PixelsLandWhereTheTagSays) {
  const PngTurn& turn = GetParam();
  const PngCase rgb{"Rgb8", PNG_COLOR_TYPE_RGB, 8, false, 24, 24};
  const PngCase rgba{"Rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8, false, 32, 32};
  Made made = makeCase(turn.alpha ? rgba : rgb, turn.interlaced, 77u, 19, 7);
  auto plain = decodePng(makePng(made.recipe));
  made.recipe.exif = exifChunkWithOrientation(turn.orientation, turn.orientation % 2 == 1);
  auto turned = decodePng(makePng(made.recipe));
  ASSERT_TRUE(plain && turned);
  EXPECT_FALSE(turned->partial);
  const bool swaps = turn.orientation >= 5;
  const int width = swaps ? 7 : 19;
  const int height = swaps ? 19 : 7;
  ASSERT_EQ(turned->raster->width, width);
  ASSERT_EQ(turned->raster->height, height);
  EXPECT_EQ(turned->source.width, width);
  EXPECT_EQ(turned->raster->depth, turn.alpha ? 32 : 24);
  const int bytes = turned->raster->bytesPerPixel();
  for (int uy = 0; uy < height; ++uy) {
    for (int ux = 0; ux < width; ++ux) {
      const Stored from = storedPositionFor(turn.orientation, ux, uy, 19, 7);
      ASSERT_EQ(0, std::memcmp(pixelAt(*plain->raster, from.x, from.y), pixelAt(*turned->raster, ux, uy),
                               static_cast<std::size_t>(bytes)))
          << ux << "," << uy;
    }
  }
}

std::vector<PngTurn> everyTurn() {
  std::vector<PngTurn> turns;
  for (int orientation = 1; orientation <= 8; ++orientation) {
    for (const bool alpha : {false, true}) {
      for (const bool interlaced : {false, true}) turns.push_back({orientation, alpha, interlaced});
    }
  }
  return turns;
}

INSTANTIATE_TEST_SUITE_P(AllEight, PngOrientationTest, ::testing::ValuesIn(everyTurn()),
                         [](const auto& info) {
                           return "Orientation" + std::to_string(info.param.orientation) +
                                  (info.param.alpha ? "Alpha" : "") +
                                  (info.param.interlaced ? "Interlaced" : "");
                         });

// The window loads through the same reader: a phone's portrait PNG stands
// upright there too. A tag after the picture data, once the rows are read,
// is left alone.
TEST_F(PngReaderTest, PortraitPictureStandsUprightInTheStore) {
  Made made = rgbaPicture(30, 20);
  made.recipe.exif = exifChunkWithOrientation(6, true);
  const Bytes file = makePng(made.recipe);
  ASSERT_NE(store.loadFromMemory(55, file), 0u);
  EXPECT_EQ(store.imageWidth(55), 20);
  EXPECT_EQ(store.imageHeight(55), 30);
  // The stored top-left pixel belongs at the top right.
  const auto topLeft = expectedBgra(made, 0, 0);
  const std::uint8_t* topRight = pixelAt(*store.raster(55), 19, 0);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(topRight[c], topLeft[c]) << c;

  const std::size_t exif = findChunk(file, "eXIf");
  const std::size_t exifEnd = findChunk(file, "IDAT");
  const std::size_t iend = findChunk(file, "IEND");
  ASSERT_TRUE(exif > 0 && exifEnd > exif && iend > exifEnd);
  Bytes late(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(exif));
  late.insert(late.end(), file.begin() + static_cast<std::ptrdiff_t>(exifEnd),
              file.begin() + static_cast<std::ptrdiff_t>(iend));
  late.insert(late.end(), file.begin() + static_cast<std::ptrdiff_t>(exif),
              file.begin() + static_cast<std::ptrdiff_t>(exifEnd));
  late.insert(late.end(), file.begin() + static_cast<std::ptrdiff_t>(iend), file.end());
  ASSERT_EQ(late.size(), file.size());
  ASSERT_NE(store.loadFromMemory(55, late), 0u);
  EXPECT_EQ(store.imageWidth(55), 30);
  EXPECT_EQ(store.imageHeight(55), 20);
}

TEST_F(PngReaderTest, DecodePngTakesOnlyPng) {
  const Bytes file = makePng(rgbaPicture(3, 2).recipe);
  auto picture = decodePng(file);
  ASSERT_TRUE(picture.has_value());
  EXPECT_EQ(picture->raster->width, 3);
  EXPECT_EQ(picture->sourceDepth, 32);
  const Bytes notPng = {0xFF, 0xD8, 0xFF, 0xE0};
  EXPECT_FALSE(decodePng(notPng).has_value());
}

}  // namespace
}  // namespace pixmoor::image
