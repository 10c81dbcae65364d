// The store: slots, dynamic Images, creation fills, release, queries, loads
// from files, display copies.
#include "image_store/image_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "codecs/decode_test_support.h"
#include "codecs/format_registry.h"

namespace pixmoor::image {
namespace {

using decodetest::Bytes;
using decodetest::pixelAt;
using decodetest::TempFolder;
using decodetest::writeFile;

class ImageStoreTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    registerJpegDecoder();
    registerPngDecoder();
  }
  ImageStore store;
};

Bytes smallPng(int width, int height, std::uint8_t value) {
  decodetest::PngRecipe recipe;
  recipe.width = width;
  recipe.height = height;
  recipe.colourType = PNG_COLOR_TYPE_RGB;
  for (int y = 0; y < height; ++y) recipe.rows.emplace_back(static_cast<std::size_t>(width) * 3, value);
  return decodetest::makePng(recipe);
}

TEST_F(ImageStoreTest, StartsWithSixteenEmptySlots) {
  EXPECT_EQ(store.capacity(), 16u);
  for (ImageId n = 0; n < 16; ++n) {
    EXPECT_EQ(store.imageWidth(n), 0);
    EXPECT_EQ(store.nativeHandle(n), 0u);
  }
}

TEST_F(ImageStoreTest, NumberTwoHundredGrowsTheSlotsTo216) {
  ASSERT_NE(store.create(200, 5, 6, 24), 0u);
  EXPECT_EQ(store.capacity(), 216u);
  for (ImageId n = 16; n < 200; ++n) EXPECT_EQ(store.imageWidth(n), 0) << n;
  EXPECT_EQ(store.imageWidth(200), 5);
  EXPECT_EQ(store.imageHeight(200), 6);
  // A lower number later does not shrink the array.
  ASSERT_NE(store.create(20, 1, 1, 24), 0u);
  EXPECT_EQ(store.capacity(), 216u);
}

TEST_F(ImageStoreTest, CreateAnswersTheRasterHandle) {
  const auto handle = store.create(3, 10, 4, 24);
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(handle, store.nativeHandle(3));
  EXPECT_EQ(handle, reinterpret_cast<std::uintptr_t>(store.raster(3)));
}

TEST_F(ImageStoreTest, DynamicImageGetsAnIdentifierOutsideTheSlots) {
  const auto id = store.create(kNewImage, 128, 24, 24);
  ASSERT_NE(id, 0u);
  const auto number = static_cast<ImageId>(id);
  EXPECT_TRUE(number < 0 || static_cast<std::size_t>(number) >= store.capacity());
  EXPECT_EQ(store.imageWidth(number), 128);
  EXPECT_EQ(store.imageHeight(number), 24);
  EXPECT_NE(store.nativeHandle(number), 0u);
  EXPECT_NE(store.nativeHandle(number), id);

  const auto second = store.create(kNewImage, 7, 7, 32);
  ASSERT_NE(second, 0u);
  EXPECT_NE(second, id);
  store.release(number);
  EXPECT_EQ(store.imageWidth(number), 0);
  EXPECT_EQ(store.imageWidth(static_cast<ImageId>(second)), 7);
}

TEST_F(ImageStoreTest, IdentifiersNeverIssuedAnswerNoImage) {
  ASSERT_NE(store.create(kNewImage, 2, 2, 24), 0u);
  int local = 0;
  const std::vector<ImageId> strangers = {-2, -12345, ImageId{1} << 40, reinterpret_cast<ImageId>(&local),
                                          17, 9999};
  for (ImageId n : strangers) {
    EXPECT_EQ(store.imageWidth(n), 0) << n;
    EXPECT_EQ(store.nativeHandle(n), 0u) << n;
    EXPECT_EQ(store.record(n), nullptr) << n;
    store.release(n);  // does nothing, and does not touch memory it does not own
  }
}

TEST_F(ImageStoreTest, ReleaseOfMinusOneDoesNothing) {
  ASSERT_NE(store.create(1, 3, 3, 24), 0u);
  ASSERT_NE(store.create(kNewImage, 3, 3, 24), 0u);
  store.release(kNewImage);
  EXPECT_EQ(store.imageWidth(1), 3);
}

