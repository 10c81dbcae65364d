// The header probe against the loader itself, over every picture of the
// test corpus (good, bad and questionable files of every format).
#include "image/header_probe.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "image/decoder_registry.h"
#include "image/image_store.h"

namespace pixmoor::image {
namespace {

TEST(HeaderProbe, AgreesWithTheLoaderOnTheWholeCorpus) {
  registerJpegDecoder();
  registerPngDecoder();
  ImageStore store;
  int files = 0;
  int brokenBeyondTheHeader = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(PIXMOOR_TEST_DATA)) {
    if (!entry.is_regular_file()) continue;
    const std::string path = entry.path().string();
    ++files;
    const LoadStatus loaded = store.load(1, path).status;
    const PictureHeader header = probePictureFile(path);
    if (loaded == LoadStatus::loaded) {
      // Whatever loads is planned with the size and kind it loads as.
      ASSERT_EQ(header.status, LoadStatus::loaded) << path;
      EXPECT_EQ(header.width, store.imageWidth(1)) << path;
      EXPECT_EQ(header.height, store.imageHeight(1)) << path;
      EXPECT_EQ(header.isIcon, store.record(1)->isIcon) << path;
    } else if (header.status == LoadStatus::loaded) {
      ++brokenBeyondTheHeader;  // only the pixel data shows the fault
    } else {
      EXPECT_EQ(header.status, loaded) << path;
    }
    store.release(1);
  }
  EXPECT_GT(files, 100);
  std::printf("%d files, %d refused only by their pixel data\n", files, brokenBeyondTheHeader);
  EXPECT_EQ(probePictureFile(std::string(PIXMOOR_TEST_DATA) + "/no-such-file.jpg").status,
            LoadStatus::unreadable);
  EXPECT_EQ(probePictureFile(PIXMOOR_TEST_DATA).status, LoadStatus::unreadable);
}

}  // namespace
}  // namespace pixmoor::image
