// The opaque smooth path: area averaging when a side shrinks, linear
// interpolation when it grows. Exact small cases, a double-precision
// reference on random pictures, uniform pictures, threads and row order.
#include "resample/resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

#include "image/raster.h"
#include "image/thread_budget.h"
#include "resample/parallel_rows.h"
#include "resample/resample_kernels.h"

namespace pixmoor::image {
namespace {

std::unique_ptr<Raster> rasterOf(int width, int height, int depth) {
  auto raster = makeRaster(width, height, depth);
  EXPECT_NE(raster, nullptr);
  return raster;
}

std::uint8_t& at(Raster& r, int x, int pictureY, int c) {
  return r.pictureRow(pictureY)[x * r.bytesPerPixel() + c];
}
int at(const Raster& r, int x, int pictureY, int c) {
  return r.pictureRow(pictureY)[x * r.bytesPerPixel() + c];
}

// A one-row 24-bit picture with the given blue bytes (green and red 0).
std::unique_ptr<Raster> blueRow(const std::vector<int>& blues) {
  auto r = rasterOf(static_cast<int>(blues.size()), 1, 24);
  for (std::size_t x = 0; x < blues.size(); ++x)
    at(*r, static_cast<int>(x), 0, 0) = static_cast<std::uint8_t>(blues[x]);
  return r;
}

std::vector<int> bluesOf(const Raster& r) {
  std::vector<int> out;
  for (int x = 0; x < r.width; ++x) out.push_back(at(r, x, 0, 0));
  return out;
}

std::vector<std::uint8_t> bytesOf(const Raster& r) {
  return {r.data(), r.data() + r.sizeBytes()};
}

struct RowCase {
  const char* what;
  std::vector<int> in;
  int newWidth;
  std::vector<int> out;
};

class OpaqueRows : public ::testing::TestWithParam<RowCase> {};

TEST_P(OpaqueRows, ExactBytes) {
  const RowCase& c = GetParam();
  auto source = blueRow(c.in);
  auto target = rasterOf(c.newWidth, 1, 24);
  ASSERT_TRUE(resampleOpaque(*source, *target));
  EXPECT_EQ(bluesOf(*target), c.out) << c.what;
}

// 3 -> 2: each target spans 1.5 source pixels: (0 + 0.5 * 90) / 1.5 = 30 and
// (0.5 * 90 + 180) / 1.5 = 150. 5 -> 3: spans of 5/3: (0 + 2/3 * 60) * 3/5 = 24,
// (1/3 * 60 + 120 + 1/3 * 240) * 3/5 = 132, (2/3 * 240 + 30) * 3/5 = 114.
// 2 -> 4 grows: centres fall at -0.25 (held at 0), 0.25, 0.75 and 1.25 (held at 1).
INSTANTIATE_TEST_SUITE_P(
    Table, OpaqueRows,
    ::testing::Values(RowCase{"pairs are averaged", {10, 20, 30, 41}, 2, {15, 36}},
                      RowCase{"a third and two thirds", {0, 90, 180}, 2, {30, 150}},
                      RowCase{"fractional coverage both sides", {0, 60, 120, 240, 30}, 3, {24, 132, 114}},
                      RowCase{"everything into one", {1, 2, 3, 4, 5, 6, 7, 8}, 1, {5}},
                      RowCase{"same length copies", {9, 200, 0, 255}, 4, {9, 200, 0, 255}},
                      RowCase{"growing interpolates between centres", {0, 100}, 3, {0, 50, 100}},
                      RowCase{"growing holds the edges", {0, 200}, 4, {0, 50, 150, 200}},
                      RowCase{"growing a single pixel repeats it", {77}, 5, {77, 77, 77, 77, 77}}));

TEST(OpaqueArea, TablesSumToTheirUnitExactly) {
  for (int o = 1; o <= 70; ++o) {
    for (int n = 1; n <= 70; ++n) {
      AxisTaps taps;
      ASSERT_TRUE(buildAxisTaps(n, o, taps));
      for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
        std::uint32_t sum = 0;
        ASSERT_GE(taps.count[i], 1);
        ASSERT_GE(taps.first[i], 0);
        ASSERT_LE(taps.first[i] + taps.count[i], o);
        for (int k = 0; k < taps.count[i]; ++k)
          sum += taps.weights[static_cast<std::size_t>(taps.offset[i] + k)];
        ASSERT_EQ(sum, n <= o ? static_cast<std::uint32_t>(o) : kAreaOne)
            << n << " from " << o << " at " << i;
        EXPECT_NE(taps.weights[static_cast<std::size_t>(taps.offset[i])], 0);
        EXPECT_NE(taps.weights[static_cast<std::size_t>(taps.offset[i] + taps.count[i] - 1)], 0);
      }
    }
  }
  for (auto [n, o] :
       {std::pair{1, 32767}, std::pair{1920, 6000}, std::pair{32767, 1}, std::pair{32767, 32766}}) {
    AxisTaps taps;
    ASSERT_TRUE(buildAxisTaps(n, o, taps));
    std::uint32_t sum = 0;
    const std::size_t last = static_cast<std::size_t>(n - 1);
    for (int k = 0; k < taps.count[last]; ++k)
      sum += taps.weights[static_cast<std::size_t>(taps.offset[last] + k)];
    EXPECT_EQ(sum, taps.unit);
    EXPECT_EQ(taps.unit, n <= o ? static_cast<std::uint32_t>(o) : kAreaOne);
    EXPECT_LE(taps.first[last] + taps.count[last], o);
  }
}

// ---- Reference: the same mapping in double precision, without tables.

// Weight of source j for target i along one axis.
double referenceWeight(int i, int j, int n, int o) {
  if (n <= o) {
    const double lo = static_cast<double>(i) * o / n;
    const double hi = static_cast<double>(i + 1) * o / n;
    const double overlap = std::min(hi, j + 1.0) - std::max(lo, static_cast<double>(j));
    return overlap > 0 ? overlap / (static_cast<double>(o) / n) : 0.0;
  }
  double pos = (i + 0.5) * o / n - 0.5;
  pos = std::clamp(pos, 0.0, o - 1.0);
  const double distance = std::fabs(pos - j);
  return distance < 1 ? 1 - distance : 0.0;
}

std::vector<double> referenceResample(const Raster& source, int n_w, int n_h) {
  const int channels = source.bytesPerPixel();
  std::vector<double> out(static_cast<std::size_t>(n_w * n_h * channels), 0.0);
  for (int ty = 0; ty < n_h; ++ty) {
    for (int sy = 0; sy < source.height; ++sy) {
      const double wy = referenceWeight(ty, sy, n_h, source.height);
      if (wy == 0) continue;
      for (int tx = 0; tx < n_w; ++tx) {
        for (int sx = 0; sx < source.width; ++sx) {
          const double wx = referenceWeight(tx, sx, n_w, source.width);
          if (wx == 0) continue;
          for (int c = 0; c < channels; ++c) {
            out[static_cast<std::size_t>((ty * n_w + tx) * channels + c)] += wy * wx * at(source, sx, sy, c);
          }
        }
      }
    }
  }
  return out;
}

std::unique_ptr<Raster> randomPicture(std::mt19937& rng, int w, int h, int depth) {
  auto r = rasterOf(w, h, depth);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w * r->bytesPerPixel(); ++x)
      r->pictureRow(y)[x] = static_cast<std::uint8_t>(byte(rng));
  }
  return r;
}

