// The header reading of a plan against the loader itself, over every picture
// of the test corpus (good, bad and questionable files of every format) and
// headers that promise more picture than their data holds.
#include "codecs/header_probe.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "codecs/format_registry.h"
#include "codecs/load_picture.h"
#include "decode_test_support.h"

namespace pixmoor::image {
namespace {

using decodetest::Bytes;

void putBigEndian(Bytes& bytes, std::size_t at, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * (size - 1 - i)));
}

Bytes noise(std::size_t count) {
  std::mt19937 random(7);
  Bytes bytes(count);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return bytes;
}

// A JPEG whose frame header says 8000 x 8000, followed by only 30 kB of
// file: a large photo cut off early, as a copy that broke off leaves it.
Bytes cutJpeg() {
  decodetest::JpegRecipe recipe;
  recipe.width = recipe.height = 256;
  recipe.samples = noise(256 * 256 * 3);
  Bytes jpeg = decodetest::makeJpeg(recipe);
  for (std::size_t at = 2; at + 9 < jpeg.size(); ++at) {
    if (jpeg[at] == 0xFF && jpeg[at + 1] == 0xC0) {
      putBigEndian(jpeg, at + 5, 8000, 2);
      putBigEndian(jpeg, at + 7, 8000, 2);
      break;
    }
  }
  jpeg.resize(30000);
  return jpeg;
}

// A PNG whose header says 8000 x 8000 over the data of a small picture.
Bytes cutPng() {
  decodetest::PngRecipe recipe;
  recipe.width = recipe.height = 128;
  const Bytes pixels = noise(128 * 128 * 3);
  for (int y = 0; y < 128; ++y)
    recipe.rows.emplace_back(pixels.begin() + y * 384, pixels.begin() + y * 384 + 384);
  Bytes png = decodetest::makePng(recipe);
  putBigEndian(png, 16, 8000, 4);
  putBigEndian(png, 20, 8000, 4);
  putBigEndian(png, 29, static_cast<std::uint32_t>(crc32(0, &png[12], 17)), 4);
  return png;
}

// Every file (and the cut ones) under two requests, the run's plain load
// and one that reduces to a quarter: whatever the header reading says, the
// load says too, with the same size and kind; where the header was taken
// and the load still failed, the load says it took the same header (its
// pixel data was at fault).
TEST(HeaderProbe, AgreesWithTheLoaderOnTheWholeCorpus) {
  registerJpegDecoder();
  registerPngDecoder();
  const decodetest::TempFolder folder;
  decodetest::writeFile(folder.file("cut.jpg"), cutJpeg());
  decodetest::writeFile(folder.file("cut.png"), cutPng());
  std::vector<std::string> paths = {folder.file("cut.jpg"), folder.file("cut.png")};
  for (const auto& entry : std::filesystem::recursive_directory_iterator(PIXMOOR_TEST_DATA)) {
    if (entry.is_regular_file()) paths.push_back(entry.path().string());
  }
  ASSERT_GT(paths.size(), 470u);
  const ReduceTo quarter = [](int width, int height) {
    return PictureSize{std::max(1, width / 4), std::max(1, height / 4)};
  };
  for (const ReduceTo* reduce : {static_cast<const ReduceTo*>(nullptr), &quarter}) {
    const LoadRequest request{machineDecodeLimits(), reduce, FormatSet::companion};
    for (const std::string& path : paths) {
      const PictureHeader header = probePictureFile(path, request);
      const LoadedPicture load = loadPicture(path, request);
      if (header.status != LoadStatus::loaded) {
        EXPECT_EQ(load.status, header.status) << path;
        EXPECT_FALSE(load.headerTaken) << path;
        continue;
      }
      ASSERT_TRUE(load.headerTaken) << path << " loads as " << static_cast<int>(load.status);
      EXPECT_EQ(load.picture.source.width, header.width) << path;
      EXPECT_EQ(load.picture.source.height, header.height) << path;
      EXPECT_EQ(load.picture.isIcon, header.isIcon) << path;
      if (load.loaded() && reduce == nullptr) {
        EXPECT_EQ(load.picture.raster->width, header.width) << path;
        EXPECT_EQ(load.picture.raster->height, header.height) << path;
      }
    }
  }
  // The headers that promise more than their data holds are refused by both.
  for (const char* name : {"cut.jpg", "cut.png"}) {
    EXPECT_EQ(probePictureFile(folder.file(name)).status, LoadStatus::unknownFormat) << name;
    EXPECT_EQ(loadPicture(folder.file(name)).status, LoadStatus::unknownFormat) << name;
  }
  EXPECT_EQ(probePictureFile(std::string(PIXMOOR_TEST_DATA) + "/no-such-file.jpg").status,
            LoadStatus::unreadable);
  EXPECT_EQ(probePictureFile(PIXMOOR_TEST_DATA).status, LoadStatus::unreadable);
}

}  // namespace
}  // namespace pixmoor::image
