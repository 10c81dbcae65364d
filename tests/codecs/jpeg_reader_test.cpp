// The JPEG reader: pixels against libjpeg-turbo's own TurboJPEG decode, grey,
// four-component colours, orientation, short and hostile data.
#include "codecs/jpeg_reader.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "codecs/format_registry.h"
#include "decode_test_support.h"
#include "image_store/image_store.h"

namespace pixmoor::image {
namespace {

using decodetest::Bytes;
using decodetest::JpegRecipe;
using decodetest::makeJpeg;
using decodetest::pixelAt;
using decodetest::Stored;
using decodetest::storedPositionFor;

class JpegReaderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    registerJpegDecoder();
    registerPngDecoder();
  }
  ImageStore store;
};

// A smooth picture with some detail, so that every row and column differs.
Bytes testSamples(int width, int height, int components, int seed = 0) {
  Bytes samples(static_cast<std::size_t>(width) * height * components);
  std::size_t i = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < components; ++c) {
        const int v = (x * (3 + c) + y * (5 - c) + seed * 17 + ((x * y) % 7) * 9 + c * 40) % 256;
        samples[i++] = static_cast<std::uint8_t>(v);
      }
    }
  }
  return samples;
}

// TurboJPEG's decode of the same bytes, rows bottom-up with `pitch` bytes.
struct TjPicture {
  int width = 0;
  int height = 0;
  Bytes pixels;
};

TjPicture tjDecode(const Bytes& jpeg, int pixelFormat, int pitch) {
  TjPicture out;
  tjhandle handle = tjInitDecompress();
  int subsampling = 0, colourspace = 0;
  if (tjDecompressHeader3(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), &out.width,
                          &out.height, &subsampling, &colourspace) != 0) {
    tjDestroy(handle);
    return {};
  }
  out.pixels.assign(static_cast<std::size_t>(pitch) * out.height, 0);
  if (tjDecompress2(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), out.pixels.data(),
                    out.width, pitch, out.height, pixelFormat, TJFLAG_BOTTOMUP | TJFLAG_ACCURATEDCT) != 0) {
    out = {};
  }
  tjDestroy(handle);
  return out;
}

TEST_F(JpegReaderTest, ColourPictureMatchesTurboJpegByteForByte) {
  JpegRecipe recipe;
  recipe.width = 37;  // odd: the rows carry padding
  recipe.height = 21;
  recipe.samples = testSamples(recipe.width, recipe.height, 3);
  const Bytes jpeg = makeJpeg(recipe);
  const auto handle = store.loadFromMemory(55, jpeg);
  ASSERT_NE(handle, 0u);
  const ImageRecord* record = store.record(55);
  EXPECT_EQ(record->width, 37);
  EXPECT_EQ(record->height, 21);
  EXPECT_EQ(record->depth, 24);
  EXPECT_EQ(record->sourceDepth, 24);
  const Raster& raster = *record->raster;
  const TjPicture expected = tjDecode(jpeg, TJPF_BGR, raster.stride);
  ASSERT_EQ(expected.width, 37);
  ASSERT_EQ(expected.pixels.size(), raster.sizeBytes());
  for (std::size_t i = 0; i < raster.sizeBytes(); ++i)
    ASSERT_EQ(raster.data()[i], expected.pixels[i]) << "byte " << i;
}

TEST_F(JpegReaderTest, GreyPictureRepeatsTheGreyInBlueGreenRed) {
  JpegRecipe recipe;
  recipe.width = 19;
  recipe.height = 11;
  recipe.components = 1;
  recipe.samples = testSamples(recipe.width, recipe.height, 1);
  const Bytes jpeg = makeJpeg(recipe);
  ASSERT_NE(store.loadFromMemory(55, jpeg), 0u);
  const ImageRecord* record = store.record(55);
  EXPECT_EQ(record->depth, 24);
  EXPECT_EQ(record->sourceDepth, 24);
  const TjPicture grey = tjDecode(jpeg, TJPF_GRAY, 19);
  ASSERT_EQ(grey.height, 11);
  for (int y = 0; y < 11; ++y) {
    for (int x = 0; x < 19; ++x) {
      const std::uint8_t* p = pixelAt(*record->raster, x, y);
      const std::uint8_t g = grey.pixels[static_cast<std::size_t>(10 - y) * 19 + x];  // bottom-up
      EXPECT_EQ(p[0], g);
      EXPECT_EQ(p[1], g);
      EXPECT_EQ(p[2], g);
    }
  }
}

