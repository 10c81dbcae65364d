#include "game_rules/label_turn.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "image/raster.h"

namespace pixmoor::game {
namespace {

// Every label pixel gets its own colour: blue x, green y, red x ^ y.
struct Bgr {
  std::uint8_t b, g, r;
  bool operator==(const Bgr&) const = default;
};
Bgr labelColour(int x, int y) {
  return {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(x ^ (y * 7))};
}

// Top-down pixel access written against the raw storage: bottom-up rows.
Bgr pixelAt(const image::Raster& r, int x, int y) {
  const std::uint8_t* p = r.data() +
                          static_cast<std::size_t>(r.stride) * static_cast<std::size_t>(r.height - 1 - y) +
                          static_cast<std::size_t>(x) * static_cast<std::size_t>(r.depth / 8);
  return {p[0], p[1], p[2]};
}

std::unique_ptr<image::Raster> makeLabel(int depth) {
  auto label = image::makeRaster(kLabelWidth, kLabelHeight, depth);
  for (int y = 0; y < kLabelHeight; ++y) {
    for (int x = 0; x < kLabelWidth; ++x) {
      std::uint8_t* p = label->data() +
                        static_cast<std::size_t>(label->stride) * static_cast<std::size_t>(23 - y) +
                        static_cast<std::size_t>(x) * static_cast<std::size_t>(depth / 8);
      const Bgr c = labelColour(x, y);
      p[0] = c.b;
      p[1] = c.g;
      p[2] = c.r;
      if (depth == 32) p[3] = 200;
    }
  }
  return label;
}

TEST(LabelTurnTest, CounterClockwiseTakesPixel127MinusYX) {
  for (int depth : {24, 32}) {
    auto label = makeLabel(depth);
    auto bat = image::makeRaster(24, 128, 24);
    ASSERT_TRUE(turnLabelCounterClockwise(*label, *bat));
    for (int y = 0; y < 128; ++y) {
      for (int x = 0; x < 24; ++x) {
        ASSERT_EQ(pixelAt(*bat, x, y), labelColour(127 - y, x)) << x << "," << y;
      }
    }
    // The word reads from bottom to top: the label's top-left corner is now
    // the bottom-left corner and its top-right corner the top-left one.
    EXPECT_EQ(pixelAt(*bat, 0, 127), labelColour(0, 0));
    EXPECT_EQ(pixelAt(*bat, 0, 0), labelColour(127, 0));
    EXPECT_EQ(pixelAt(*bat, 23, 127), labelColour(0, 23));
  }
}

TEST(LabelTurnTest, ClockwiseTakesPixelY23MinusX) {
  for (int depth : {24, 32}) {
    auto label = makeLabel(depth);
    auto bat = image::makeRaster(24, 128, 24);
    ASSERT_TRUE(turnLabelClockwise(*label, *bat));
    for (int y = 0; y < 128; ++y) {
      for (int x = 0; x < 24; ++x) {
        ASSERT_EQ(pixelAt(*bat, x, y), labelColour(y, 23 - x)) << x << "," << y;
      }
    }
    // The word reads from top to bottom: the label's top-left corner is now
    // the top-right corner.
    EXPECT_EQ(pixelAt(*bat, 23, 0), labelColour(0, 0));
    EXPECT_EQ(pixelAt(*bat, 0, 127), labelColour(127, 23));
  }
}

TEST(LabelTurnTest, KeepsAlphaInto32BitBatsAndMakesOpaqueFrom24Bits) {
  auto label32 = makeLabel(32);
  auto bat = image::makeRaster(24, 128, 32);
  ASSERT_TRUE(turnLabelClockwise(*label32, *bat));
  EXPECT_EQ(bat->pictureRow(5)[7 * 4 + 3], 200);
  auto label24 = makeLabel(24);
  ASSERT_TRUE(turnLabelClockwise(*label24, *bat));
  EXPECT_EQ(bat->pictureRow(5)[7 * 4 + 3], 255);
}

TEST(LabelTurnTest, WrongSizesLeaveTheTargetUntouched) {
  auto label = makeLabel(24);
  struct Size {
    int w, h;
  };
  for (const Size size : {Size{128, 24}, Size{24, 127}, Size{25, 128}, Size{128, 128}}) {
    auto bat = image::makeRaster(size.w, size.h, 24);
    std::memset(bat->data(), 0x5A, bat->sizeBytes());
    EXPECT_FALSE(turnLabelCounterClockwise(*label, *bat)) << size.w << "x" << size.h;
    EXPECT_FALSE(turnLabelClockwise(*label, *bat)) << size.w << "x" << size.h;
    for (std::size_t i = 0; i < bat->sizeBytes(); ++i) ASSERT_EQ(bat->data()[i], 0x5A);
  }
  auto wrongLabel = image::makeRaster(127, 24, 24);
  auto bat = image::makeRaster(24, 128, 24);
  EXPECT_FALSE(turnLabelCounterClockwise(*wrongLabel, *bat));
  image::Raster empty;
  EXPECT_FALSE(turnLabelClockwise(empty, *bat));
  EXPECT_FALSE(turnLabelClockwise(*label, empty));
}

}  // namespace
}  // namespace pixmoor::game
