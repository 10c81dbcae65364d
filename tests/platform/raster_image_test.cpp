// Rasters of the image store shown as QImages: row order, byte order, alpha.
#include "platform/raster_image.h"

#include <gtest/gtest.h>

#include "image/raster.h"

namespace pixmoor::platform {
namespace {

TEST(RasterImage, BottomUpBgrBecomesTopDownRgb) {
  auto raster = image::makeRaster(3, 2, 24);
  ASSERT_NE(raster, nullptr);
  // Picture row 0 (the top) is storage row 1.
  std::uint8_t* top = raster->pictureRow(0);
  top[0] = 10, top[1] = 20, top[2] = 30;  // pixel (0,0): B G R
  top[6] = 1, top[7] = 2, top[8] = 3;     // pixel (2,0)
  std::uint8_t* bottom = raster->pictureRow(1);
  bottom[3] = 200, bottom[4] = 100, bottom[5] = 50;  // pixel (1,1)
  const QImage picture = rasterToQImage(raster.get());
  ASSERT_EQ(picture.size(), QSize(3, 2));
  EXPECT_EQ(picture.pixel(0, 0), qRgb(30, 20, 10));
  EXPECT_EQ(picture.pixel(2, 0), qRgb(3, 2, 1));
  EXPECT_EQ(picture.pixel(1, 1), qRgb(50, 100, 200));
  EXPECT_EQ(picture.pixel(0, 1), qRgb(0, 0, 0));
}

TEST(RasterImage, StraightAlphaIsKept) {
  auto raster = image::makeRaster(1, 1, 32);
  ASSERT_NE(raster, nullptr);
  std::uint8_t* p = raster->pictureRow(0);
  p[0] = 40, p[1] = 80, p[2] = 120, p[3] = 128;
  const QImage picture = rasterToQImage(raster.get());
  EXPECT_EQ(picture.format(), QImage::Format_ARGB32);
  EXPECT_EQ(picture.pixel(0, 0), qRgba(120, 80, 40, 128));
}

TEST(RasterImage, MissingOrMalformedRasterGivesNull) {
  EXPECT_TRUE(rasterToQImage(nullptr).isNull());
  image::Raster empty;
  EXPECT_TRUE(rasterToQImage(&empty).isNull());
  auto raster = image::makeRaster(4, 4, 24);
  raster->stride = 4;  // shorter than a row
  EXPECT_TRUE(rasterToQImage(raster.get()).isNull());
  auto odd = image::makeRaster(2, 2, 32);
  odd->depth = 16;  // neither 24 nor 32
  EXPECT_TRUE(rasterToQImage(odd.get()).isNull());
}

}  // namespace
}  // namespace pixmoor::platform
