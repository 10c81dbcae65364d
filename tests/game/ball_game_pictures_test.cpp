#include "game/ball_game_pictures.h"

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cstdint>

#include "game/game_test_app.h"
#include "game/qt_drawing.h"
#include "game_rules/ball_game_rules.h"
#include "game_rules/label_turn.h"
#include "image_store/image_store.h"
#include "platform/raster_image.h"

namespace pixmoor::game {
namespace {

class BallGamePicturesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::gameTestApplication(); }

  image::ImageId make(int width, int height) {
    return static_cast<image::ImageId>(store_.create(image::kNewImage, width, height, 24));
  }
  QImage shown(image::ImageId id) { return platform::rasterToQImage(store_.raster(id)); }

  image::ImageStore store_;
  QFont font_ = makeGameFont(96.0);
};

bool isFrame(int x, int y, int width, int height) {
  return x == 0 || y == 0 || x == width - 1 || y == height - 1;
}

struct Box {
  int left = 1000, top = 1000, right = -1, bottom = -1;
};

// The box around every interior pixel that is not white.
Box inkBox(const QImage& picture) {
  Box box;
  for (int y = 1; y < picture.height() - 1; ++y) {
    for (int x = 1; x < picture.width() - 1; ++x) {
      if (picture.pixel(x, y) != qRgb(255, 255, 255)) {
        box.left = std::min(box.left, x);
        box.right = std::max(box.right, x);
        box.top = std::min(box.top, y);
        box.bottom = std::max(box.bottom, y);
      }
    }
  }
  return box;
}

TEST_F(BallGamePicturesTest, FontIsVerdanaTenPointsAtTheScreenResolution) {
  EXPECT_EQ(font_.family(), QStringLiteral("Verdana"));
  EXPECT_EQ(font_.pixelSize(), 13);
  EXPECT_EQ(makeGameFont(120.0).pixelSize(), 17);
  EXPECT_EQ(makeGameFont(144.0).pixelSize(), 20);
  EXPECT_EQ(makeGameFont(0.0).pixelSize(), 13);
}

TEST_F(BallGamePicturesTest, LabelIsWhiteWithABlackFrameAndTheWordCentred) {
  for (const char* word : {"QVLM", "AntiVirus"}) {
    const image::ImageId id = make(128, 24);
    ASSERT_TRUE(drawLabelPicture(store_, id, font_, word));
    const QImage picture = shown(id);
    int ink = 0;
    for (int y = 0; y < 24; ++y) {
      for (int x = 0; x < 128; ++x) {
        const QRgb c = picture.pixel(x, y);
        if (isFrame(x, y, 128, 24)) {
          ASSERT_EQ(c, qRgb(0, 0, 0)) << x << "," << y;
        } else {
          // Black text smoothed onto white: greys only.
          ASSERT_TRUE(qRed(c) == qGreen(c) && qGreen(c) == qBlue(c)) << word << " " << x << "," << y;
          ink += qRed(c) < 128 ? 1 : 0;
        }
      }
    }
    EXPECT_GT(ink, 20) << word;
    const Box box = inkBox(picture);
    // Centred: the margins left and right, and above and below, differ by
    // the glyphs' own side bearings and descent only.
    EXPECT_LE(std::abs(box.left - (127 - box.right)), 4) << word;
    EXPECT_LE(std::abs(box.top - (23 - box.bottom)), 5) << word;
    EXPECT_GE(box.top, 3);
    EXPECT_LE(box.bottom, 20);
  }
}

TEST_F(BallGamePicturesTest, LongerWordsAreWider) {
  const image::ImageId a = make(128, 24);
  const image::ImageId b = make(128, 24);
  ASSERT_TRUE(drawLabelPicture(store_, a, font_, "QVLM"));
  ASSERT_TRUE(drawLabelPicture(store_, b, font_, "AntiVirus"));
  const Box short_ = inkBox(shown(a));
  const Box long_ = inkBox(shown(b));
  EXPECT_LT(long_.left, short_.left);
  EXPECT_GT(long_.right, short_.right);
}

TEST_F(BallGamePicturesTest, ScoreIsWrittenInItsOwnColour) {
  const image::ImageId id = make(128, 24);
  ASSERT_TRUE(drawScorePicture(store_, id, font_, 12, 345));
  const QImage picture = shown(id);
  int strongest = 255;
  for (int y = 0; y < 24; ++y) {
    for (int x = 0; x < 128; ++x) {
      const QRgb c = picture.pixel(x, y);
      if (isFrame(x, y, 128, 24)) {
        ASSERT_EQ(c, qRgb(0, 0, 0));
        continue;
      }
      // Between white and red 218, green 61, blue 211.
      ASSERT_GE(qRed(c), 218) << x << "," << y;
      ASSERT_GE(qBlue(c), 211) << x << "," << y;
      ASSERT_GE(qRed(c), qGreen(c));
      strongest = std::min(strongest, qGreen(c));
    }
  }
  EXPECT_LE(strongest, 70);  // the stems are drawn in the full colour
  // More digits, wider text.
  const image::ImageId small = make(128, 24);
  ASSERT_TRUE(drawScorePicture(store_, small, font_, 0, 0));
  EXPECT_GT(inkBox(shown(small)).left, inkBox(picture).left);
}

TEST_F(BallGamePicturesTest, BallIsYellowWithABlackFrame) {
  const image::ImageId id = make(8, 8);
  ASSERT_TRUE(drawBallPicture(store_, id));
  const image::Raster* r = store_.raster(id);
  for (int y = 0; y < 8; ++y) {
    const std::uint8_t* row = r->pictureRow(y);
    for (int x = 0; x < 8; ++x) {
      const std::uint8_t* p = row + x * 3;
      const bool frame = isFrame(x, y, 8, 8);
      EXPECT_EQ(p[0], 0) << x << "," << y;                // blue
      EXPECT_EQ(p[1], frame ? 0 : 255) << x << "," << y;  // green
      EXPECT_EQ(p[2], frame ? 0 : 255) << x << "," << y;  // red
    }
  }
}

TEST_F(BallGamePicturesTest, WrongSizesAndMissingImagesAreRefused) {
  const image::ImageId wide = make(129, 24);
  EXPECT_FALSE(drawLabelPicture(store_, wide, font_, "QVLM"));
  EXPECT_FALSE(drawScorePicture(store_, wide, font_, 0, 0));
  EXPECT_FALSE(drawBallPicture(store_, wide));
  EXPECT_FALSE(drawBallPicture(store_, make(8, 9)));
  EXPECT_FALSE(drawLabelPicture(store_, 77, font_, "QVLM"));
  const image::Raster* r = store_.raster(wide);
  for (std::size_t i = 0; i < r->sizeBytes(); ++i) ASSERT_EQ(r->data()[i], 0);
}

}  // namespace
}  // namespace pixmoor::game
