#include "encoders/neuquant.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

namespace pixmoor::image {
namespace {

struct Bgra {
  std::uint8_t b, g, r, a;
};

// A picture 200 pixels wide of small tiles in the given colours (the last
// row may be short).
std::vector<std::uint8_t> tile(const std::vector<Bgra>& colours, std::size_t count) {
  std::vector<std::uint8_t> out;
  out.reserve(count * 4);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t x = i % 200;
    const std::size_t y = i / 200;
    const Bgra& c = colours[(x / 4 + (y / 3) * 3) % colours.size()];
    out.insert(out.end(), {c.b, c.g, c.r, c.a});
  }
  return out;
}

// Moves every colour byte by up to `amplitude`, the same way on every run.
void addNoise(std::vector<std::uint8_t>& pixels, int amplitude) {
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    const int shift = static_cast<int>((i * 2654435761u >> 13) % (2 * amplitude + 1)) - amplitude;
    if (i % 4 != 3) pixels[i] = static_cast<std::uint8_t>(std::clamp(pixels[i] + shift, 0, 255));
  }
}

int channelDistance(const PaletteColour& p, const Bgra& c) {
  return std::max({std::abs(p.blue - c.b), std::abs(p.green - c.g), std::abs(p.red - c.r)});
}

TEST(GammaTable, HoldsTheRoundedPowerCurve) {
  const auto& t = gammaTable();
  // (v/255)^(1/1.8) * 255 rounded: worked out by hand for these entries.
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[1], 12);
  EXPECT_EQ(t[128], 174);
  EXPECT_EQ(t[255], 255);
  for (int v = 1; v < 256; ++v) EXPECT_LE(t[static_cast<std::size_t>(v - 1)], t[static_cast<std::size_t>(v)]);
}

TEST(SamplingPlan, FactorSamplesStepAndPhaseLength) {
  struct Row {
    std::size_t pixels;
    int factor;
    std::size_t samples, step, delta;
  };
  const Row rows[] = {
      {1, 1, 1, 499, 1},
      {99, 1, 99, 499, 1},
      {499, 1, 499, 491, 4},                            // 1996 bytes: a multiple of 499
      {499u * 491u, 1, 245009, 487, 2450},              // both 499 and 491 divide the bytes
      {499u * 491u * 487u, 10, 11931938, 503, 119319},  // all three do
      {262143, 1, 262143, 499, 2621},
      {262144, 2, 131072, 499, 1310},
      {1920u * 1280u, 10, 245760, 499, 2457},
      {6000u * 4000u, 10, 2400000, 499, 24000},
      {2u * 262144u + 5u, 3, 174764, 499, 1747},
  };
  for (const auto& r : rows) {
    const SamplingPlan plan = samplingPlan(r.pixels);
    EXPECT_EQ(plan.factor, r.factor) << r.pixels;
    EXPECT_EQ(plan.samples, r.samples) << r.pixels;
    EXPECT_EQ(plan.step, r.step) << r.pixels;
    EXPECT_EQ(plan.delta, r.delta) << r.pixels;
  }
}

TEST(PaletteQuantizer, AGreyRampKeepsItsGreys) {
  // What an 8-bit grey source brings: every grey, each mapped within a few
  // levels by a 256-entry palette.
  const int w = 640, h = 480;
  std::vector<std::uint8_t> pixels;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const auto v = static_cast<std::uint8_t>((x * 256 / w + y) & 255);
      pixels.insert(pixels.end(), {v, v, v, 255});
    }
  }
  const auto q = PaletteQuantizer::learn(pixels.data(), static_cast<std::size_t>(w) * h, 256);
  ASSERT_TRUE(q);
  for (int v = 0; v < 256; ++v) {
    const auto g = static_cast<std::uint8_t>(v);
    EXPECT_LE(
        channelDistance(q->palette()[static_cast<std::size_t>(q->indexOf(g, g, g, 255))], {g, g, g, 255}), 4)
        << v;
  }
}

TEST(PaletteQuantizer, RefusesUnusableArguments) {
  const auto pixels = tile({{0, 0, 0, 255}}, 16);
  EXPECT_FALSE(PaletteQuantizer::learn(pixels.data(), 16, 3));
  EXPECT_FALSE(PaletteQuantizer::learn(pixels.data(), 16, 512));
  EXPECT_FALSE(PaletteQuantizer::learn(pixels.data(), 16, 1));
  EXPECT_FALSE(PaletteQuantizer::learn(pixels.data(), 0, 16));
  EXPECT_FALSE(PaletteQuantizer::learn(nullptr, 16, 16));
}