TEST_F(ImageStoreTest, ReleasedNumberAnswersZero) {
  ASSERT_NE(store.create(9, 8, 8, 32), 0u);
  store.release(9);
  EXPECT_EQ(store.imageWidth(9), 0);
  EXPECT_EQ(store.imageHeight(9), 0);
  EXPECT_EQ(store.nativeHandle(9), 0u);
  store.release(9);  // twice is harmless
}

TEST_F(ImageStoreTest, ReleaseAllEmptiesSlotsAndDynamicImages) {
  ASSERT_NE(store.create(1, 3, 3, 24), 0u);
  ASSERT_NE(store.create(100, 3, 3, 24), 0u);
  const auto id = static_cast<ImageId>(store.create(kNewImage, 3, 3, 24));
  store.releaseAll();
  EXPECT_EQ(store.imageWidth(1), 0);
  EXPECT_EQ(store.imageWidth(100), 0);
  EXPECT_EQ(store.imageWidth(id), 0);
  EXPECT_EQ(store.capacity(), 116u);
}

TEST_F(ImageStoreTest, Depth32StartsOpaqueBlack) {
  ASSERT_NE(store.create(2, 5, 3, 32), 0u);
  const Raster* raster = store.raster(2);
  ASSERT_NE(raster, nullptr);
  EXPECT_EQ(raster->depth, 32);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) {
      const std::uint8_t* p = pixelAt(*raster, x, y);
      EXPECT_EQ(p[0], 0);
      EXPECT_EQ(p[1], 0);
      EXPECT_EQ(p[2], 0);
      EXPECT_EQ(p[3], 255);
    }
  }
}

TEST_F(ImageStoreTest, TransparentFlagStartsAllZero) {
  ASSERT_NE(store.create(2, 5, 3, 32 | kTransparentFlag), 0u);
  const Raster* raster = store.raster(2);
  ASSERT_NE(raster, nullptr);
  EXPECT_EQ(raster->depth, 32);
  EXPECT_EQ(store.record(2)->depth, 32);
  for (std::size_t i = 0; i < raster->sizeBytes(); ++i) ASSERT_EQ(raster->data()[i], 0) << i;
}

TEST_F(ImageStoreTest, DepthBelow24Gives24) {
  ASSERT_NE(store.create(4, 6, 2, 8), 0u);
  const ImageRecord* record = store.record(4);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->depth, 24);
  EXPECT_EQ(record->sourceDepth, 24);
  EXPECT_EQ(record->raster->depth, 24);
  for (std::size_t i = 0; i < record->raster->sizeBytes(); ++i) ASSERT_EQ(record->raster->data()[i], 0);
}

TEST_F(ImageStoreTest, SourceDepthFollowsDepthOnCreate) {
  ASSERT_NE(store.create(4, 6, 2, 32), 0u);
  EXPECT_EQ(store.record(4)->sourceDepth, 32);
}

TEST_F(ImageStoreTest, RowStridesArePaddedToFourBytes) {
  struct Row {
    int width;
    int depth;
    int stride;
  };
  const Row rows[] = {{3, 24, 12}, {1, 24, 4}, {4, 24, 12}, {5, 24, 16},
                      {3, 32, 12}, {1, 32, 4}, {7, 32, 28}};
  for (const Row& row : rows) {
    ASSERT_NE(store.create(0, row.width, 2, row.depth), 0u);
    EXPECT_EQ(store.raster(0)->stride, row.stride) << row.width << "x" << row.depth;
  }
}

TEST_F(ImageStoreTest, CreatingUnderAHeldNumberReplacesIt) {
  ASSERT_NE(store.create(5, 10, 10, 24), 0u);
  ASSERT_NE(store.create(5, 20, 30, 32), 0u);
  EXPECT_EQ(store.imageWidth(5), 20);
  EXPECT_EQ(store.imageHeight(5), 30);
  EXPECT_EQ(store.record(5)->depth, 32);
}

TEST_F(ImageStoreTest, UnusableSizesFailAndLeaveTheNumberEmpty) {
  struct Size {
    int width;
    int height;
  };
  const Size sizes[] = {{0, 5}, {5, 0}, {-3, 5}, {5, -3}, {kMaxSide + 1, 1}, {1, kMaxSide + 1}};
  for (const Size& size : sizes) {
    ASSERT_NE(store.create(6, 4, 4, 24), 0u);
    EXPECT_EQ(store.create(6, size.width, size.height, 24), 0u);
    EXPECT_EQ(store.imageWidth(6), 0);
    EXPECT_EQ(store.create(kNewImage, size.width, size.height, 24), 0u);
  }
}

