// Every good picture of the JPEG and PNG corpora, loaded, resized and saved
// the way the batch does it, must come out as a file that libjpeg and libpng
// open at the target size, in the format the source depth asks for.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "codecs/format_registry.h"
#include "encode_test_support.h"
#include "image_store/image_store.h"

namespace pixmoor::image {
namespace {

using testing::findChunk;
using testing::pngChunks;
using testing::readBytes;
using testing::ScratchFolder;

std::vector<std::string> goodFiles(const std::string& kind) {
  std::vector<std::string> out;
  const std::filesystem::path folder =
      std::filesystem::path(PIXMOOR_TEST_DATA) / kind / (kind == "bmp" ? "g" : "good");
  if (!std::filesystem::is_directory(folder)) return out;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.is_regular_file()) out.push_back(entry.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool jpegSize(const std::vector<std::uint8_t>& bytes, int* w, int* h, int* components) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  const bool ok = jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK;
  if (ok) {
    *w = static_cast<int>(cinfo.image_width);
    *h = static_cast<int>(cinfo.image_height);
    *components = cinfo.num_components;
  }
  jpeg_destroy_decompress(&cinfo);
  return ok;
}

class EncodeCorpus : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    registerJpegDecoder();
    registerJpegEncoder();
    registerPngDecoder();
    registerPngEncoder();
  }
  ScratchFolder folder;
  ImageStore store;
};

TEST_F(EncodeCorpus, EveryGoodPictureIsWrittenAtItsTargetSize) {
  std::vector<std::string> files = goodFiles("jpeg");
  const auto png = goodFiles("png");
  files.insert(files.end(), png.begin(), png.end());
  if (files.empty()) GTEST_SKIP() << "no corpus in " << PIXMOOR_TEST_DATA;

  int written = 0;
  for (const auto& path : files) {
    SCOPED_TRACE(path);
    if (store.loadFromFile(kWorkingPicture, path) == 0) continue;  // the readers' business
    const int w = std::max(1, store.imageWidth(kWorkingPicture) * 2 / 3);
    const int h = std::max(1, store.imageHeight(kWorkingPicture) * 2 / 3);
    ASSERT_NE(store.resample(kWorkingPicture, w, h, ResampleMode::smooth), 0u);
    const ImageRecord* record = store.record(kWorkingPicture);
    ASSERT_NE(record, nullptr);
    const int sourceDepth = record->sourceDepth;
    const int rasterDepth = record->raster->depth;

    ASSERT_EQ(store.save(kWorkingPicture, folder.file("out.jpg"), kJpegEncoder, 8, -1), SaveStatus::saved);
    int jw = 0, jh = 0, components = 0;
    ASSERT_TRUE(jpegSize(readBytes(folder.file("out.jpg")), &jw, &jh, &components));
    EXPECT_EQ(jw, w);
    EXPECT_EQ(jh, h);
    EXPECT_EQ(components, 3);

    ASSERT_EQ(store.save(kWorkingPicture, folder.file("out.png"), kPngEncoder, 7, -1), SaveStatus::saved);
    const auto bytes = readBytes(folder.file("out.png"));
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()));
    image.format = PNG_FORMAT_RGBA;
    std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
    EXPECT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) << image.message;
    EXPECT_EQ(static_cast<int>(image.width), w);
    EXPECT_EQ(static_cast<int>(image.height), h);
    const auto chunks = pngChunks(bytes);
    ASSERT_NE(findChunk(chunks, "IHDR"), nullptr);
    const int bitDepth = findChunk(chunks, "IHDR")->data[8];
    const int colourType = findChunk(chunks, "IHDR")->data[9];
    if (sourceDepth == 1 || sourceDepth == 2 || sourceDepth == 4 || sourceDepth == 8) {
      EXPECT_EQ(colourType, 3);
      EXPECT_EQ(bitDepth, sourceDepth);
      ASSERT_NE(findChunk(chunks, "PLTE"), nullptr);
      EXPECT_EQ(findChunk(chunks, "PLTE")->data.size(), 3u << sourceDepth);
    } else {
      EXPECT_EQ(colourType, rasterDepth == 32 ? 6 : 2);
      EXPECT_EQ(bitDepth, 8);
    }
    ++written;
    store.release(kWorkingPicture);
  }
  // Every good corpus picture loads today; a reader that starts refusing
  // many of them should not make this test quietly weaker.
  EXPECT_GE(written * 10, static_cast<int>(files.size()) * 9);
  EXPECT_EQ(folder.names(), (std::set<std::string>{"out.jpg", "out.png"}));
}

// Palette sources (PNG and BMP of 1, 2, 4 and 8 bits without alpha) written
// at their own size hold no more colours than their palette: every pixel
// comes back exactly.
TEST_F(EncodeCorpus, PaletteSourcesAtTheirOwnSizeComeBackPixelIdentical) {
  std::vector<std::string> files = goodFiles("png");
  const auto bmp = goodFiles("bmp");
  files.insert(files.end(), bmp.begin(), bmp.end());
  std::map<int, int> checked;  // by source depth
  for (const auto& path : files) {
    if (store.loadFromFile(kWorkingPicture, path) == 0) continue;
    const ImageRecord& source = *store.record(kWorkingPicture);
    if (source.sourceDepth > 8 || source.depth != 24) continue;
    SCOPED_TRACE(path);
    ASSERT_EQ(store.save(kWorkingPicture, folder.file("out.png"), kPngEncoder, 7, -1), SaveStatus::saved);
    ImageStore written;
    ASSERT_NE(written.loadFromFile(0, folder.file("out.png")), 0u);
    const Raster& a = *source.raster;
    const Raster& b = *written.raster(0);
    ASSERT_EQ(std::vector<std::uint8_t>(a.data(), a.data() + a.sizeBytes()),
              std::vector<std::uint8_t>(b.data(), b.data() + b.sizeBytes()));
    ++checked[source.sourceDepth];
  }
  EXPECT_EQ(checked.size(), 4u);  // depths 1, 2, 4 and 8 all seen
}

}  // namespace
}  // namespace pixmoor::image