TEST_F(JpegReaderTest, PictureCutHalfWayLoadsAtFullSize) {
  JpegRecipe recipe;
  recipe.width = 64;
  recipe.height = 64;
  recipe.samples = testSamples(64, 64, 3);
  const Bytes whole = makeJpeg(recipe);
  const Bytes half(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2));

  auto full = decodeWith(jpegDecoder(), whole);
  auto cut = decodeWith(jpegDecoder(), half);
  ASSERT_TRUE(full.has_value());
  ASSERT_TRUE(cut.has_value());
  EXPECT_FALSE(full->partial);
  EXPECT_TRUE(cut->partial);
  EXPECT_EQ(cut->raster->width, 64);
  EXPECT_EQ(cut->raster->height, 64);
  // The first row of blocks arrived whole; the last was never in the data and
  // comes out flat.
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 64 * 3; ++x) ASSERT_EQ(cut->raster->pictureRow(y)[x], full->raster->pictureRow(y)[x]);
  }
  const std::uint8_t* last = cut->raster->pictureRow(63);
  for (int x = 0; x < 64 * 3; ++x) EXPECT_EQ(last[x], last[0]);

  ASSERT_NE(store.loadFromMemory(55, half), 0u);
  EXPECT_EQ(store.imageWidth(55), 64);
}

// `partial` tells a picture that lost something: a file of one scan that
// lacks only its end marker lost nothing; one of several scans cut at a scan
// boundary lost its later scans, and the library says nothing of it.
TEST_F(JpegReaderTest, PartialMeansSomethingIsMissing) {
  JpegRecipe recipe;
  recipe.width = 64;
  recipe.height = 48;
  recipe.samples = testSamples(64, 48, 3);
  const Bytes baseline = makeJpeg(recipe);
  recipe.progressive = true;
  const Bytes progressive = makeJpeg(recipe);
  // Where the last scan starts: its start-of-scan marker.
  std::size_t lastScan = 0;
  for (std::size_t at = 2; at + 1 < progressive.size(); ++at) {
    if (progressive[at] == 0xFF && progressive[at + 1] == 0xDA) lastScan = at;
  }
  ASSERT_GT(lastScan, 0u);
  const auto cut = [](const Bytes& file, std::size_t size) {
    return Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
  };
  struct Row {
    const char* what;
    Bytes file;
    bool partial;
  };
  const Row rows[] = {
      {"whole", baseline, false},
      {"without its end marker", cut(baseline, baseline.size() - 2), false},
      {"cut in its last rows", cut(baseline, baseline.size() - 40), true},
      {"progressive, whole", progressive, false},
      {"progressive, without its end marker", cut(progressive, progressive.size() - 2), true},
      {"progressive, without its last scan", cut(progressive, lastScan), true},
  };
  for (const Row& row : rows) {
    const auto picture = decodeWith(jpegDecoder(), row.file);
    ASSERT_TRUE(picture.has_value()) << row.what;
    EXPECT_EQ(picture->partial, row.partial) << row.what;
  }
}

TEST_F(JpegReaderTest, EveryShortHeaderFailsCleanly) {
  JpegRecipe recipe;
  recipe.width = 8;
  recipe.height = 8;
  recipe.samples = testSamples(8, 8, 3);
  const Bytes jpeg = makeJpeg(recipe);
  // Up to the start of the scan nothing can be decoded.
  std::size_t scanStart = 0;
  for (std::size_t i = 0; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) {
      scanStart = i;
      break;
    }
  }
  ASSERT_GT(scanStart, 0u);
  for (std::size_t n = 0; n < scanStart; ++n) {
    EXPECT_EQ(store.loadFromMemory(55, std::span(jpeg.data(), n)), 0u) << n;
  }
}

