// The filter for pictures with alpha: kernel values, contribution tables,
// exact bytes for small pictures, and agreement with a plain column-by-column
// evaluation on random pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "image/raster.h"
#include "resample/resample.h"
#include "resample/resample_kernels.h"

namespace pixmoor::image {
namespace {

struct Bgra {
  int b, g, r, a;
  bool operator==(const Bgra&) const = default;
};

std::unique_ptr<Raster> rasterOf(int width, int height, int depth) {
  auto raster = makeRaster(width, height, depth);
  EXPECT_NE(raster, nullptr);
  return raster;
}

void put(Raster& raster, int x, int pictureY, Bgra p) {
  std::uint8_t* q = raster.pictureRow(pictureY) + x * raster.bytesPerPixel();
  q[0] = static_cast<std::uint8_t>(p.b);
  q[1] = static_cast<std::uint8_t>(p.g);
  q[2] = static_cast<std::uint8_t>(p.r);
  if (raster.depth == 32) q[3] = static_cast<std::uint8_t>(p.a);
}

Bgra get(const Raster& raster, int x, int pictureY) {
  const std::uint8_t* q = raster.pictureRow(pictureY) + x * raster.bytesPerPixel();
  return {q[0], q[1], q[2], raster.depth == 32 ? q[3] : 255};
}

// A one-row opaque 32-bit picture whose blue bytes are `blues`.
std::unique_ptr<Raster> blueRow(const std::vector<int>& blues) {
  auto raster = rasterOf(static_cast<int>(blues.size()), 1, 32);
  for (std::size_t x = 0; x < blues.size(); ++x) put(*raster, static_cast<int>(x), 0, {blues[x], 0, 0, 255});
  return raster;
}

std::vector<int> bluesOf(const Raster& raster, int pictureY = 0) {
  std::vector<int> blues;
  for (int x = 0; x < raster.width; ++x) blues.push_back(get(raster, x, pictureY).b);
  return blues;
}

TEST(MitchellWeight, KnownValues) {
  EXPECT_NEAR(mitchellWeight(0.0), 8.0 / 9.0, 1e-15);
  EXPECT_NEAR(mitchellWeight(1.0), 1.0 / 18.0, 1e-15);
  EXPECT_NEAR(mitchellWeight(-1.0), 1.0 / 18.0, 1e-15);
  EXPECT_NEAR(mitchellWeight(0.5), 7.0 / 6.0 * 0.125 - 2.0 * 0.25 + 8.0 / 9.0, 1e-15);
  EXPECT_NEAR(mitchellWeight(1.5), -7.0 / 18.0 * 3.375 + 2.0 * 2.25 - 10.0 / 3.0 * 1.5 + 16.0 / 9.0, 1e-15);
  EXPECT_EQ(mitchellWeight(2.0), 0.0);
  EXPECT_EQ(mitchellWeight(-7.25), 0.0);
  EXPECT_LT(mitchellWeight(1.25), 0.0);  // the negative lobe
}

TEST(MitchellWeight, IntegerShiftsSumToOne) {
  for (double t : {0.0, 0.1, 0.25, 0.5, 0.77}) {
    double sum = 0;
    for (int k = -3; k <= 3; ++k) sum += mitchellWeight(t + k);
    EXPECT_NEAR(sum, 1.0, 1e-12) << t;
  }
}

TEST(Contributions, ReductionOfFourToTwo) {
  ContributionTable table;
  ASSERT_TRUE(buildContributions(2, 4, table));
  EXPECT_EQ(table.room, 2 * 4 + 1);  // width 2 / 0.5 = 4
  EXPECT_EQ(table.first[0], 0);
  EXPECT_EQ(table.last[0], 3);
  const double expected[] = {0.435266, 0.435266, 0.142512, -0.013043};
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(table.weights[static_cast<std::size_t>(k)], expected[k], 5e-7) << k;
  // Target 1 is the mirror image of target 0.
  EXPECT_EQ(table.first[1], 0);
  EXPECT_EQ(table.last[1], 3);
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(table.weights[static_cast<std::size_t>(table.room + k)], expected[3 - k], 5e-7) << k;
  }
}

TEST(Contributions, EqualLengthUsesUnitScaleWeights) {
  ContributionTable table;
  ASSERT_TRUE(buildContributions(7, 7, table));
  EXPECT_EQ(table.room, 5);
  // Interior position 3: source 1 .. 5, weights 0, 1/18, 8/9, 1/18, 0 (sum 1, not renormalised).
  EXPECT_EQ(table.first[3], 1);
  EXPECT_EQ(table.last[3], 5);
  const double* w = table.weights.data() + 3 * 5;
  EXPECT_EQ(w[0], 0.0);
  EXPECT_NEAR(w[1], 1.0 / 18.0, 1e-15);
  EXPECT_NEAR(w[2], 8.0 / 9.0, 1e-15);
  EXPECT_NEAR(w[3], 1.0 / 18.0, 1e-15);
  EXPECT_EQ(w[4], 0.0);
  // Edge position 0: clipped to 0 .. 2 and renormalised over 8/9 + 1/18.
  EXPECT_EQ(table.first[0], 0);
  EXPECT_EQ(table.last[0], 2);
  EXPECT_NEAR(table.weights[0], (8.0 / 9.0) / (8.0 / 9.0 + 1.0 / 18.0), 1e-15);
}

TEST(Contributions, OneIndexDroppedWhenTheWindowExceedsItsRoom) {
  // Enlarging 10 to 20: position 5 has centre 2.25, window floor(0.25) ..
  // ceil(4.25) = 0 .. 5, six indices for a room of five: the first is dropped.
  ContributionTable table;
  ASSERT_TRUE(buildContributions(20, 10, table));
  EXPECT_EQ(table.room, 5);
  EXPECT_EQ(table.first[5], 1);
  EXPECT_EQ(table.last[5], 5);
  for (std::size_t i = 0; i < 20; ++i) EXPECT_LE(table.last[i] - table.first[i] + 1, table.room) << i;
}

TEST(Contributions, SingleSourceIsNormalisedToOne) {
  ContributionTable table;
  ASSERT_TRUE(buildContributions(9, 1, table));
  for (std::size_t i = 0; i < 9; ++i) {
    EXPECT_EQ(table.first[i], 0);
    EXPECT_EQ(table.last[i], 0);
    EXPECT_EQ(table.weights[i * static_cast<std::size_t>(table.room)], 1.0);
  }
}

TEST(Contributions, RefusesEmptyLengths) {
  ContributionTable table;
  EXPECT_FALSE(buildContributions(0, 5, table));
  EXPECT_FALSE(buildContributions(5, 0, table));
  EXPECT_FALSE(buildContributions(-3, 5, table));
}

struct RowCase {
  std::vector<int> in;
  int newWidth;
  std::vector<int> out;
};

class MitchellRows : public ::testing::TestWithParam<RowCase> {};

TEST_P(MitchellRows, ExactBytes) {
  const RowCase& c = GetParam();
  auto source = blueRow(c.in);
  auto target = rasterOf(c.newWidth, 1, 32);
  ASSERT_TRUE(resampleSmooth(*source, *target));
  EXPECT_EQ(bluesOf(*target), c.out);
  for (int x = 0; x < target->width; ++x) EXPECT_EQ(get(*target, x, 0).a, 255);
}

INSTANTIATE_TEST_SUITE_P(Table, MitchellRows,
                         ::testing::Values(RowCase{{0, 0, 255, 255}, 2, {33, 222}},
                                           RowCase{{0, 255}, 4, {0, 63, 192, 255}},
                                           RowCase{{255, 255, 255, 0}, 2, {255, 144}},
                                           RowCase{{77}, 6, {77, 77, 77, 77, 77, 77}},
                                           RowCase{{0, 0, 0, 255, 0, 0, 0}, 7, {0, 0, 14, 227, 14, 0, 0}}));

TEST(MitchellSmooth, UnchangedAxisIsStillFiltered) {
  auto source = rasterOf(7, 1, 32);
  for (int x = 0; x < 7; ++x) put(*source, x, 0, {0, 0, x == 3 ? 255 : 0, 255});
  auto target = rasterOf(7, 2, 32);
  ASSERT_TRUE(resampleSmooth(*source, *target));
  const std::vector<int> expected = {0, 0, 14, 227, 14, 0, 0};
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 7; ++x) {
      EXPECT_EQ(get(*target, x, y), (Bgra{0, 0, expected[static_cast<std::size_t>(x)], 255}))
          << x << "," << y;
    }
  }
}