void expectNearReference(const Raster& source, const Raster& target) {
  const std::vector<double> expected = referenceResample(source, target.width, target.height);
  const int channels = source.bytesPerPixel();
  int worst = 0;
  for (int y = 0; y < target.height; ++y) {
    for (int x = 0; x < target.width; ++x) {
      for (int c = 0; c < channels; ++c) {
        const double e = expected[static_cast<std::size_t>((y * target.width + x) * channels + c)];
        const int diff = std::abs(at(target, x, y, c) - static_cast<int>(std::lround(e)));
        worst = std::max(worst, diff);
        ASSERT_LE(diff, 1) << source.width << "x" << source.height << " -> " << target.width << "x"
                           << target.height << " at " << x << "," << y << " byte " << c << ": " << e;
      }
    }
  }
  EXPECT_LE(worst, 1);
}

struct SizeCase {
  const char* what;
  int oldW, oldH, newW, newH;
};

class OpaqueReference : public ::testing::TestWithParam<int> {};

TEST_P(OpaqueReference, RandomPicturesWithinOneLevel) {
  const int depth = GetParam();
  std::mt19937 rng(static_cast<unsigned>(depth) * 1009u);
  std::uniform_int_distribution<int> side(1, 48);
  for (int round = 0; round < 200; ++round) {
    const int ow = side(rng), oh = side(rng), nw = side(rng), nh = side(rng);
    auto source = randomPicture(rng, ow, oh, depth);
    auto target = rasterOf(nw, nh, depth);
    ASSERT_TRUE(resampleOpaque(*source, *target));
    expectNearReference(*source, *target);
  }
}

