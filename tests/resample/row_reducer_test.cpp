// Reducing a picture while it is decoded gives exactly the bytes of decoding
// it whole and then resampling it: every corpus picture (broken ones too),
// every EXIF orientation, odd sizes, grey and every JPEG sampling, every PNG
// colour type, BMP both ways up. And it holds rows, not the picture.
#include "resample/row_reducer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "codecs/decode_test_support.h"
#include "codecs/format_registry.h"
#include "codecs/load_picture.h"
#include "image_store/image_store.h"
#include "resample/resample.h"
#include "resample/resample_kernels.h"

namespace pixmoor::image {
namespace {

using decodetest::Bytes;

void registerDecoders() {
  registerJpegDecoder();
  registerPngDecoder();
}

Bytes rowsOf(const Raster& raster) {
  Bytes out;
  for (int y = 0; y < raster.height; ++y) {
    const std::uint8_t* row = raster.pictureRow(y);
    out.insert(out.end(), row, row + static_cast<std::size_t>(raster.width) * raster.bytesPerPixel());
  }
  return out;
}

// Odd reductions, one side kept, a single pixel, and one that grows (loaded whole).
std::vector<PictureSize> targetsFor(int w, int h) {
  return {{(w + 1) / 2, (h + 2) / 3},
          {std::max(1, w * 2 / 7), std::max(1, h - 1)},
          {1, 1},
          {w, std::max(1, h / 5)},
          {w * 2 + 1, h}};
}

void expectSameAsTwoSteps(const std::string& path) {
  SCOPED_TRACE(path);
  ImageStore whole;
  const LoadStatus wholeStatus = whole.load(1, path).status;
  const bool loaded = wholeStatus == LoadStatus::loaded;
  const int w = whole.imageWidth(1);
  const int h = whole.imageHeight(1);
  const auto sizes = loaded ? targetsFor(w, h) : std::vector<PictureSize>{{1, 1}};
  // The two ways take the plain, SSE2 and AVX2 passes by turns, each way
  // with another width than the other, so each is checked against the others.
  constexpr VectorPasses kPasses[] = {VectorPasses::plain, VectorPasses::sse2, VectorPasses::avx2};
  struct WidestAgain {
    ~WidestAgain() { setVectorPasses(VectorPasses::avx2); }
  } widestAgain;
  int turn = 0;
  for (const PictureSize& target : sizes) {
    SCOPED_TRACE(std::to_string(target.width) + "x" + std::to_string(target.height));
    ++turn;
    setVectorPasses(kPasses[turn % 3]);
    const ReduceTo reduce = [&](int width, int height) -> std::optional<PictureSize> {
      EXPECT_TRUE(!loaded || (width == w && height == h));
      return target;
    };
    LoadedPicture reduced = loadPicture(path, {machineDecodeLimits(), &reduce});
    ASSERT_EQ(reduced.loaded(), loaded);
    EXPECT_EQ(reduced.status, wholeStatus);
    if (!loaded) return;
    const DecodedPicture& picture = reduced.picture;
    EXPECT_EQ(picture.source.width, w);
    EXPECT_EQ(picture.source.height, h);
    EXPECT_EQ(picture.sourceDepth, whole.record(1)->sourceDepth);
    EXPECT_EQ(picture.iccProfile, whole.record(1)->iccProfile);
    std::unique_ptr<Raster> result = std::move(reduced.picture.raster);
    if (result->width != target.width || result->height != target.height) {
      result = resampledCopy(*result, target.width, target.height);
      ASSERT_NE(result, nullptr);
    }
    setVectorPasses(kPasses[(turn + 1) % 3]);
    ImageStore twoSteps;
    ASSERT_NE(twoSteps.loadFromFile(1, path), 0u);
    ASSERT_NE(twoSteps.resample(1, target.width, target.height, ResampleMode::smooth), 0u);
    ASSERT_EQ(rowsOf(*result), rowsOf(*twoSteps.raster(1)));
  }
}

class CorpusFolder : public ::testing::TestWithParam<const char*> {
 protected:
  static void SetUpTestSuite() { registerDecoders(); }
};

TEST_P(CorpusFolder, ReducedOnLoadEqualsLoadThenResample) {
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::directory_iterator(decodetest::testData(GetParam())))
    paths.push_back(entry.path().string());
  std::sort(paths.begin(), paths.end());
  ASSERT_FALSE(paths.empty());
  for (const std::string& path : paths) expectSameAsTwoSteps(path);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusFolder,
                         ::testing::Values("jpeg/good", "jpeg/questionable", "jpeg/bad", "png/good",
                                           "png/questionable", "png/bad", "bmp/g", "bmp/q", "bmp/b"));

// A picture whose colours change from pixel to pixel in both directions, so
// that a turn or a mirror applied the wrong way shows.
Bytes texture(int width, int height, int components) {
  Bytes samples;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < components; ++c)
        samples.push_back(static_cast<std::uint8_t>((x * 37 + y * 11 + c * 85 + (x * y) % 23) & 0xFF));
    }
  }
  return samples;
}