TEST(PaletteQuantizer, StopsWhenCancelled) {
  const auto pixels = tile({{10, 200, 30, 255}, {250, 5, 90, 255}}, 100000);
  CancelFlag cancel{true};
  EXPECT_FALSE(PaletteQuantizer::learn(pixels.data(), 100000, 256, &cancel));
}

struct FewColoursCase {
  int colours;
  std::vector<Bgra> picture;
  int tolerance;  // largest channel difference allowed after mapping
  int noise = 0;  // channels moved by up to this much: more colours than entries
};

class FewColours : public ::testing::TestWithParam<FewColoursCase> {};

TEST_P(FewColours, EachPixelMapsToACloseEntry) {
  const auto& param = GetParam();
  const std::size_t count = 40000;
  auto pixels = tile(param.picture, count);
  addNoise(pixels, param.noise);
  const auto q = PaletteQuantizer::learn(pixels.data(), count, param.colours);
  ASSERT_TRUE(q);
  ASSERT_EQ(q->palette().size(), static_cast<std::size_t>(param.colours));
  for (const Bgra& c : param.picture) {
    const int index = q->indexOf(c.b, c.g, c.r, c.a);
    ASSERT_GE(index, 0);
    ASSERT_LT(index, param.colours);
    EXPECT_LE(channelDistance(q->palette()[static_cast<std::size_t>(index)], c), param.tolerance)
        << "colour " << int(c.r) << "," << int(c.g) << "," << int(c.b) << " got "
        << int(q->palette()[static_cast<std::size_t>(index)].red) << ","
        << int(q->palette()[static_cast<std::size_t>(index)].green) << ","
        << int(q->palette()[static_cast<std::size_t>(index)].blue);
  }
}

const std::vector<Bgra> kSixteen = {
    {0, 0, 0, 255},       {255, 255, 255, 255}, {0, 0, 255, 255},    {0, 255, 0, 255},
    {255, 0, 0, 255},     {0, 255, 255, 255},   {255, 255, 0, 255},  {255, 0, 255, 255},
    {128, 128, 128, 255}, {50, 100, 200, 255},  {200, 100, 50, 255}, {0, 0, 128, 255},
    {0, 128, 0, 255},     {128, 0, 0, 255},     {0, 128, 128, 255},  {192, 192, 192, 255}};

// Without noise a picture has no more colours than entries and keeps them
// exactly. With noise the network learns; small networks must still find
// every colour (a radius of 32 pulled all 16 entries towards the mean, and
// nearly transparent starting neurons never won an opaque sample).
INSTANTIATE_TEST_SUITE_P(
    Pictures, FewColours,
    ::testing::Values(
        FewColoursCase{2, {{0, 0, 0, 255}, {255, 255, 255, 255}}, 0},
        FewColoursCase{4, {{0, 0, 0, 255}, {255, 255, 255, 255}, {0, 0, 255, 255}, {0, 255, 0, 255}}, 0},
        FewColoursCase{16, {kSixteen.begin(), kSixteen.begin() + 8}, 0},
        FewColoursCase{256,
                       {{0, 0, 0, 255},
                        {255, 255, 255, 255},
                        {30, 60, 90, 255},
                        {200, 100, 50, 255},
                        {12, 240, 130, 255},
                        {128, 128, 128, 255}},
                       0},
        FewColoursCase{2, {{0, 255, 255, 255}, {255, 0, 0, 255}}, 8, 3},
        FewColoursCase{2, {{30, 30, 200, 255}, {200, 30, 30, 255}}, 8, 3},
        FewColoursCase{
            4, {{200, 40, 20, 255}, {10, 230, 250, 255}, {90, 90, 90, 255}, {255, 255, 255, 255}}, 8, 3},
        FewColoursCase{16, {kSixteen.begin(), kSixteen.begin() + 8}, 8, 3}));

// A field of one colour with seven others scattered over a tenth of it, a
// little noisy: 16 entries must still give each colour its own. A starting
// radius of 32 dragged the neurons that the rare colours won back into the
// field.
TEST(PaletteQuantizer, RareColoursKeepTheirEntries) {
  std::vector<std::uint8_t> pixels;
  for (std::size_t i = 0; i < 40000; ++i) {
    const auto cell = static_cast<unsigned>(i % 200 / 4 * 73856093u ^ i / 200 / 3 * 19349663u);
    const Bgra& c = kSixteen[cell % 100 < 90 ? 0 : 1 + cell / 100 % 7];
    pixels.insert(pixels.end(), {c.b, c.g, c.r, c.a});
  }
  addNoise(pixels, 3);
  const auto q = PaletteQuantizer::learn(pixels.data(), 40000, 16);
  ASSERT_TRUE(q);
  for (int k = 0; k < 8; ++k) {
    const Bgra& c = kSixteen[static_cast<std::size_t>(k)];
    EXPECT_LE(channelDistance(q->palette()[static_cast<std::size_t>(q->indexOf(c.b, c.g, c.r, 255))], c), 8)
        << k;
  }
}