TEST_P(OpaqueReference, NamedShapes) {
  const int depth = GetParam();
  std::mt19937 rng(99);
  const SizeCase cases[] = {
      {"both shrink", 257, 131, 64, 50},
      {"both grow", 13, 9, 61, 40},
      {"x shrinks, y grows", 300, 7, 41, 33},
      {"x grows, y shrinks", 6, 280, 50, 29},
      {"strong reduction", 700, 300, 9, 5},
      {"to one pixel", 97, 61, 1, 1},
      {"wide rows use whole blocks", 611, 4, 203, 3},
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(c.what);
    auto source = randomPicture(rng, c.oldW, c.oldH, depth);
    auto target = rasterOf(c.newW, c.newH, depth);
    ASSERT_TRUE(resampleOpaque(*source, *target));
    expectNearReference(*source, *target);
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, OpaqueReference, ::testing::Values(24, 32));

// ---- Exact area averages, as rationals, on content that punishes rounded
// weights: every byte within one level of sum(covered area * value) / area.

// Length that target i of n covers of source j of o, in 1/n of a source pixel.
std::int64_t covered(std::int64_t i, std::int64_t j, std::int64_t n, std::int64_t o) {
  return std::max<std::int64_t>(0, std::min((i + 1) * o, (j + 1) * n) - std::max(i * o, j * n));
}

void expectWithinOneLevelOfExact(const Raster& s, const Raster& t) {
  const std::int64_t area = std::int64_t{s.width} * s.height;
  for (int ty = 0; ty < t.height; ++ty) {
    for (int tx = 0; tx < t.width; ++tx) {
      for (int c = 0; c < s.bytesPerPixel(); ++c) {
        std::int64_t sum = 0;
        for (std::int64_t sy = std::int64_t{ty} * s.height / t.height; sy * t.height < (ty + 1LL) * s.height;
             ++sy) {
          const std::int64_t wy = covered(ty, sy, t.height, s.height);
          for (std::int64_t sx = std::int64_t{tx} * s.width / t.width; sx * t.width < (tx + 1LL) * s.width;
               ++sx)
            sum +=
                wy * covered(tx, sx, t.width, s.width) * at(s, static_cast<int>(sx), static_cast<int>(sy), c);
        }
        ASSERT_LT(std::abs(at(t, tx, ty, c) * area - sum), area)
            << "target " << tx << "," << ty << " byte " << c << ": " << at(t, tx, ty, c) << " for "
            << static_cast<double>(sum) / area;
      }
    }
  }
}

struct ExactCase {
  const char* what;
  int oldW, oldH, newW, newH, depth;
  int (*value)(int x, int y);
};

class OpaqueExact : public ::testing::TestWithParam<ExactCase> {};

TEST_P(OpaqueExact, WithinOneLevelOfTheExactAverage) {
  const ExactCase& c = GetParam();
  SCOPED_TRACE(c.what);
  auto source = rasterOf(c.oldW, c.oldH, c.depth);
  for (int y = 0; y < c.oldH; ++y) {
    for (int x = 0; x < c.oldW; ++x) {
      for (int b = 0; b < c.depth / 8; ++b)
        at(*source, x, y, b) = static_cast<std::uint8_t>(c.value(x + b, y));
    }
  }
  auto target = rasterOf(c.newW, c.newH, c.depth);
  ASSERT_TRUE(resampleOpaque(*source, *target));
  expectWithinOneLevelOfExact(*source, *target);
}

int alternateColumns(int x, int) {
  return x % 2 ? 0 : 255;
}
int alternateRows(int, int y) {
  return y % 2 ? 0 : 255;
}
int checker(int x, int y) {
  return (x + y) % 2 ? 0 : 255;
}
int brightDots(int x, int y) {
  return x % 4 == 0 && y % 4 == 0 ? 255 : 0;
}
int longRamp(int x, int y) {
  return (x + y) / 129 % 256;
}

// 32767 = 7 x 4681 and 9362 = 2 x 4681: each target covers 4681 pixels, a
// weight of 3.5 in units of 2^-14, where rounded weights fall into step with
// a pattern of period 2 or 4.
INSTANTIATE_TEST_SUITE_P(
    Adversarial, OpaqueExact,
    ::testing::Values(ExactCase{"columns into 7", 32767, 1, 7, 1, 24, alternateColumns},
                      ExactCase{"rows into 7", 1, 32767, 1, 7, 24, alternateRows},
                      ExactCase{"columns into 3", 32767, 2, 3, 1, 32, alternateColumns},
                      ExactCase{"rows into 5", 3, 32767, 2, 5, 24, alternateRows},
                      ExactCase{"checker", 9362, 5, 2, 1, 24, checker},
                      ExactCase{"bright dots along a row", 32767, 1, 7, 1, 24, brightDots},
                      ExactCase{"bright dots down a column", 1, 32767, 1, 7, 32, brightDots},
                      ExactCase{"long ramp", 32767, 2, 255, 1, 24, longRamp},
                      ExactCase{"long ramp down a column", 2, 32767, 1, 100, 32, longRamp}));

TEST(OpaqueArea, UniformPicturesStayExactlyUniform) {
  std::mt19937 rng(4242);
  std::uniform_int_distribution<int> side(1, 90);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 400; ++round) {
    const int depth = round % 2 ? 32 : 24;
    const int ow = side(rng), oh = side(rng), nw = side(rng), nh = side(rng);
    const std::uint8_t colour[4] = {static_cast<std::uint8_t>(round == 0 ? 255 : byte(rng)),
                                    static_cast<std::uint8_t>(round == 1 ? 0 : byte(rng)),
                                    static_cast<std::uint8_t>(byte(rng)),
                                    static_cast<std::uint8_t>(byte(rng))};
    auto source = rasterOf(ow, oh, depth);
    const int bpp = depth / 8;
    for (int y = 0; y < oh; ++y) {
      for (int x = 0; x < ow; ++x) std::copy(colour, colour + bpp, source->pictureRow(y) + x * bpp);
    }
    auto target = rasterOf(nw, nh, depth);
    ASSERT_TRUE(resampleOpaque(*source, *target));
    for (int y = 0; y < nh; ++y) {
      for (int x = 0; x < nw; ++x) {
        for (int c = 0; c < bpp; ++c) {
          ASSERT_EQ(at(*target, x, y, c), colour[c]) << ow << "x" << oh << " -> " << nw << "x" << nh;
        }
      }
    }
  }
}