TEST_F(ImageStoreTest, NumbersBeyondTheLimitAreRefused) {
  EXPECT_EQ(store.create(ImageStore::kSlotNumberLimit, 1, 1, 24), 0u);
  EXPECT_EQ(store.create(-7, 1, 1, 24), 0u);
  EXPECT_EQ(store.capacity(), 16u);
}

TEST(HasAlpha, AnswersByDepth) {
  ImageStore store;
  ASSERT_NE(store.create(1, 2, 2, 32), 0u);  // every alpha 255
  ASSERT_NE(store.create(2, 2, 2, 24), 0u);
  EXPECT_EQ(hasAlpha(store.raster(1)), 1);
  EXPECT_EQ(hasAlpha(store.raster(2)), 0);
  EXPECT_EQ(hasAlpha(nullptr), 0);
}

// ---- premultipliedCopy ----

struct PremultiplyRow {
  std::uint8_t in[4];  // B, G, R, A
  bool grey;
  std::uint8_t out[4];
};

class PremultiplyTest : public ::testing::TestWithParam<PremultiplyRow> {};

TEST_P(PremultiplyTest, OnePixel) {
  const PremultiplyRow& row = GetParam();
  auto raster = makeRaster(1, 1, 32);
  ASSERT_NE(raster, nullptr);
  std::copy(row.in, row.in + 4, raster->data());
  auto copy = premultipliedCopy(*raster, row.grey);
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(copy->depth, 32);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(copy->data()[c], row.out[c]) << "byte " << c;
}

INSTANTIATE_TEST_SUITE_P(Pixels, PremultiplyTest,
                         ::testing::Values(
                             // Colours times alpha, shifted by 8 (so 255 * 128 gives 127).
                             PremultiplyRow{{200, 100, 50, 128}, false, {100, 50, 25, 128}},
                             PremultiplyRow{{255, 255, 255, 128}, false, {127, 127, 127, 128}},
                             PremultiplyRow{{255, 1, 77, 254}, false, {253, 0, 76, 254}},
                             PremultiplyRow{{10, 20, 30, 0}, false, {0, 0, 0, 0}},
                             // Full alpha is left as it is.
                             PremultiplyRow{{255, 1, 77, 255}, false, {255, 1, 77, 255}},
                             // Grey: u = (B + 6G + 3R) / 10, pulled towards the middle outside 64..192.
                             PremultiplyRow{{0, 0, 0, 255}, true, {20, 20, 20, 255}},
                             PremultiplyRow{{255, 255, 255, 255}, true, {236, 236, 236, 255}},
                             PremultiplyRow{{100, 100, 100, 255}, true, {100, 100, 100, 255}},
                             PremultiplyRow{{30, 30, 30, 255}, true, {41, 41, 41, 255}},
                             PremultiplyRow{{220, 220, 220, 255}, true, {211, 211, 211, 255}},
                             PremultiplyRow{{10, 200, 50, 255}, true, {136, 136, 136, 255}},
                             PremultiplyRow{{0, 0, 255, 255}, true, {76, 76, 76, 255}},
                             PremultiplyRow{{64, 64, 64, 255}, true, {64, 64, 64, 255}},
                             PremultiplyRow{{192, 192, 192, 255}, true, {192, 192, 192, 255}},
                             // Grey with alpha: (A / 255) * v, truncated.
                             PremultiplyRow{{255, 255, 255, 128}, true, {118, 118, 118, 128}},
                             PremultiplyRow{{100, 100, 100, 51}, true, {20, 20, 20, 51}},
                             PremultiplyRow{{100, 100, 100, 0}, true, {0, 0, 0, 0}}));