struct Sampling {
  const char* what;
  int components;
  int lumaH;
  int lumaV;
  bool progressive;
};

class TurnedJpeg : public ::testing::TestWithParam<Sampling> {
 protected:
  static void SetUpTestSuite() { registerDecoders(); }
  decodetest::TempFolder folder_;
};

TEST_P(TurnedJpeg, EveryOrientationEqualsLoadThenResample) {
  const Sampling& sampling = GetParam();
  for (int orientation = 1; orientation <= 8; ++orientation) {
    decodetest::JpegRecipe recipe;
    recipe.width = 61;
    recipe.height = 43;
    recipe.components = sampling.components;
    recipe.lumaH = sampling.lumaH;
    recipe.lumaV = sampling.lumaV;
    recipe.progressive = sampling.progressive;
    recipe.samples = texture(recipe.width, recipe.height, recipe.components);
    recipe.app1 = decodetest::exifWithOrientation(orientation, orientation % 2 == 0);
    const std::string path = folder_.file(std::string(sampling.what) + std::to_string(orientation) + ".jpg");
    decodetest::writeFile(path, decodetest::makeJpeg(recipe));
    expectSameAsTwoSteps(path);
  }
}

INSTANTIATE_TEST_SUITE_P(Samplings, TurnedJpeg,
                         ::testing::Values(Sampling{"grey", 1, 1, 1, false}, Sampling{"s420", 3, 2, 2, false},
                                           Sampling{"s422", 3, 2, 1, false}, Sampling{"s444", 3, 1, 1, false},
                                           Sampling{"progressive420", 3, 2, 2, true},
                                           Sampling{"cmyk", 4, 1, 1, false}),
                         [](const auto& info) { return std::string(info.param.what); });

// A PNG turned by its eXIf chunk: every orientation, grey, colour and
// palette, plain and interlaced (loaded whole).
TEST(ReducedOnLoad, TurnedPngEqualsLoadThenResample) {
  registerDecoders();
  decodetest::TempFolder folder;
  for (const int colourType : {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_PALETTE}) {
    for (const bool interlaced : {false, true}) {
      for (int orientation = 1; orientation <= 8; ++orientation) {
        decodetest::PngRecipe recipe;
        recipe.width = 61;
        recipe.height = 43;
        recipe.colourType = colourType;
        recipe.interlaced = interlaced;
        const int components = colourType == PNG_COLOR_TYPE_RGB ? 3 : 1;
        const Bytes samples = texture(recipe.width, recipe.height, components);
        if (colourType == PNG_COLOR_TYPE_PALETTE) {
          for (int i = 0; i < 256; ++i)
            recipe.palette.push_back(png_color{static_cast<png_byte>(i), static_cast<png_byte>(255 - i),
                                               static_cast<png_byte>(i * 7)});
        }
        const auto rowBytes = static_cast<std::ptrdiff_t>(recipe.width * components);
        for (int y = 0; y < recipe.height; ++y)
          recipe.rows.emplace_back(samples.begin() + y * rowBytes, samples.begin() + (y + 1) * rowBytes);
        const Bytes exif = decodetest::exifWithOrientation(orientation, orientation % 2 == 0);
        recipe.exif.assign(exif.begin() + 6, exif.end());
        const std::string path = folder.file("t" + std::to_string(colourType) + (interlaced ? "i" : "") +
                                             std::to_string(orientation) + ".png");
        decodetest::writeFile(path, decodetest::makePng(recipe));
        expectSameAsTwoSteps(path);
      }
    }
  }
}