Bytes withSof(Bytes jpeg, int width, int height) {
  for (std::size_t i = 0; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = static_cast<std::uint8_t>(height >> 8);
      jpeg[i + 6] = static_cast<std::uint8_t>(height);
      jpeg[i + 7] = static_cast<std::uint8_t>(width >> 8);
      jpeg[i + 8] = static_cast<std::uint8_t>(width);
      break;
    }
  }
  return jpeg;
}

TEST_F(JpegReaderTest, SidesAbove32767AreRefusedBeforeDecoding) {
  JpegRecipe recipe;
  recipe.width = 16;
  recipe.height = 16;
  recipe.samples = testSamples(16, 16, 3);
  const Bytes jpeg = makeJpeg(recipe);
  LoadStatus status = LoadStatus::loaded;
  status = store.loadData(55, withSof(jpeg, 40000, 16)).status;
  EXPECT_EQ(status, LoadStatus::unsupported);
  status = store.loadData(55, withSof(jpeg, 16, 65000)).status;
  EXPECT_EQ(status, LoadStatus::unsupported);
  // A zero height is a broken header, not a size.
  status = store.loadData(55, withSof(jpeg, 16, 0)).status;
  EXPECT_EQ(status, LoadStatus::unknownFormat);
  // 32767 itself is allowed: only the header is read and the raster made.
  status = store.loadData(55, withSof(jpeg, 32767, 16)).status;
  EXPECT_EQ(status, LoadStatus::loaded);
  EXPECT_EQ(store.imageWidth(55), 32767);
}

TEST_F(JpegReaderTest, PixelLimitRefusesLargerPictures) {
  JpegRecipe recipe;
  recipe.width = 32;
  recipe.height = 32;
  recipe.samples = testSamples(32, 32, 3);
  const Bytes jpeg = makeJpeg(recipe);
  setDecodePixelLimit(32 * 32 - 1);
  LoadStatus status = LoadStatus::loaded;
  status = store.loadData(55, jpeg).status;
  EXPECT_EQ(status, LoadStatus::unsupported);
  setDecodePixelLimit(32 * 32);
  EXPECT_NE(store.loadFromMemory(55, jpeg), 0u);
  setDecodePixelLimit(0);
}

TEST_F(JpegReaderTest, DataRejectedByTheJpegLibraryFails) {
  const Bytes data = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0xFF, 0xD9};
  LoadStatus status = LoadStatus::loaded;
  status = store.loadData(55, data).status;
  EXPECT_EQ(status, LoadStatus::unknownFormat);
}

// ---- four-component files ----

struct FourComponentCase {
  const char* name;
  J_COLOR_SPACE stored;
  bool adobe;
};

class FourComponentTest : public JpegReaderTest, public ::testing::WithParamInterface<FourComponentCase> {};