TEST(Premultiply, TwentyFourBitSourceBecomesOpaque32Bit) {
  auto raster = makeRaster(3, 2, 24);
  ASSERT_NE(raster, nullptr);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      std::uint8_t* p = raster->storageRow(y) + 3 * x;
      p[0] = static_cast<std::uint8_t>(10 * x + y);
      p[1] = static_cast<std::uint8_t>(100 + x);
      p[2] = static_cast<std::uint8_t>(200 + y);
    }
  }
  auto copy = premultipliedCopy(*raster, false);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->width, 3);
  EXPECT_EQ(copy->height, 2);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      const std::uint8_t* in = raster->storageRow(y) + 3 * x;
      const std::uint8_t* out = copy->storageRow(y) + 4 * x;
      EXPECT_EQ(out[0], in[0]);
      EXPECT_EQ(out[1], in[1]);
      EXPECT_EQ(out[2], in[2]);
      EXPECT_EQ(out[3], 255);
    }
  }
}

// ---- loading ----

TEST_F(ImageStoreTest, MissingFileLeavesTheOldImageInPlace) {
  const auto handle = store.create(55, 9, 9, 24);
  ASSERT_NE(handle, 0u);
  LoadStatus status = LoadStatus::loaded;
  status = store.load(55, "/nonexistent/pixmoor/picture.png").status;
  EXPECT_EQ(status, LoadStatus::unreadable);
  EXPECT_EQ(store.nativeHandle(55), handle);
  EXPECT_EQ(store.imageWidth(55), 9);
}

TEST_F(ImageStoreTest, FolderIsNotAFileAndLeavesTheOldImage) {
  TempFolder folder;
  const std::string path = folder.file("sub");
  ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
  ASSERT_NE(store.create(55, 9, 9, 24), 0u);
  LoadStatus status = LoadStatus::loaded;
  status = store.load(55, path).status;
  EXPECT_EQ(status, LoadStatus::unreadable);
  EXPECT_EQ(store.imageWidth(55), 9);
}

TEST_F(ImageStoreTest, UndecodableFileReleasesTheOldImage) {
  TempFolder folder;
  const std::string path = folder.file("notes.jpg");
  writeFile(path, Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
  ASSERT_NE(store.create(55, 9, 9, 24), 0u);
  LoadStatus status = LoadStatus::loaded;
  status = store.load(55, path).status;
  EXPECT_EQ(status, LoadStatus::unknownFormat);
  EXPECT_EQ(store.imageWidth(55), 0);
  EXPECT_EQ(store.nativeHandle(55), 0u);
}

TEST_F(ImageStoreTest, EmptyFileAnswersZero) {
  TempFolder folder;
  const std::string path = folder.file("empty.png");
  writeFile(path, Bytes{});
  ASSERT_NE(store.create(55, 9, 9, 24), 0u);
  LoadStatus status = LoadStatus::loaded;
  status = store.load(55, path).status;
  EXPECT_EQ(status, LoadStatus::unknownFormat);
  EXPECT_EQ(store.imageWidth(55), 0);
}

TEST_F(ImageStoreTest, TiffAndGifAnswerZero) {
  const Bytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0};
  const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0};
  EXPECT_EQ(store.loadFromMemory(55, tiff), 0u);
  EXPECT_EQ(store.loadFromMemory(55, gif), 0u);
}

TEST_F(ImageStoreTest, FormatComesFromTheContentNotTheName) {
  TempFolder folder;
  const std::string path = folder.file("really-a-png.jpg");
  writeFile(path, smallPng(7, 5, 99));
  const LoadResult loaded = store.load(55, path);
  ASSERT_NE(loaded.handle, 0u);
  EXPECT_EQ(loaded.status, LoadStatus::loaded);
  EXPECT_EQ(loaded.handle, store.nativeHandle(55));
  EXPECT_EQ(store.imageWidth(55), 7);
  EXPECT_EQ(store.imageHeight(55), 5);
  EXPECT_EQ(pixelAt(*store.raster(55), 6, 4)[1], 99);
}

TEST_F(ImageStoreTest, BmpNamedPngLoadsAsBmp) {
  // 2 x 2, 24 bits: bottom row blue, red; top row green, white.
  // clang-format off
  Bytes bmp = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header
               40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 16, 0, 0, 0,
               0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
               255, 0, 0, 0, 0, 255, 0, 0,       // bottom row + 2 bytes padding
               0, 255, 0, 255, 255, 255, 0, 0};  // top row
  // clang-format on
  TempFolder folder;
  const std::string path = folder.file("picture.png");
  writeFile(path, bmp);
  ASSERT_NE(store.loadFromFile(55, path), 0u);
  const ImageRecord* record = store.record(55);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->width, 2);
  EXPECT_EQ(record->sourceDepth, 24);
  const std::uint8_t* topLeft = pixelAt(*record->raster, 0, 0);
  EXPECT_EQ(topLeft[0], 0);
  EXPECT_EQ(topLeft[1], 255);
  EXPECT_EQ(topLeft[2], 0);
  const std::uint8_t* bottomRight = pixelAt(*record->raster, 1, 1);
  EXPECT_EQ(bottomRight[2], 255);
}

