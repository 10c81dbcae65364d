// The AVIF writer, read back with libavif's own decoder: pixels and alpha
// within a tolerance that a swap, a flip or a row out of place passes far;
// the ICC profile and EXIF block kept byte for byte; a Stop during the
// encode (which libavif cannot abort) answered when it ends, with no file.
#include "encoders/avif_writer.h"

#include <avif/avif.h>
#include <gtest/gtest.h>

#include <string>

#include "encode_test_support.h"
#include "encoders/encode.h"

namespace pixmoor::image {
namespace {

using testing::DecodedPixels;
using testing::meanDifference;
using testing::readBytes;
using testing::ScratchFolder;

struct DecodedAvif {
  DecodedPixels pixels;
  std::vector<std::uint8_t> icc;
  std::vector<std::uint8_t> exif;
  int primaries = 0;
  int transfer = 0;
  bool hasAlpha = false;
};

DecodedAvif decodeAvif(const std::vector<std::uint8_t>& bytes) {
  DecodedAvif result;
  avifDecoder* decoder = avifDecoderCreate();
  if (avifDecoderSetIOMemory(decoder, bytes.data(), bytes.size()) == AVIF_RESULT_OK &&
      avifDecoderParse(decoder) == AVIF_RESULT_OK && avifDecoderNextImage(decoder) == AVIF_RESULT_OK) {
    const avifImage* image = decoder->image;
    result.icc.assign(image->icc.data, image->icc.data + image->icc.size);
    result.exif.assign(image->exif.data, image->exif.data + image->exif.size);
    result.primaries = image->colorPrimaries;
    result.transfer = image->transferCharacteristics;
    result.hasAlpha = image->alphaPlane != nullptr;
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, image);
    rgb.format = AVIF_RGB_FORMAT_BGRA;
    rgb.depth = 8;
    avifRGBImageAllocatePixels(&rgb);
    if (avifImageYUVToRGB(image, &rgb) == AVIF_RESULT_OK) {
      result.pixels.width = static_cast<int>(rgb.width);
      result.pixels.height = static_cast<int>(rgb.height);
      result.pixels.channels = 4;
      for (std::uint32_t y = 0; y < rgb.height; ++y)
        result.pixels.bytes.insert(result.pixels.bytes.end(), rgb.pixels + y * rgb.rowBytes,
                                   rgb.pixels + y * rgb.rowBytes + rgb.width * 4);
    }
    avifRGBImageFreePixels(&rgb);
  }
  avifDecoderDestroy(decoder);
  return result;
}

class AvifWriterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { registerAvifEncoder(); }
  ScratchFolder folder;
};

// 24 and 32 bits, odd sides (4:2:0 has a half chroma row and column): the
// picture and its alpha come back close, every faulty turn of it would not;
// without a profile the file says sRGB, and an opaque picture has no alpha.
TEST_F(AvifWriterTest, PixelsAndAlphaComeBackCloseAndTheRightWayRound) {
  for (const int depth : {24, 32}) {
    SCOPED_TRACE(depth);
    const auto raster = testing::stripedPicture(97, 61, depth);
    const std::string path = folder.file("a.avif");
    ASSERT_EQ(saveRaster(*raster, depth, path, kAvifEncoder, 10, -1), SaveStatus::saved);
    const DecodedAvif decoded = decodeAvif(readBytes(path));
    EXPECT_EQ(decoded.hasAlpha, depth == 32);
    EXPECT_EQ(decoded.primaries, AVIF_COLOR_PRIMARIES_BT709);
    EXPECT_EQ(decoded.transfer, AVIF_TRANSFER_CHARACTERISTICS_SRGB);
    testing::expectTheRightWayRound(decoded.pixels, *raster, depth == 32);
  }
}

TEST_F(AvifWriterTest, IccProfileAndExifAreKept) {
  const auto raster = testing::stripedPicture(40, 30, 24);
  std::vector<std::uint8_t> icc(3144);
  for (std::size_t i = 0; i < icc.size(); ++i) icc[i] = static_cast<std::uint8_t>(i * 7 + 3);
  const std::vector<std::uint8_t> exif = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 1, 3, 0,
                                          1,   0,   0,  0, 6, 0, 0, 0, 0, 0, 0,    0, 0, 0};
  MemoryOutput out;
  const RowSource rows{raster->data(), raster->width, raster->height, raster->stride, 3, true, icc, exif};
  ASSERT_EQ(writeAvif(out, rows, 8, 24, nullptr), SaveStatus::saved);
  const DecodedAvif decoded = decodeAvif(out.bytes());
  EXPECT_TRUE(decoded.icc == icc);
  EXPECT_TRUE(decoded.exif == exif);
  EXPECT_LT(meanDifference(decoded.pixels, *raster), 4);
}

// A Stop raised while libavif encodes: the encode runs to its end, then the
// writer answers Cancelled and nothing reaches the disk.
CancelFlag* raiseDuringEncode = nullptr;

}  // namespace
}  // namespace pixmoor::image

extern "C" avifResult __real_avifEncoderWrite(avifEncoder* encoder, const avifImage* image,
                                              avifRWData* output);
extern "C" avifResult __wrap_avifEncoderWrite(avifEncoder* encoder, const avifImage* image,
                                              avifRWData* output) {
  if (pixmoor::image::raiseDuringEncode != nullptr) pixmoor::image::raiseDuringEncode->store(true);
  return __real_avifEncoderWrite(encoder, image, output);
}

namespace pixmoor::image {
namespace {

TEST_F(AvifWriterTest, StopDuringTheEncodeIsAnsweredAtItsEnd) {
  const auto raster = testing::stripedPicture(64, 48, 24);
  CancelFlag cancel{false};
  raiseDuringEncode = &cancel;
  MemoryOutput out;
  const RowSource rows{raster->data(), 64, 48, raster->stride, 3, true};
  EXPECT_EQ(writeAvif(out, rows, 8, 24, &cancel), SaveStatus::cancelled);
  EXPECT_EQ(out.bytesWritten(), 0u);
  cancel.store(false);
  EXPECT_EQ(saveRaster(*raster, 24, folder.file("a.avif"), kAvifEncoder, 8, -1, &cancel),
            SaveStatus::cancelled);
  raiseDuringEncode = nullptr;
  EXPECT_TRUE(folder.names().empty());
  cancel.store(false);
  EXPECT_EQ(saveRaster(*raster, 24, folder.file("a.avif"), kAvifEncoder, 8, -1, &cancel), SaveStatus::saved);
}

}  // namespace
}  // namespace pixmoor::image