TEST(OpaqueArea, ExtremeRatiosStayUniform) {
  for (auto [ow, oh, nw, nh] : {std::array{6000, 2, 1920, 1}, std::array{32767, 1, 1, 1},
                                std::array{1, 1, 4000, 3}, std::array{3, 4000, 1, 1}}) {
    auto source = rasterOf(ow, oh, 24);
    std::fill(source->data(), source->data() + source->sizeBytes(), std::uint8_t{201});
    auto target = rasterOf(nw, nh, 24);
    ASSERT_TRUE(resampleOpaque(*source, *target));
    for (int y = 0; y < nh; ++y) {
      for (int x = 0; x < nw * 3; ++x) ASSERT_EQ(target->pictureRow(y)[x], 201) << ow << " " << x;
    }
  }
}

TEST(OpaqueArea, FourthByteIsAveragedLikeTheOthers) {
  auto source = rasterOf(4, 2, 32);
  const int alphas[2][4] = {{0, 255, 100, 50}, {255, 255, 0, 2}};
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 4; ++x) at(*source, x, y, 3) = static_cast<std::uint8_t>(alphas[y][x]);
  }
  auto target = rasterOf(2, 1, 32);
  ASSERT_TRUE(resampleOpaque(*source, *target));
  EXPECT_EQ(at(*target, 0, 0, 3), 191);  // (0 + 255 + 255 + 255) / 4 = 191.25
  EXPECT_EQ(at(*target, 1, 0, 3), 38);   // (100 + 50 + 0 + 2) / 4 = 38
  EXPECT_EQ(at(*target, 0, 0, 0), 0);
}