TEST_P(FourComponentTest, ColoursMatchAnIndependentConversion) {
  const FourComponentCase& param = GetParam();
  JpegRecipe recipe;
  recipe.width = 24;
  recipe.height = 17;
  recipe.components = 4;
  recipe.stored = param.stored;
  recipe.adobeMarker = param.adobe;
  recipe.samples = testSamples(24, 17, 4, 3);
  const Bytes jpeg = makeJpeg(recipe);
  ASSERT_NE(store.loadFromMemory(55, jpeg), 0u);
  const ImageRecord* record = store.record(55);
  EXPECT_EQ(record->depth, 24);
  EXPECT_EQ(record->sourceDepth, 32);

  const TjPicture cmyk = tjDecode(jpeg, TJPF_CMYK, 24 * 4);
  ASSERT_EQ(cmyk.width, 24);
  for (int y = 0; y < 17; ++y) {
    for (int x = 0; x < 24; ++x) {
      const std::uint8_t* s = &cmyk.pixels[(static_cast<std::size_t>(16 - y) * 24 + x) * 4];
      auto channel = [&](int ink) {
        const double k = s[3];
        const double value = param.adobe ? s[ink] * k / 255.0 : (255.0 - s[ink]) * (255.0 - k) / 255.0;
        return static_cast<int>(std::lround(value));
      };
      const std::uint8_t* p = pixelAt(*record->raster, x, y);
      ASSERT_EQ(p[2], channel(0)) << x << "," << y;
      ASSERT_EQ(p[1], channel(1)) << x << "," << y;
      ASSERT_EQ(p[0], channel(2)) << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Files, FourComponentTest,
                         ::testing::Values(FourComponentCase{"AdobeCmyk", JCS_CMYK, true},
                                           FourComponentCase{"AdobeYcck", JCS_YCCK, true},
                                           FourComponentCase{"PlainCmyk", JCS_CMYK, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(JpegReaderTest, AdobeCmykInkMeansColour) {
  // Adobe files store ink inverted: 255 is no ink. Flat areas decode exactly.
  struct Ink {
    std::uint8_t c, m, y, k;
    std::uint8_t b, g, r;
  };
  const Ink inks[] = {{255, 255, 255, 255, 255, 255, 255},  // paper
                      {0, 255, 255, 255, 255, 255, 0},      // full cyan
                      {255, 255, 0, 255, 0, 255, 255},      // full yellow
                      {255, 255, 255, 0, 0, 0, 0}};         // full black
  for (const Ink& ink : inks) {
    JpegRecipe recipe;
    recipe.width = 8;
    recipe.height = 8;
    recipe.components = 4;
    recipe.quality = 100;
    for (int i = 0; i < 64; ++i) recipe.samples.insert(recipe.samples.end(), {ink.c, ink.m, ink.y, ink.k});
    ASSERT_NE(store.loadFromMemory(55, makeJpeg(recipe)), 0u);
    const std::uint8_t* p = pixelAt(*store.raster(55), 4, 4);
    EXPECT_NEAR(p[0], ink.b, 1);
    EXPECT_NEAR(p[1], ink.g, 1);
    EXPECT_NEAR(p[2], ink.r, 1);
  }
}

// ---- orientation ----

struct OrientationCase {
  int orientation;
  bool bigEndian;
};

class OrientationTest : public JpegReaderTest, public ::testing::WithParamInterface<OrientationCase> {};

// 40 x 16 in 8 x 8 blocks of flat colours; the top-left block is red.
JpegRecipe blockPicture() {
  JpegRecipe recipe;
  recipe.width = 40;
  recipe.height = 16;
  recipe.quality = 95;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 40; ++x) {
      const int block = (y / 8) * 5 + x / 8;
      if (block == 0) {
        recipe.samples.insert(recipe.samples.end(), {255, 0, 0});
      } else {
        recipe.samples.insert(recipe.samples.end(), {static_cast<std::uint8_t>(block * 25),
                                                     static_cast<std::uint8_t>(255 - block * 20),
                                                     static_cast<std::uint8_t>(x * 6)});
      }
    }
  }
  return recipe;
}

TEST_P(OrientationTest, PixelsLandWhereTheTagSays) {
  const OrientationCase& param = GetParam();
  JpegRecipe recipe = blockPicture();
  auto plain = decodeWith(jpegDecoder(), makeJpeg(recipe));
  ASSERT_TRUE(plain.has_value());
  recipe.app1 = decodetest::exifWithOrientation(param.orientation, param.bigEndian, 2);
  auto turned = decodeWith(jpegDecoder(), makeJpeg(recipe));
  ASSERT_TRUE(turned.has_value());
  const bool swaps = param.orientation >= 5;
  const int width = swaps ? 16 : 40;
  const int height = swaps ? 40 : 16;
  ASSERT_EQ(turned->raster->width, width);
  ASSERT_EQ(turned->raster->height, height);
  EXPECT_EQ(turned->sourceDepth, 24);
  for (int uy = 0; uy < height; ++uy) {
    for (int ux = 0; ux < width; ++ux) {
      const Stored from = storedPositionFor(param.orientation, ux, uy, 40, 16);
      const std::uint8_t* want = pixelAt(*plain->raster, from.x, from.y);
      const std::uint8_t* got = pixelAt(*turned->raster, ux, uy);
      ASSERT_TRUE(want[0] == got[0] && want[1] == got[1] && want[2] == got[2]) << ux << "," << uy;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllEight, OrientationTest,
                         ::testing::Values(OrientationCase{1, false}, OrientationCase{2, false},
                                           OrientationCase{3, false}, OrientationCase{4, false},
                                           OrientationCase{5, false}, OrientationCase{6, false},
                                           OrientationCase{7, false}, OrientationCase{8, false},
                                           OrientationCase{1, true}, OrientationCase{2, true},
                                           OrientationCase{3, true}, OrientationCase{4, true},
                                           OrientationCase{5, true}, OrientationCase{6, true},
                                           OrientationCase{7, true}, OrientationCase{8, true}),
                         [](const auto& info) {
                           return std::string(info.param.bigEndian ? "Motorola" : "Intel") +
                                  std::to_string(info.param.orientation);
                         });

bool isRed(const std::uint8_t* p) {
  return p[2] > 230 && p[1] < 30 && p[0] < 30;
}

TEST_F(JpegReaderTest, PortraitPhotoStandsUpright) {
  // A phone held upright stores its picture lying on its side with tag 6:
  // the red top-left corner of the stored picture belongs at the top right.
  JpegRecipe recipe = blockPicture();
  recipe.app1 = decodetest::exifWithOrientation(6, true);
  ASSERT_NE(store.loadFromMemory(55, makeJpeg(recipe)), 0u);
  EXPECT_EQ(store.imageWidth(55), 16);
  EXPECT_EQ(store.imageHeight(55), 40);
  EXPECT_TRUE(isRed(pixelAt(*store.raster(55), 12, 3)));
  EXPECT_FALSE(isRed(pixelAt(*store.raster(55), 3, 3)));

  recipe.app1 = decodetest::exifWithOrientation(8, false);
  ASSERT_NE(store.loadFromMemory(55, makeJpeg(recipe)), 0u);
  EXPECT_TRUE(isRed(pixelAt(*store.raster(55), 3, 36)));

  recipe.app1 = decodetest::exifWithOrientation(3, false);
  ASSERT_NE(store.loadFromMemory(55, makeJpeg(recipe)), 0u);
  EXPECT_TRUE(isRed(pixelAt(*store.raster(55), 36, 12)));
}

TEST_F(JpegReaderTest, OrientationAppliesToFourComponentFiles) {
  JpegRecipe recipe;
  recipe.width = 24;
  recipe.height = 8;
  recipe.components = 4;
  recipe.samples = testSamples(24, 8, 4);
  auto plain = decodeWith(jpegDecoder(), makeJpeg(recipe));
  recipe.app1 = decodetest::exifWithOrientation(8, false);
  auto turned = decodeWith(jpegDecoder(), makeJpeg(recipe));
  ASSERT_TRUE(plain && turned);
  ASSERT_EQ(turned->raster->width, 8);
  ASSERT_EQ(turned->raster->height, 24);
  for (int uy = 0; uy < 24; ++uy) {
    for (int ux = 0; ux < 8; ++ux) {
      const Stored from = storedPositionFor(8, ux, uy, 24, 8);
      ASSERT_EQ(0, std::memcmp(pixelAt(*plain->raster, from.x, from.y), pixelAt(*turned->raster, ux, uy), 3));
    }
  }
}

}  // namespace
}  // namespace pixmoor::image