// A 24-bit BMP of the texture, rows bottom-up or top-down.
Bytes makeBmp(int width, int height, bool topDown) {
  const Bytes samples = texture(width, height, 3);
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
  Bytes file(54 + stride * static_cast<std::size_t>(height), 0);
  const auto put32 = [&file](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
      file[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  file[0] = 'B';
  file[1] = 'M';
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(width));
  put32(22, static_cast<std::uint32_t>(topDown ? -height : height));
  file[26] = 1;
  file[28] = 24;
  for (int y = 0; y < height; ++y) {
    const std::size_t row = 54 + stride * static_cast<std::size_t>(topDown ? y : height - 1 - y);
    std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(y) * width * 3),
                static_cast<std::size_t>(width) * 3, file.begin() + static_cast<std::ptrdiff_t>(row));
  }
  return file;
}

TEST(ReducedOnLoad, BmpBothWaysUp) {
  registerDecoders();
  decodetest::TempFolder folder;
  for (const bool topDown : {false, true}) {
    const std::string path = folder.file(topDown ? "down.bmp" : "up.bmp");
    decodetest::writeFile(path, makeBmp(53, 29, topDown));
    expectSameAsTwoSteps(path);
  }
}

// A 9 MB picture reduced under a 4 MiB budget: only its rows are held, while
// loading it whole is refused. Each reader and a turned JPEG.
TEST(ReducedOnLoad, HoldsRowsNotThePicture) {
  registerDecoders();
  decodetest::TempFolder folder;
  constexpr int kWidth = 2000;
  constexpr int kHeight = 1500;
  decodetest::JpegRecipe jpeg;
  jpeg.width = kWidth;
  jpeg.height = kHeight;
  jpeg.samples = texture(kWidth, kHeight, 3);
  decodetest::writeFile(folder.file("a.jpg"), decodetest::makeJpeg(jpeg));
  jpeg.app1 = decodetest::exifWithOrientation(6, false);
  decodetest::writeFile(folder.file("turned.jpg"), decodetest::makeJpeg(jpeg));
  decodetest::PngRecipe png;
  png.width = kWidth;
  png.height = kHeight;
  for (int y = 0; y < kHeight; ++y)
    png.rows.emplace_back(jpeg.samples.begin() + static_cast<std::ptrdiff_t>(y) * kWidth * 3,
                          jpeg.samples.begin() + static_cast<std::ptrdiff_t>(y + 1) * kWidth * 3);
  decodetest::writeFile(folder.file("a.png"), decodetest::makePng(png));
  decodetest::writeFile(folder.file("a.bmp"), makeBmp(kWidth, kHeight, false));

  const DecodeLimits limits{std::uint64_t{4} << 20, nullptr};
  for (const char* name : {"a.jpg", "turned.jpg", "a.png", "a.bmp"}) {
    SCOPED_TRACE(name);
    ImageStore store;
    const LoadResult whole = store.load(1, folder.file(name), limits);
    EXPECT_EQ(whole.handle, 0u);
    EXPECT_EQ(whole.status, LoadStatus::tooLargeForMemory);
    const ReduceTo reduce = [](int, int) { return PictureSize{150, 200}; };
    const LoadedPicture reduced = loadPicture(folder.file(name), {limits, &reduce});
    ASSERT_TRUE(reduced.loaded());
    EXPECT_EQ(reduced.picture.raster->width, 150);
    EXPECT_EQ(reduced.picture.raster->height, 200);
  }
}

}  // namespace
}  // namespace pixmoor::image