TEST(OpaqueArea, RowsAreInPictureOrder) {
  // Picture rows, top first: 0, 0, 0, 200. Halving the height averages the
  // top pair and the bottom pair; the bottom row is the first in memory.
  auto source = rasterOf(1, 4, 24);
  at(*source, 0, 3, 2) = 200;
  EXPECT_EQ(source->storageRow(0)[2], 200);
  auto target = rasterOf(1, 2, 24);
  ASSERT_TRUE(resampleOpaque(*source, *target));
  EXPECT_EQ(at(*target, 0, 0, 2), 0);
  EXPECT_EQ(at(*target, 0, 1, 2), 100);
  EXPECT_EQ(target->storageRow(0)[2], 100);
  // Three rows from four: the top target row covers row 0 and a third of row 1.
  auto three = rasterOf(1, 3, 24);
  ASSERT_TRUE(resampleOpaque(*source, *three));
  EXPECT_EQ(at(*three, 0, 0, 2), 0);
  EXPECT_EQ(at(*three, 0, 1, 2), 0);
  EXPECT_EQ(at(*three, 0, 2, 2), 150);  // (1/3 * 0 + 1 * 200) * 3/4
}

TEST(OpaqueArea, PaddingBytesOfTheTargetAreLeftAlone) {
  // 24-bit rows of width 5 carry one padding byte; it stays zero.
  std::mt19937 rng(8);
  auto source = randomPicture(rng, 17, 9, 24);
  auto target = rasterOf(5, 4, 24);
  ASSERT_TRUE(resampleOpaque(*source, *target));
  for (int y = 0; y < 4; ++y) EXPECT_EQ(target->storageRow(y)[15], 0);
}

TEST(OpaqueArea, ThreadCountDoesNotChangeBytes) {
  std::mt19937 rng(1234);
  for (int depth : {24, 32}) {
    auto source = randomPicture(rng, 1203, 611, depth);
    for (auto [w, h] : {std::pair{397, 150}, std::pair{1500, 901}, std::pair{77, 700}}) {
      auto one = rasterOf(w, h, depth);
      ASSERT_TRUE(resampleOpaqueThreads(*source, *one, nullptr, 1));
      for (int threads : {2, 3, 4, 7}) {
        auto many = rasterOf(w, h, depth);
        ASSERT_TRUE(resampleOpaqueThreads(*source, *many, nullptr, threads));
        ASSERT_EQ(bytesOf(*one), bytesOf(*many)) << w << "x" << h << " threads " << threads;
      }
    }
  }
}