TEST(MitchellSmooth, TransparentSideBlendsTowardsWhite) {
  auto source = rasterOf(2, 1, 32);
  put(*source, 0, 0, {0, 0, 255, 255});
  put(*source, 1, 0, {0, 0, 0, 0});
  auto target = rasterOf(4, 1, 32);
  ASSERT_TRUE(resampleSmooth(*source, *target));
  EXPECT_EQ(get(*target, 0, 0), (Bgra{0, 0, 255, 255}));
  EXPECT_EQ(get(*target, 1, 0), (Bgra{63, 63, 255, 192}));
  EXPECT_EQ(get(*target, 2, 0), (Bgra{192, 192, 255, 63}));
  EXPECT_EQ(get(*target, 3, 0), (Bgra{255, 255, 255, 0}));
  // The source's transparent pixel was made white in place; the opaque one kept its colour.
  EXPECT_EQ(get(*source, 1, 0), (Bgra{255, 255, 255, 0}));
  EXPECT_EQ(get(*source, 0, 0), (Bgra{0, 0, 255, 255}));
}

TEST(MitchellSmooth, OnlyFullyTransparentPixelsTurnWhite) {
  auto source = rasterOf(3, 1, 32);
  put(*source, 0, 0, {10, 20, 30, 1});
  put(*source, 1, 0, {10, 20, 30, 0});
  put(*source, 2, 0, {10, 20, 30, 254});
  auto target = rasterOf(3, 1, 32);
  ASSERT_TRUE(resampleSmooth(*source, *target));
  EXPECT_EQ(get(*source, 0, 0), (Bgra{10, 20, 30, 1}));
  EXPECT_EQ(get(*source, 1, 0), (Bgra{255, 255, 255, 0}));
  EXPECT_EQ(get(*source, 2, 0), (Bgra{10, 20, 30, 254}));
}