// Three colours in 16 entries: the three themselves, then what the untrained
// network holds at entries 3 to 15 (greys of T[16 i] taken back to linear,
// opaque), all in ascending order of gamma-space green.
TEST(PaletteQuantizer, FewColoursFillTheRestFromTheStartingNetwork) {
  const std::vector<Bgra> picture(kSixteen.begin() + 9, kSixteen.begin() + 12);
  const auto pixels = tile(picture, 900);
  const auto q = PaletteQuantizer::learn(pixels.data(), 900, 16);
  ASSERT_TRUE(q);
  const auto& t = gammaTable();
  std::vector<std::array<int, 4>> expected, got;
  for (const Bgra& c : picture) expected.push_back({c.r, c.g, c.b, c.a});
  for (int i = 3; i < 16; ++i) {
    const int grey =
        std::min(255, static_cast<int>(std::pow(t[static_cast<std::size_t>(16 * i)] / 255.0, 1.8) * 256));
    expected.push_back({grey, grey, grey, 255});
  }
  for (std::size_t i = 0; i < q->palette().size(); ++i) {
    const PaletteColour& p = q->palette()[i];
    got.push_back({p.red, p.green, p.blue, p.alpha});
    if (i > 0) {
      EXPECT_LE(t[q->palette()[i - 1].green], t[p.green]) << i;
    }
  }
  std::sort(expected.begin(), expected.end());
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, expected);
}

TEST(PaletteQuantizer, PaletteIsSortedByGreen) {
  std::vector<Bgra> colours;
  for (int i = 0; i < 64; ++i) {
    colours.push_back({static_cast<std::uint8_t>(i * 37 % 256), static_cast<std::uint8_t>(i * 91 % 256),
                       static_cast<std::uint8_t>(i * 13 % 256), 255});
  }
  const auto pixels = tile(colours, 50000);
  const auto q = PaletteQuantizer::learn(pixels.data(), 50000, 256);
  ASSERT_TRUE(q);
  const auto& t = gammaTable();
  for (std::size_t i = 1; i < q->palette().size(); ++i) {
    EXPECT_LE(t[q->palette()[i - 1].green], t[q->palette()[i].green]) << "entry " << i;
  }
}

TEST(PaletteQuantizer, EveryEntryFindsItself) {
  std::vector<Bgra> colours;
  for (int i = 0; i < 300; ++i) {
    colours.push_back({static_cast<std::uint8_t>(i * 53 % 256), static_cast<std::uint8_t>(i * 29 % 256),
                       static_cast<std::uint8_t>(i * 101 % 256), 255});
  }
  const auto pixels = tile(colours, 60000);
  const auto q = PaletteQuantizer::learn(pixels.data(), 60000, 256);
  ASSERT_TRUE(q);
  for (const auto& p : q->palette()) {
    if (p.alpha != 255) continue;  // the distance counts alpha too
    // Entries are compared in gamma space, where neighbouring bright values
    // can fall together.
    const auto& t = gammaTable();
    const auto& found = q->palette()[static_cast<std::size_t>(q->indexOf(p.blue, p.green, p.red, 255))];
    EXPECT_EQ(t[found.red], t[p.red]);
    EXPECT_EQ(t[found.green], t[p.green]);
    EXPECT_EQ(t[found.blue], t[p.blue]);
  }
}

TEST(PaletteQuantizer, SameInputSameOutput) {
  std::vector<std::uint8_t> pixels(4 * 70000);
  unsigned seed = 12345;
  for (auto& b : pixels) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(seed >> 16);
  }
  const auto first = PaletteQuantizer::learn(pixels.data(), 70000, 16);
  const auto second = PaletteQuantizer::learn(pixels.data(), 70000, 16);
  ASSERT_TRUE(first && second);
  for (std::size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(first->palette()[i].red, second->palette()[i].red);
    EXPECT_EQ(first->palette()[i].green, second->palette()[i].green);
    EXPECT_EQ(first->palette()[i].blue, second->palette()[i].blue);
    EXPECT_EQ(first->palette()[i].alpha, second->palette()[i].alpha);
  }
  for (std::size_t i = 0; i < 70000; i += 97) {
    const std::uint8_t* p = &pixels[i * 4];
    EXPECT_EQ(first->indexOf(p[0], p[1], p[2], p[3]), second->indexOf(p[0], p[1], p[2], p[3]));
  }
}

