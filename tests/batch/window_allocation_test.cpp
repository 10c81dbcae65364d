// A picture whose read window cannot be had: the machine is out of memory,
// which must not pass for a file that ended early. This program replaces the
// allocation the window is made with (new[] without exceptions), so that one
// size can be made to fail on demand.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <new>
#include <random>

#include "batch/process_picture.h"
#include "batch_test_support.h"
#include "image/picture_input.h"

namespace {
std::atomic<std::size_t> failingSize{0};
}  // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (size != 0 && size == failingSize.load()) return nullptr;
  try {
    return ::operator new[](size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

namespace pixmoor::batch {
namespace {

using pixmoor::testing::TempFolder;
using pixmoor::testing::writeBytes;

// Pictures of noise, so that each file is larger than one read window.
constexpr int kWidth = 1024;
constexpr int kHeight = 768;

std::unique_ptr<image::Raster> noise() {
  auto raster = image::makeRaster(kWidth, kHeight, 24);
  std::mt19937 random(5);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < 3 * kWidth; ++x) raster->storageRow(y)[x] = static_cast<std::uint8_t>(random());
  }
  return raster;
}

void writeBmp(const std::string& path, const image::Raster& raster) {
  const std::uint32_t rowBytes = static_cast<std::uint32_t>(raster.stride);
  const std::uint32_t pixelBytes = rowBytes * static_cast<std::uint32_t>(raster.height);
  std::string file(54, '\0');
  const auto put = [&file](std::size_t at, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) file[at + i] = static_cast<char>(value >> (8 * i));
  };
  file[0] = 'B';
  file[1] = 'M';
  put(2, 54 + pixelBytes, 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, static_cast<std::uint32_t>(raster.width), 4);
  put(22, static_cast<std::uint32_t>(raster.height), 4);
  put(26, 1, 2);
  put(28, 24, 2);
  put(34, pixelBytes, 4);
  file.append(reinterpret_cast<const char*>(raster.data()), pixelBytes);
  writeBytes(path, file);
}

TEST(WindowAllocation, FailingIsTooLargeForMemoryNeverABlackPicture) {
  testing::registerCodecs();
  const TempFolder folder;
  const auto pixels = noise();
  writeBmp(folder.file("bmp.bmp"), *pixels);
  ASSERT_EQ(image::saveRaster(*pixels, 24, folder.file("png.png"), image::kPngEncoder, 7, -1),
            image::SaveStatus::saved);
  ASSERT_EQ(image::saveRaster(*pixels, 24, folder.file("jpg.jpg"), image::kJpegEncoder, 10, -1),
            image::SaveStatus::saved);

  settings::Settings s;
  s.mode = settings::SizeMode::relative;
  s.landscapeWidth = 64;
  s.portraitHeight = 64;
  s.prefix = "out_";
  for (const char* name : {"bmp.bmp", "png.png", "jpg.jpg"}) {
    const std::string source = folder.file(name);
    ASSERT_GT(std::filesystem::file_size(source), image::PictureInput::kWindow) << name;
    failingSize = image::PictureInput::kWindow;
    const PictureOutcome outcome = processPicture(source, s, nullptr);
    failingSize = 0;
    EXPECT_EQ(outcome.reason, FailureReason::tooLargeForMemory) << name;
    EXPECT_FALSE(std::filesystem::exists(outcome.outputPath)) << name;
    // With the window, the same picture is written.
    EXPECT_TRUE(processPicture(source, s, nullptr).written()) << name;
  }
}

}  // namespace
}  // namespace pixmoor::batch