TEST_F(ImageStoreTest, DynamicLoadAnswersTheIdentifier) {
  const Bytes png = smallPng(4, 3, 10);
  const auto id = store.loadFromMemory(kNewImage, png);
  ASSERT_NE(id, 0u);
  EXPECT_EQ(store.imageWidth(static_cast<ImageId>(id)), 4);
  EXPECT_NE(store.nativeHandle(static_cast<ImageId>(id)), id);
  // A failed dynamic load leaves nothing behind.
  const Bytes junk = {1, 2, 3};
  EXPECT_EQ(store.loadFromMemory(kNewImage, junk), 0u);
}

TEST_F(ImageStoreTest, DataStartingLikeAJpegThatIsNotOneFails) {
  const Bytes data = {0xFF, 0xD8, 0x00, 0x11, 0x22, 0x33};
  ASSERT_NE(store.create(55, 2, 2, 24), 0u);
  LoadStatus status = LoadStatus::loaded;
  status = store.loadData(55, data).status;
  EXPECT_EQ(status, LoadStatus::unknownFormat);
  EXPECT_EQ(store.imageWidth(55), 0);
}

TEST_F(ImageStoreTest, IconHeaderWithoutUsableEntryGoesOnAndFails) {
  const Bytes data = {0, 0, 1, 0, 0, 0};  // no entries
  EXPECT_EQ(store.loadFromMemory(58, data), 0u);
}

// ---- resample and save: the store's side ----

TEST_F(ImageStoreTest, ResampleToTheSameSizeAnswersTheHandleUntouched) {
  const auto handle = store.create(55, 8, 6, 24);
  ASSERT_NE(handle, 0u);
  store.raster(55)->data()[0] = 42;
  EXPECT_EQ(store.resample(55, 8, 6, ResampleMode::smooth), handle);
  EXPECT_EQ(store.raster(55)->data()[0], 42);
}

TEST_F(ImageStoreTest, ResampleChangesTheSizeKeepingTheDepths) {
  ASSERT_NE(store.create(55, 8, 6, 32), 0u);
  const auto handle = store.resample(55, 4, 3, ResampleMode::raw);
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(handle, store.nativeHandle(55));
  EXPECT_EQ(store.imageWidth(55), 4);
  EXPECT_EQ(store.imageHeight(55), 3);
  EXPECT_EQ(store.record(55)->depth, 32);
  EXPECT_EQ(store.record(55)->sourceDepth, 32);
  // Raw stretch of opaque black stays opaque black.
  EXPECT_EQ(pixelAt(*store.raster(55), 3, 2)[3], 255);
}

TEST_F(ImageStoreTest, ResampleToAnUnusableSizeLeavesNoImage) {
  ASSERT_NE(store.create(55, 8, 6, 24), 0u);
  EXPECT_EQ(store.resample(55, 0, 6, ResampleMode::smooth), 0u);
  EXPECT_EQ(store.imageWidth(55), 0);
  EXPECT_EQ(store.nativeHandle(55), 0u);
  EXPECT_EQ(store.resample(55, 8, 6, ResampleMode::smooth), 0u);
}

TEST_F(ImageStoreTest, ResampleOfNoImageAnswersZero) {
  EXPECT_EQ(store.resample(12, 4, 4, ResampleMode::smooth), 0u);
  EXPECT_EQ(store.resample(kNewImage, 4, 4, ResampleMode::smooth), 0u);
}

TEST_F(ImageStoreTest, SaveRefusesEmptyPathAndMissingImage) {
  ASSERT_NE(store.create(55, 2, 2, 24), 0u);
  EXPECT_EQ(store.save(55, "", kPngEncoder, 7, -1), SaveStatus::badRequest);
  EXPECT_EQ(store.save(56, "/tmp/pixmoor-never-written.png", kPngEncoder, 7, -1), SaveStatus::badRequest);
}

}  // namespace
}  // namespace pixmoor::image