TEST(PaletteQuantizer, TransparentPixelsLearnAsTransparentBlack) {
  // Whatever colour a fully transparent pixel carries, it teaches the same
  // thing; the mapping puts it on a transparent entry.
  const auto a = tile({{0, 0, 255, 255}, {10, 200, 30, 0}}, 30000);
  const auto b = tile({{0, 0, 255, 255}, {0, 0, 0, 0}}, 30000);
  const auto qa = PaletteQuantizer::learn(a.data(), 30000, 4);
  const auto qb = PaletteQuantizer::learn(b.data(), 30000, 4);
  ASSERT_TRUE(qa && qb);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(qa->palette()[i].red, qb->palette()[i].red);
    EXPECT_EQ(qa->palette()[i].alpha, qb->palette()[i].alpha);
  }
  const auto& clear = qa->palette()[static_cast<std::size_t>(qa->indexOf(10, 200, 30, 0))];
  EXPECT_LE(clear.alpha, 12);
  const auto& red = qa->palette()[static_cast<std::size_t>(qa->indexOf(0, 0, 255, 255))];
  EXPECT_GE(red.alpha, 243);
  EXPECT_GE(red.red, 243);
}

TEST(PaletteQuantizer, TinyPicturesWork) {
  for (std::size_t count : {1u, 2u, 3u, 498u, 499u, 500u}) {
    const auto pixels = tile({{20, 140, 220, 255}}, count);
    const auto q = PaletteQuantizer::learn(pixels.data(), count, 256);
    ASSERT_TRUE(q) << count;
    const auto& p = q->palette()[static_cast<std::size_t>(q->indexOf(20, 140, 220, 255))];
    EXPECT_LE(channelDistance(p, {20, 140, 220, 255}), 40) << count;
  }
}

}  // namespace
}  // namespace pixmoor::image

namespace pixmoor::image {
namespace {

// Black rectangles on white, as a scanned 1-bit drawing holds them: the
// two-entry palette must keep one dark and one light entry, so that the
// drawing survives. (With the bias at its full rate one neuron took every
// sample and many of these pictures came out blank.)
TEST(PaletteQuantizer, TwoEntriesKeepBlackAndWhiteApart) {
  std::mt19937 random(7);
  int checked = 0;
  for (int picture = 0; picture < 40; ++picture) {
    const int w = 50 + static_cast<int>(random() % 400);
    const int h = 50 + static_cast<int>(random() % 400);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * h * 4, 255);
    std::size_t black = 0;
    const int rectangles = 1 + static_cast<int>(random() % 6);
    for (int r = 0; r < rectangles; ++r) {
      const int x0 = static_cast<int>(random() % w), y0 = static_cast<int>(random() % h);
      const int x1 = x0 + static_cast<int>(random() % (w - x0)),
                y1 = y0 + static_cast<int>(random() % (h - y0));
      for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
          std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * w + x) * 4];
          black += p[0] != 0;
          p[0] = p[1] = p[2] = 0;
        }
      }
    }
    // Learning samples one pixel in several hundred: a handful of black
    // pixels may be missed by every sample, which no palette rule can help.
    if (black * 100 < static_cast<std::size_t>(w) * h) continue;
    // One grey pixel, as a reduction leaves on every edge: a third colour,
    // so that the network learns the palette.
    pixels[0] = pixels[1] = pixels[2] = 128;
    ++checked;
    const auto q = PaletteQuantizer::learn(pixels.data(), static_cast<std::size_t>(w) * h, 2);
    ASSERT_TRUE(q);
    const PaletteColour dark = q->palette()[static_cast<std::size_t>(q->indexOf(0, 0, 0, 255))];
    const PaletteColour light = q->palette()[static_cast<std::size_t>(q->indexOf(255, 255, 255, 255))];
    EXPECT_LT(dark.green, 64) << "picture " << picture << " " << w << "x" << h;
    EXPECT_GT(light.green, 192) << "picture " << picture << " " << w << "x" << h;
  }
  EXPECT_GT(checked, 30);
}

}  // namespace
}  // namespace pixmoor::image