// The plain C++ passes (all a build for another processor runs), the SSE2
// and the AVX2 ones give the same bytes: spans of one to many pixels, more
// rows than fit the registers, sides that grow, tiny and large factors, odd
// lengths.
TEST(OpaqueArea, EveryPassWidthGivesTheSameBytes) {
  struct WidestAgain {
    ~WidestAgain() { setVectorPasses(VectorPasses::avx2); }
  } widestAgain;
  std::mt19937 rng(77);
  const std::pair<int, int> fromLarge[] = {{601, 305}, {600, 304}, {301, 153}, {197, 75}, {77, 7},
                                           {31, 3},    {7, 1},     {1, 1},     {700, 400}};
  const std::pair<int, int> fromSmall[] = {{101, 47}, {36, 69}, {37, 23}, {2, 1}};
  for (int depth : {24, 32}) {
    const auto large = randomPicture(rng, 601, 305, depth);
    const auto small = randomPicture(rng, 37, 23, depth);
    const auto check = [&](const Raster& source, int w, int h) {
      SCOPED_TRACE(::testing::Message()
                   << depth << " bits, " << source.width << "x" << source.height << " to " << w << "x" << h);
      std::vector<std::uint8_t> plain;
      for (const VectorPasses passes : {VectorPasses::plain, VectorPasses::sse2, VectorPasses::avx2}) {
        setVectorPasses(passes);
        auto target = rasterOf(w, h, depth);
        ASSERT_TRUE(resampleOpaqueThreads(source, *target, nullptr, 2));
        if (passes == VectorPasses::plain) {
          plain = bytesOf(*target);
        } else {
          EXPECT_EQ(bytesOf(*target), plain) << "passes " << static_cast<int>(passes);
        }
      }
    };
    for (const auto& [w, h] : fromLarge) check(*large, w, h);
    for (const auto& [w, h] : fromSmall) check(*small, w, h);
  }
}

// On a thread of a batch's budget a resampling splits its rows over only
// the threads the budget has idle, and the pixels stay those of one thread.
TEST(OpaqueArea, ABudgetsThreadResamplesWithWhatTheBudgetLeaves) {
  std::mt19937 rng(99);
  auto source = randomPicture(rng, 900, 700, 24);
  auto alone = rasterOf(450, 350, 24);
  ASSERT_TRUE(resampleOpaqueThreads(*source, *alone, nullptr, 1));
  for (const int threads : {1, 3}) {
    ThreadBudget budget(threads);
    const ThreadBudgetMember member(budget);
    EXPECT_EQ(HelperThreads(0, 100).count(), threads);
    EXPECT_EQ(HelperThreads(7, 100).count(), threads);
    auto shared = rasterOf(450, 350, 24);
    ASSERT_TRUE(resampleOpaque(*source, *shared));
    EXPECT_EQ(bytesOf(*alone), bytesOf(*shared)) << threads;
    auto smoothOne = rasterOf(450, 350, 24);
    auto smoothShared = rasterOf(450, 350, 24);
    ASSERT_TRUE(resampleSmoothThreads(*source, *smoothOne, nullptr, 1));
    ASSERT_TRUE(resampleSmooth(*source, *smoothShared));
    EXPECT_EQ(bytesOf(*smoothOne), bytesOf(*smoothShared)) << threads;
  }
}

TEST(OpaqueArea, RefusesUnusableRastersWithoutTouchingThem) {
  auto source = blueRow({1, 2, 3});
  auto target = rasterOf(2, 2, 24);
  Raster empty;
  EXPECT_FALSE(resampleOpaque(*source, empty));
  EXPECT_FALSE(resampleOpaque(empty, *target));
  Raster zeroHigh;
  zeroHigh.width = 800;
  zeroHigh.height = 0;
  zeroHigh.depth = 24;
  zeroHigh.stride = 2400;
  EXPECT_FALSE(resampleOpaque(*source, zeroHigh));
  Raster negative;
  negative.width = -5;
  negative.height = 4;
  negative.depth = 24;
  EXPECT_FALSE(resampleOpaque(*source, negative));
  auto other = rasterOf(2, 2, 32);
  EXPECT_FALSE(resampleOpaque(*source, *other));
  for (std::uint8_t b : bytesOf(*target)) EXPECT_EQ(b, 0);
  AxisTaps taps;
  EXPECT_FALSE(buildAxisTaps(0, 4, taps));
  EXPECT_FALSE(buildAxisTaps(4, -1, taps));
}

TEST(OpaqueArea, RaisedCancelFlagGivesUp) {
  std::mt19937 rng(2);
  auto source = randomPicture(rng, 300, 300, 24);
  auto target = rasterOf(100, 100, 24);
  CancelFlag cancel{true};
  EXPECT_FALSE(resampleOpaque(*source, *target, &cancel));
  cancel = false;
  EXPECT_TRUE(resampleOpaque(*source, *target, &cancel));
}

}  // namespace
}  // namespace pixmoor::image