TEST(MitchellSmooth, SinglePixelRepeatsExactly) {
  auto source = rasterOf(1, 1, 32);
  put(*source, 0, 0, {12, 34, 56, 78});
  auto target = rasterOf(5, 9, 32);
  ASSERT_TRUE(resampleSmooth(*source, *target));
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 5; ++x) EXPECT_EQ(get(*target, x, y), (Bgra{12, 34, 56, 78}));
  }
}

TEST(MitchellSmooth, RingingIsClipped) {
  // A hard step enlarged: the cubic undershoots before the step and
  // overshoots after it; both ends must clamp, not wrap.
  auto source = blueRow({0, 0, 0, 255, 255, 255});
  auto target = rasterOf(24, 1, 32);
  ASSERT_TRUE(resampleSmooth(*source, *target));
  const std::vector<int> blues = bluesOf(*target);
  for (int x = 0; x < 8; ++x) EXPECT_EQ(blues[static_cast<std::size_t>(x)], 0) << x;
  for (int x = 16; x < 24; ++x) EXPECT_EQ(blues[static_cast<std::size_t>(x)], 255) << x;
  for (int x = 1; x < 24; ++x)
    EXPECT_GE(blues[static_cast<std::size_t>(x)], blues[static_cast<std::size_t>(x - 1)]) << x;
}

// ---- A plain evaluation: each pass walks its lines one by one, each output
// byte a sum over the table in index order.

ContributionTable plainTable(int n, int o) {
  ContributionTable t;
  const double scale = static_cast<double>(n) / o;
  const double width = scale < 1 ? 2 / scale : 2;
  const double f = scale < 1 ? scale : 1;
  t.room = 2 * static_cast<int>(std::ceil(width)) + 1;
  t.first.resize(static_cast<std::size_t>(n));
  t.last.resize(static_cast<std::size_t>(n));
  t.weights.assign(static_cast<std::size_t>(n * t.room), 0.0);
  for (int i = 0; i < n; ++i) {
    const double centre = i / scale + (0.5 / scale - 0.5);
    int first = static_cast<int>(std::floor(centre - width));
    int last = static_cast<int>(std::ceil(centre + width));
    if (first < 0) first = 0;
    if (last > o - 1) last = o - 1;
    if (last - first + 1 > t.room) {
      if (first < o)
        ++first;
      else
        --last;
    }
    double total = 0;
    for (int j = first; j <= last; ++j) {
      const double a = std::fabs((centre - j) * f);
      const double cube = a * a * a;
      const double square = a * a;
      double m = 0;
      if (a < 1) {
        m = ((12 - 9 * (1.0 / 3) - 6 * (1.0 / 3)) * cube + (-18 + 12 * (1.0 / 3) + 6 * (1.0 / 3)) * square +
             (6 - 2 * (1.0 / 3))) /
            6;
      } else if (a < 2) {
        m = ((-(1.0 / 3) - 6 * (1.0 / 3)) * cube + (6 * (1.0 / 3) + 30 * (1.0 / 3)) * square +
             (-12 * (1.0 / 3) - 48 * (1.0 / 3)) * a + (8 * (1.0 / 3) + 24 * (1.0 / 3))) /
            6;
      }
      t.weights[static_cast<std::size_t>(i * t.room + j - first)] = f * m;
      total += f * m;
    }
    if (total > 0 && total != 1) {
      for (int j = first; j <= last; ++j)
        t.weights[static_cast<std::size_t>(i * t.room + j - first)] /= total;
    }
    t.first[static_cast<std::size_t>(i)] = first;
    t.last[static_cast<std::size_t>(i)] = last;
  }
  return t;
}

