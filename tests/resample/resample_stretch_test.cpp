// The raw stretch: each target pixel copies, whole, the source pixel under
// its centre; picture rows counted from the top.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "image/raster.h"
#include "resample/resample.h"

namespace pixmoor::image {
namespace {

std::unique_ptr<Raster> rasterOf(int width, int height, int depth) {
  auto raster = makeRaster(width, height, depth);
  EXPECT_NE(raster, nullptr);
  return raster;
}

// Every pixel of a w x h picture gets a distinct first byte: 10 * y + x + 1 (picture rows).
std::unique_ptr<Raster> numbered(int w, int h, int depth) {
  auto r = rasterOf(w, h, depth);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = r->pictureRow(y) + x * r->bytesPerPixel();
      p[0] = static_cast<std::uint8_t>(10 * y + x + 1);
      p[1] = static_cast<std::uint8_t>(100 + x);
      p[2] = static_cast<std::uint8_t>(200 + y);
      if (depth == 32) p[3] = static_cast<std::uint8_t>(x * 7 + y);
    }
  }
  return r;
}

std::vector<std::vector<int>> firstBytes(const Raster& r) {
  std::vector<std::vector<int>> rows;
  for (int y = 0; y < r.height; ++y) {
    rows.emplace_back();
    for (int x = 0; x < r.width; ++x) rows.back().push_back(r.pictureRow(y)[x * r.bytesPerPixel()]);
  }
  return rows;
}

struct StretchCase {
  int oldW, oldH, newW, newH;
  std::vector<std::vector<int>> picks;  // expected first bytes, picture rows
};

class RawStretch : public ::testing::TestWithParam<StretchCase> {};

TEST_P(RawStretch, PicksTheSourcePixelUnderEachCentre) {
  const StretchCase& c = GetParam();
  for (int depth : {24, 32}) {
    auto source = numbered(c.oldW, c.oldH, depth);
    auto target = rasterOf(c.newW, c.newH, depth);
    ASSERT_TRUE(stretchRaw(*source, *target));
    EXPECT_EQ(firstBytes(*target), c.picks) << depth;
  }
}

// Centres: 4 -> 2 lands on 1.0 and 3.0 (the later pixel of each pair);
// 2 -> 4 on 0.25, 0.75, 1.25, 1.75; 3 -> 2 on 0.75 and 2.25; 2 -> 1 on 1.0.
INSTANTIATE_TEST_SUITE_P(
    Table, RawStretch,
    ::testing::Values(StretchCase{4, 1, 2, 1, {{2, 4}}}, StretchCase{2, 1, 4, 1, {{1, 1, 2, 2}}},
                      StretchCase{3, 3, 2, 2, {{1, 3}, {21, 23}}}, StretchCase{1, 2, 1, 1, {{11}}},
                      StretchCase{2, 2, 2, 2, {{1, 2}, {11, 12}}},
                      StretchCase{
                          3, 2, 3, 5, {{1, 2, 3}, {1, 2, 3}, {11, 12, 13}, {11, 12, 13}, {11, 12, 13}}}));

TEST(RawStretchBytes, WholePixelsAreCopied) {
  auto source = numbered(5, 3, 32);
  auto target = rasterOf(9, 7, 32);
  ASSERT_TRUE(stretchRaw(*source, *target));
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 9; ++x) {
      const int sx = (2 * x + 1) * 5 / 18;
      const int sy = (2 * y + 1) * 3 / 14;
      const std::uint8_t* t = target->pictureRow(y) + 4 * x;
      const std::uint8_t* s = source->pictureRow(sy) + 4 * sx;
      ASSERT_EQ(std::vector<int>(t, t + 4), std::vector<int>(s, s + 4)) << x << "," << y;
    }
  }
}

TEST(RawStretchBytes, BottomRowIsFirstInMemory) {
  auto source = numbered(1, 2, 24);
  EXPECT_EQ(source->storageRow(0)[0], 11);  // picture row 1 is the bottom row
  auto target = rasterOf(1, 3, 24);
  ASSERT_TRUE(stretchRaw(*source, *target));
  EXPECT_EQ(target->storageRow(0)[0], 11);
  EXPECT_EQ(target->storageRow(1)[0], 11);  // middle row: centre 1.5 * 2/3 = 1.0, the bottom source row
  EXPECT_EQ(target->storageRow(2)[0], 1);
}

TEST(RawStretchBytes, RefusesUnusableRasters) {
  auto source = numbered(3, 3, 24);
  Raster empty;
  EXPECT_FALSE(stretchRaw(*source, empty));
  EXPECT_FALSE(stretchRaw(empty, *source));
  Raster negative;
  negative.width = 3;
  negative.height = -2;
  negative.depth = 24;
  negative.stride = 12;
  EXPECT_FALSE(stretchRaw(*source, negative));
  auto other = rasterOf(3, 3, 32);
  EXPECT_FALSE(stretchRaw(*source, *other));
  for (std::size_t i = 0; i < other->sizeBytes(); ++i) ASSERT_EQ(other->data()[i], 0);
}

}  // namespace
}  // namespace pixmoor::image
