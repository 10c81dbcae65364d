#include "game/qt_drawing.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cstdint>
#include <vector>

#include "game/game_test_app.h"
#include "image_store/image_store.h"
#include "platform/raster_image.h"

namespace pixmoor::game {
namespace {

class QtDrawingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::gameTestApplication(); }
};

// A 3 x 2 24-bit Image: rows of 12 bytes (9 of pixels, 3 of padding), the
// bottom row first in memory.
image::ImageId makeSmall(image::ImageStore& store, int depth) {
  const auto id = static_cast<image::ImageId>(store.create(image::kNewImage, 3, 2, depth));
  image::Raster* r = store.raster(id);
  const int bytes = depth / 8;
  for (int storageRow = 0; storageRow < 2; ++storageRow) {
    for (int x = 0; x < 3; ++x) {
      std::uint8_t* p = r->storageRow(storageRow) + x * bytes;
      p[0] = static_cast<std::uint8_t>(10 + x);           // blue
      p[1] = static_cast<std::uint8_t>(20 + storageRow);  // green
      p[2] = static_cast<std::uint8_t>(30 + x + storageRow * 3);
      if (bytes == 4) p[3] = static_cast<std::uint8_t>(100 + x);
    }
  }
  return id;
}

TEST_F(QtDrawingTest, RasterBecomesATopDownQImage) {
  image::ImageStore store;
  const image::ImageId id = makeSmall(store, 24);
  ASSERT_EQ(store.raster(id)->stride, 12);
  const QImage picture = platform::rasterToQImage(store.raster(id));
  ASSERT_EQ(picture.size(), QSize(3, 2));
  // Picture row 0 is storage row 1.
  EXPECT_EQ(picture.pixel(0, 0), qRgb(33, 21, 10));
  EXPECT_EQ(picture.pixel(2, 0), qRgb(35, 21, 12));
  EXPECT_EQ(picture.pixel(0, 1), qRgb(30, 20, 10));
  EXPECT_EQ(picture.pixel(2, 1), qRgb(32, 20, 12));
}

TEST_F(QtDrawingTest, ThirtyTwoBitsKeepStraightAlpha) {
  image::ImageStore store;
  const image::ImageId id = makeSmall(store, 32);
  const QImage picture = platform::rasterToQImage(store.raster(id));
  EXPECT_EQ(picture.format(), QImage::Format_ARGB32);
  EXPECT_EQ(picture.pixel(1, 1), qRgba(31, 20, 11, 101));
  auto back = image::makeRaster(3, 2, 32);
  ASSERT_TRUE(copyQImageToRaster(picture, *back));
  EXPECT_EQ(
      std::vector<std::uint8_t>(back->data(), back->data() + back->sizeBytes()),
      std::vector<std::uint8_t>(store.raster(id)->data(), store.raster(id)->data() + back->sizeBytes()));
}

TEST_F(QtDrawingTest, DrawingLandsInTheRasterBottomUpInBgrOrder) {
  image::ImageStore store;
  const image::ImageId id = makeSmall(store, 24);
  image::Raster* r = store.raster(id);
  r->storageRow(0)[9] = 0xAB;  // padding bytes are not picture
  r->storageRow(1)[11] = 0xCD;
  {
    ImageDrawing drawing(store, id);
    ASSERT_TRUE(drawing.valid());
    EXPECT_EQ(drawing.width(), 3);
    EXPECT_EQ(drawing.height(), 2);
    drawing.painter().fillRect(2, 0, 1, 1, QColor(200, 100, 50));  // top-right pixel
    EXPECT_TRUE(drawing.end());
    EXPECT_FALSE(drawing.end());  // once only
  }
  // The top picture row is the second storage row.
  const std::uint8_t* top = r->storageRow(1);
  EXPECT_EQ(top[6], 50);
  EXPECT_EQ(top[7], 100);
  EXPECT_EQ(top[8], 200);
  // Everything else as it was.
  EXPECT_EQ(top[0], 10);
  EXPECT_EQ(top[1], 21);
  EXPECT_EQ(top[2], 33);
  EXPECT_EQ(r->storageRow(0)[6], 12);
  EXPECT_EQ(r->storageRow(0)[8], 32);
  EXPECT_EQ(r->storageRow(0)[9], 0xAB);
  EXPECT_EQ(r->storageRow(1)[11], 0xCD);
}

TEST_F(QtDrawingTest, DestructorEndsTheDrawing) {
  image::ImageStore store;
  const auto id = static_cast<image::ImageId>(store.create(image::kNewImage, 4, 4, 24));
  {
    ImageDrawing drawing(store, id);
    ASSERT_TRUE(drawing.valid());
    drawing.painter().fillRect(0, 0, 4, 4, Qt::white);
  }
  const image::Raster* r = store.raster(id);
  for (int y = 0; y < 4; ++y) {
    for (int i = 0; i < 12; ++i) EXPECT_EQ(r->storageRow(y)[i], 255);
  }
}

TEST_F(QtDrawingTest, NoRasterNoDrawing) {
  image::ImageStore store;
  ImageDrawing missing(store, 12345);
  EXPECT_FALSE(missing.valid());
  EXPECT_FALSE(missing.end());
  ImageDrawing minusOne(store, image::kNewImage);
  EXPECT_FALSE(minusOne.valid());
  const auto id = static_cast<image::ImageId>(store.create(image::kNewImage, 2, 2, 24));
  store.release(id);
  ImageDrawing released(store, id);
  EXPECT_FALSE(released.valid());
  ASSERT_NE(store.create(5, 2, 2, 24), 0u);
  store.release(5);
  ImageDrawing emptySlot(store, 5);
  EXPECT_FALSE(emptySlot.valid());
}

TEST_F(QtDrawingTest, CopyBackRefusesAnotherSize) {
  auto r = image::makeRaster(3, 2, 24);
  QImage other(2, 3, QImage::Format_RGB32);
  other.fill(Qt::white);
  EXPECT_FALSE(copyQImageToRaster(other, *r));
  for (std::size_t i = 0; i < r->sizeBytes(); ++i) EXPECT_EQ(r->data()[i], 0);
}

}  // namespace
}  // namespace pixmoor::game