std::uint8_t plainByte(double acc) {
  double v = std::trunc(acc + 0.5);
  return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Pixels as 4-byte groups in storage order, packed rows.
using Plain = std::vector<std::uint8_t>;

Plain plainRows(const Plain& in, int oldW, int h, int newW) {
  const ContributionTable t = plainTable(newW, oldW);
  Plain out(static_cast<std::size_t>(newW * h * 4));
  for (int y = 0; y < h; ++y) {
    for (int i = 0; i < newW; ++i) {
      for (int c = 0; c < 4; ++c) {
        double acc = 0;
        for (int k = t.first[static_cast<std::size_t>(i)]; k <= t.last[static_cast<std::size_t>(i)]; ++k) {
          acc += t.weights[static_cast<std::size_t>(i * t.room + k - t.first[static_cast<std::size_t>(i)])] *
                 in[static_cast<std::size_t>((y * oldW + k) * 4 + c)];
        }
        out[static_cast<std::size_t>((y * newW + i) * 4 + c)] = plainByte(acc);
      }
    }
  }
  return out;
}

Plain plainColumns(const Plain& in, int w, int oldH, int newH) {
  const ContributionTable t = plainTable(newH, oldH);
  Plain out(static_cast<std::size_t>(w * newH * 4));
  for (int x = 0; x < w; ++x) {
    for (int i = 0; i < newH; ++i) {
      for (int c = 0; c < 4; ++c) {
        double acc = 0;
        for (int k = t.first[static_cast<std::size_t>(i)]; k <= t.last[static_cast<std::size_t>(i)]; ++k) {
          acc += t.weights[static_cast<std::size_t>(i * t.room + k - t.first[static_cast<std::size_t>(i)])] *
                 in[static_cast<std::size_t>((k * w + x) * 4 + c)];
        }
        out[static_cast<std::size_t>((i * w + x) * 4 + c)] = plainByte(acc);
      }
    }
  }
  return out;
}

Plain plainResample(Plain in, int oldW, int oldH, int newW, int newH) {
  for (std::size_t p = 0; p < in.size(); p += 4) {
    if (in[p + 3] == 0) in[p] = in[p + 1] = in[p + 2] = 255;
  }
  if (std::int64_t{newW} * oldH <= std::int64_t{oldW} * newH) {
    return plainColumns(plainRows(in, oldW, oldH, newW), newW, oldH, newH);
  }
  return plainRows(plainColumns(in, oldW, oldH, newH), oldW, newH, newW);
}

Plain packed(const Raster& r) {
  Plain out;
  for (int y = 0; y < r.height; ++y) out.insert(out.end(), r.storageRow(y), r.storageRow(y) + r.width * 4);
  return out;
}

std::unique_ptr<Raster> randomPicture(std::mt19937& rng, int w, int h) {
  auto r = rasterOf(w, h, 32);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> alphaKind(0, 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int kind = alphaKind(rng);
      put(*r, x, y, {byte(rng), byte(rng), byte(rng), kind == 0 ? 0 : kind == 1 ? 255 : byte(rng)});
    }
  }
  return r;
}

TEST(MitchellSmooth, MatchesPlainEvaluationOnRandomPictures) {
  std::mt19937 rng(20261208);
  std::uniform_int_distribution<int> side(1, 40);
  for (int round = 0; round < 150; ++round) {
    const int oldW = side(rng), oldH = side(rng), newW = side(rng), newH = side(rng);
    auto source = randomPicture(rng, oldW, oldH);
    const Plain expected = plainResample(packed(*source), oldW, oldH, newW, newH);
    auto target = rasterOf(newW, newH, 32);
    ASSERT_TRUE(resampleSmooth(*source, *target));
    ASSERT_EQ(packed(*target), expected) << oldW << "x" << oldH << " -> " << newW << "x" << newH;
  }
}

TEST(MitchellSmooth, BothPassOrdersMatchPlainEvaluation) {
  // 30x10 -> 10x9 filters rows first (10*10 <= 30*9); 10x30 -> 9x10 filters
  // columns first (9*30 > 10*10). Rounding between the passes makes the order visible.
  std::mt19937 rng(5);
  for (auto [ow, oh, nw, nh] : {std::array{30, 10, 10, 9}, std::array{10, 30, 9, 10},
                                std::array{3, 50, 40, 2}, std::array{50, 3, 2, 40}}) {
    auto source = randomPicture(rng, ow, oh);
    const Plain expected = plainResample(packed(*source), ow, oh, nw, nh);
    auto target = rasterOf(nw, nh, 32);
    ASSERT_TRUE(resampleSmooth(*source, *target));
    EXPECT_EQ(packed(*target), expected) << ow << "x" << oh << " -> " << nw << "x" << nh;
  }
}

TEST(MitchellSmooth, ThreadCountDoesNotChangeBytes) {
  std::mt19937 rng(77);
  auto source = randomPicture(rng, 301, 203);
  auto copy = rasterOf(301, 203, 32);
  std::copy(source->data(), source->data() + source->sizeBytes(), copy->data());
  for (auto [w, h] : {std::pair{97, 150}, std::pair{640, 77}, std::pair{1000, 700}}) {
    auto one = rasterOf(w, h, 32);
    ASSERT_TRUE(resampleSmoothThreads(*source, *one, nullptr, 1));
    for (int threads : {2, 3, 4, 8}) {
      auto many = rasterOf(w, h, 32);
      ASSERT_TRUE(resampleSmoothThreads(*copy, *many, nullptr, threads));
      ASSERT_EQ(std::vector<std::uint8_t>(one->data(), one->data() + one->sizeBytes()),
                std::vector<std::uint8_t>(many->data(), many->data() + many->sizeBytes()))
          << w << "x" << h << " threads " << threads;
    }
  }
}

TEST(MitchellSmooth, TwentyFourBitRastersFilterThreeBytes) {
  auto source = rasterOf(4, 1, 24);
  const int blues[] = {0, 0, 255, 255};
  for (int x = 0; x < 4; ++x) put(*source, x, 0, {blues[x], 255 - blues[x], 9, 255});
  auto target = rasterOf(2, 1, 24);
  ASSERT_TRUE(resampleSmooth(*source, *target));
  EXPECT_EQ(get(*target, 0, 0), (Bgra{33, 222, 9, 255}));
  EXPECT_EQ(get(*target, 1, 0), (Bgra{222, 33, 9, 255}));
}

TEST(MitchellSmooth, RefusesUnusableRastersWithoutTouchingThem) {
  auto source = blueRow({1, 2, 3});
  auto target = rasterOf(2, 2, 32);
  Raster empty;  // no pixels, zero size
  EXPECT_FALSE(resampleSmooth(*source, empty));
  EXPECT_FALSE(resampleSmooth(empty, *target));
  Raster negative;
  negative.width = -4;
  negative.height = 3;
  negative.depth = 32;
  EXPECT_FALSE(resampleSmooth(*source, negative));
  auto other = rasterOf(2, 2, 24);
  EXPECT_FALSE(resampleSmooth(*source, *other));  // depths differ
  for (std::size_t i = 0; i < target->sizeBytes(); ++i) EXPECT_EQ(target->data()[i], 0);
}

TEST(MitchellSmooth, RaisedCancelFlagGivesUp) {
  std::mt19937 rng(3);
  auto source = randomPicture(rng, 64, 64);
  auto target = rasterOf(20, 20, 32);
  CancelFlag cancel{true};
  EXPECT_FALSE(resampleSmooth(*source, *target, &cancel));
}

}  // namespace
}  // namespace pixmoor::image
