#include "encoders/neuquant.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace pixmoor::image {
namespace {

constexpr int kPhases = 100;
constexpr double kInitialAlpha = 1024.0;      // learning rate, in 1/1024 steps
constexpr int kMaxRadius = 32;                // the starting radius of 256 neurons
constexpr int kRadiusDecrease = 30;           // the radius loses 1/30 per phase
constexpr double kBeta = 1.0 / 1024.0;        // frequency gain of the winner
constexpr double kGamma = 1024.0;             // bias scale
constexpr double kNeighbourScale = 262144.0;  // radpower is alpha * 256 at most: 2^18
constexpr int kMaxSamplingFactor = 10;
constexpr std::size_t kPixelsPerSamplingStep = 262144;
constexpr int kPrimes[] = {499, 491, 487};
constexpr int kLastPrime = 503;

struct Neuron {
  double alpha, red, green, blue;
};

struct Sample {
  double alpha, red, green, blue;
  double weight;  // e = 1 - (1 - a/255)^2: colour counts less as alpha falls
};

double colourWeight(int alpha) {
  const double t = 1.0 - alpha / 255.0;
  return 1.0 - t * t;
}

// Neighbour factors for radius r: floor(alpha * (((r^2 - k^2) * 256) / r^2)),
// the fraction in integers. Entries from r up are left as they were.
void fillRadPower(double* radPower, int r, double alpha) {
  const int r2 = r * r;
  for (int k = 0; k < r; ++k)
    radPower[k] = std::floor(alpha * static_cast<double>(((r2 - k * k) * 256) / r2));
}

// A pixel's four bytes as one number; every fully transparent pixel is
// transparent black, as in learning and lookup.
std::uint32_t colourKey(const std::uint8_t* bgra) {
  if (bgra[3] == 0) return 0;
  return static_cast<std::uint32_t>(bgra[0]) | static_cast<std::uint32_t>(bgra[1]) << 8 |
         static_cast<std::uint32_t>(bgra[2]) << 16 | static_cast<std::uint32_t>(bgra[3]) << 24;
}

// The picture's distinct colours (all four bytes, every transparent pixel as
// transparent black) in order of first appearance, or nothing when it has
// more than `limit` (at most 256) or `cancel` was raised. Stops at the first
// colour too many.
std::optional<std::vector<std::uint32_t>> fewColours(const std::uint8_t* bgra, std::size_t pixelCount,
                                                     int limit, const CancelFlag* cancel) {
  // Open addressing, kept at most a quarter full.
  constexpr int kSlotBits = 10;
  constexpr std::size_t kCheckEvery = std::size_t{1} << 20;
  std::array<std::uint32_t, std::size_t{1} << kSlotBits> keys{};
  std::array<bool, std::size_t{1} << kSlotBits> used{};
  std::vector<std::uint32_t> colours;
  std::uint32_t last = colourKey(bgra);
  bool haveLast = false;
  for (std::size_t i = 0; i < pixelCount; ++i) {
    if (i % kCheckEvery == kCheckEvery - 1 && cancelled(cancel)) return std::nullopt;
    const std::uint32_t key = colourKey(bgra + 4 * i);
    if (haveLast && key == last) continue;  // runs of one colour are the rule in such pictures
    last = key;
    haveLast = true;
    std::size_t slot = (key * 2654435761u) >> (32 - kSlotBits);
    while (used[slot] && keys[slot] != key) slot = (slot + 1) & (keys.size() - 1);
    if (used[slot]) continue;
    if (colours.size() == static_cast<std::size_t>(limit)) return std::nullopt;
    used[slot] = true;
    keys[slot] = key;
    colours.push_back(key);
  }
  return colours;
}

// The network before learning, in gamma space: greys from black to white,
// opaque but for the first sixteenth, whose alpha rises from 0 in steps of
// 16 * 256 / n (the first 16 of 256 neurons: 0, 16, .., 240). Small networks
// have no transparent neurons: in a network of 2 or 4 they would all start
// nearly transparent, far from every opaque colour, and the bias cannot bring
// such a neuron into play without neighbours to drag it, so colours were lost.
std::vector<Neuron> initialNetwork(int n) {
  const auto& T = gammaTable();
  std::vector<Neuron> net(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const double v = T[static_cast<std::size_t>(i * 256 / n)];
    const double alpha = i < n / 16 ? 16.0 * i * 256 / n : 255.0;
    net[static_cast<std::size_t>(i)] = Neuron{alpha, v, v, v};
  }
  return net;
}

// Neurons back to palette colours: linear light, clamped to 0 .. 255.
std::vector<PaletteColour> toPalette(const std::vector<Neuron>& net) {
  auto toLinear = [](double x) -> std::uint8_t {
    if (x < 0) return 0;
    return static_cast<std::uint8_t>(std::min(255.0, std::floor(std::pow(x / 255.0, 1.8) * 256.0)));
  };
  std::vector<PaletteColour> palette(net.size());
  for (std::size_t i = 0; i < net.size(); ++i) {
    const Neuron& u = net[i];
    PaletteColour& c = palette[i];
    c.red = toLinear(u.red);
    c.green = toLinear(u.green);
    c.blue = toLinear(u.blue);
    c.alpha =
        u.alpha < 0 ? 0 : static_cast<std::uint8_t>(std::min(255.0, std::floor(u.alpha / 255.0 * 256.0)));
  }
  return palette;
}

// NeuQuant learning on a sample of the pixels; false when `cancel` was raised.
bool train(std::vector<Neuron>& net, const std::uint8_t* bgra, std::size_t pixelCount,
           const CancelFlag* cancel) {
  const auto& T = gammaTable();
  const int n = static_cast<int>(net.size());
  std::vector<double> freq(static_cast<std::size_t>(n), 1.0 / n);
  std::vector<double> bias(static_cast<std::size_t>(n), 0.0);

  // The bias that shares the samples out among the neurons moves by about
  // 1/n of a level per sample. With two neurons that is half a level, which
  // soon outweighs any colour distance: one neuron then wins every sample.
  // A quarter of that step keeps both neurons in play (two-colour pictures
  // no longer get here, but their reductions, greys on every edge, still
  // come out closer with it); larger networks keep the published rate.
  const double biasScale = n == 2 ? 0.25 : 1.0;

  const SamplingPlan plan = samplingPlan(pixelCount);
  const std::size_t samples = plan.samples;
  const std::size_t delta = plan.delta;
  const int alphaDecrease = 30 + (plan.factor - 1) / 3;
  const std::size_t step = plan.step % pixelCount;  // pictures smaller than the step wrap in place

  double alpha = kInitialAlpha;
  // The radius starts at n / 8 as published (32 for 256 neurons): a wider
  // one drags every neuron of a small network towards the mean colour.
  const int initialRadius = std::max(1, n / 8);
  double radius = initialRadius;
  int r = initialRadius;
  // Index r itself is read (neighbours 1 .. r): it keeps what an earlier,
  // wider phase left there, or 0.
  double radPower[kMaxRadius + 1] = {};
  fillRadPower(radPower, r, alpha);

  std::size_t position = 0;
  for (std::size_t i = 0; i < samples;) {
    const std::uint8_t* p = bgra + position * 4;
    Sample s{};
    if (p[3] != 0) {
      s = Sample{static_cast<double>(p[3]), static_cast<double>(T[p[2]]), static_cast<double>(T[p[1]]),
                 static_cast<double>(T[p[0]]), colourWeight(p[3])};
    }  // alpha 0 learns as transparent black, whose colour weighs nothing

    // Competition: the nearest neuron gains frequency; the one nearest once
    // its bias is taken off wins and moves.
    double bestDistance = HUGE_VAL;
    double bestBiasDistance = HUGE_VAL;
    int bestPosition = 0;
    int bestBiasPosition = 0;
    for (int k = 0; k < n; ++k) {
      const Neuron& u = net[static_cast<std::size_t>(k)];
      const double distance = s.weight * std::fabs(u.red - s.red) + s.weight * std::fabs(u.green - s.green) +
                              s.weight * std::fabs(u.blue - s.blue) + std::fabs(u.alpha - s.alpha);
      if (distance < bestDistance) {
        bestDistance = distance;
        bestPosition = k;
      }
      const double biasDistance = distance - bias[static_cast<std::size_t>(k)];
      if (biasDistance < bestBiasDistance) {
        bestBiasDistance = biasDistance;
        bestBiasPosition = k;
      }
      const double betaFreq = freq[static_cast<std::size_t>(k)] * kBeta;
      freq[static_cast<std::size_t>(k)] -= betaFreq;
      bias[static_cast<std::size_t>(k)] += betaFreq * kGamma * biasScale;
    }
    freq[static_cast<std::size_t>(bestPosition)] += kBeta;
    bias[static_cast<std::size_t>(bestPosition)] -= kBeta * kGamma * biasScale;

    const int winner = bestBiasPosition;
    {
      Neuron& u = net[static_cast<std::size_t>(winner)];
      u.alpha -= alpha * (u.alpha - s.alpha) / kInitialAlpha;
      u.red -= alpha * (u.red - s.red) / kInitialAlpha;
      u.green -= alpha * (u.green - s.green) / kInitialAlpha;
      u.blue -= alpha * (u.blue - s.blue) / kInitialAlpha;
    }
    for (int k = 1; k <= r; ++k) {
      const double a = radPower[k];
      for (const int j : {winner + k, winner - k}) {
        if (j < 0 || j >= n) continue;
        Neuron& u = net[static_cast<std::size_t>(j)];
        u.alpha -= a * (u.alpha - s.alpha) / kNeighbourScale;
        u.red -= a * (u.red - s.red) / kNeighbourScale;
        u.green -= a * (u.green - s.green) / kNeighbourScale;
        u.blue -= a * (u.blue - s.blue) / kNeighbourScale;
      }
    }

    position += step;
    if (position >= pixelCount) position -= pixelCount;
    ++i;
    if (i % delta == 0) {
      if (cancelled(cancel)) return false;
      alpha -= alpha / alphaDecrease;
      radius -= radius / kRadiusDecrease;
      r = static_cast<int>(radius);
      if (r < 2) r = 0;
      fillRadPower(radPower, r, alpha);
    }
  }
  return true;
}

}  // namespace

SamplingPlan samplingPlan(std::size_t pixelCount) {
  SamplingPlan plan;
  plan.factor =
      static_cast<int>(std::min<std::size_t>(pixelCount / kPixelsPerSamplingStep + 1, kMaxSamplingFactor));
  plan.samples = pixelCount / static_cast<std::size_t>(plan.factor);
  plan.delta = std::max<std::size_t>(plan.samples / kPhases, 1);
  // The first of the primes that does not divide the byte count, so that
  // the walk does not fall into step with the rows.
  const std::uint64_t byteCount = static_cast<std::uint64_t>(pixelCount) * 4;
  plan.step = kLastPrime;
  for (int prime : kPrimes) {
    if (byteCount % static_cast<std::uint64_t>(prime) != 0) {
      plan.step = static_cast<std::size_t>(prime);
      break;
    }
  }
  return plan;
}

const std::array<std::uint8_t, 256>& gammaTable() {
  static const std::array<std::uint8_t, 256> table = [] {
    std::array<std::uint8_t, 256> t{};
    for (int v = 0; v < 256; ++v) {
      t[static_cast<std::size_t>(v)] =
          static_cast<std::uint8_t>(std::floor(std::pow(v / 255.0, 1.0 / 1.8) * 255.0 + 0.5));
    }
    return t;
  }();
  return table;
}

std::optional<PaletteQuantizer> PaletteQuantizer::learn(const std::uint8_t* bgra, std::size_t pixelCount,
                                                        int colours, const CancelFlag* cancel) {
  if (bgra == nullptr || pixelCount == 0 || colours < 2 || colours > 256 || (colours & (colours - 1)) != 0) {
    return std::nullopt;
  }
  const int n = colours;
  std::vector<Neuron> net = initialNetwork(n);

  // A picture with no more colours than the palette holds keeps them all,
  // exactly: the network would only blur them (a two-colour picture came out
  // as two mixtures of its colours). Unused entries keep the starting network.
  const auto few = fewColours(bgra, pixelCount, n, cancel);
  if (cancelled(cancel)) return std::nullopt;
  if (few) {
    std::vector<PaletteColour> palette = toPalette(net);
    for (std::size_t i = 0; i < few->size(); ++i) {
      const std::uint32_t key = (*few)[i];
      palette[i] = PaletteColour{static_cast<std::uint8_t>(key >> 16), static_cast<std::uint8_t>(key >> 8),
                                 static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(key >> 24)};
    }
    PaletteQuantizer q = fromPalette(std::move(palette));
    q.exactKeys_.reserve(q.palette_.size());
    for (std::size_t i = 0; i < q.palette_.size(); ++i) {
      const PaletteColour& c = q.palette_[i];
      const std::uint8_t bytes[4] = {c.blue, c.green, c.red, c.alpha};
      q.exactKeys_.push_back({colourKey(bytes), static_cast<int>(i)});
    }
    // Equal keys keep the first entry: any of them is the same colour.
    std::stable_sort(q.exactKeys_.begin(), q.exactKeys_.end(),
                     [](const ExactEntry& a, const ExactEntry& b) { return a.key < b.key; });
    return q;
  }

  if (!train(net, bgra, pixelCount, cancel)) return std::nullopt;
  return fromPalette(toPalette(net));
}

PaletteQuantizer PaletteQuantizer::fromPalette(std::vector<PaletteColour> palette) {
  const auto& T = gammaTable();
  const int n = static_cast<int>(palette.size());
  PaletteQuantizer q;
  q.palette_ = std::move(palette);
  q.gammaPalette_.resize(q.palette_.size());
  for (std::size_t i = 0; i < q.palette_.size(); ++i) {
    const PaletteColour& c = q.palette_[i];
    q.gammaPalette_[i] = GammaEntry{c.alpha, T[c.red], T[c.green], T[c.blue]};
  }

  // Selection sort by gamma-space green (the first smallest moves forward),
  // building the start index of each green value on the way.
  int previousGreen = 0;
  int startPosition = 0;
  for (int i = 0; i < n; ++i) {
    int smallest = i;
    for (int j = i + 1; j < n; ++j) {
      if (q.gammaPalette_[static_cast<std::size_t>(j)].green <
          q.gammaPalette_[static_cast<std::size_t>(smallest)].green) {
        smallest = j;
      }
    }
    if (smallest != i) {
      std::swap(q.gammaPalette_[static_cast<std::size_t>(i)],
                q.gammaPalette_[static_cast<std::size_t>(smallest)]);
      std::swap(q.palette_[static_cast<std::size_t>(i)], q.palette_[static_cast<std::size_t>(smallest)]);
    }
    const int green = q.gammaPalette_[static_cast<std::size_t>(i)].green;
    if (green != previousGreen) {
      q.greenIndex_[static_cast<std::size_t>(previousGreen)] = (startPosition + i) >> 1;
      for (int g = previousGreen + 1; g < green; ++g) q.greenIndex_[static_cast<std::size_t>(g)] = i;
      previousGreen = green;
      startPosition = i;
    }
  }
  q.greenIndex_[static_cast<std::size_t>(previousGreen)] = (startPosition + n - 1) >> 1;
  for (int g = previousGreen + 1; g < 256; ++g) q.greenIndex_[static_cast<std::size_t>(g)] = n - 1;
  return q;
}

int PaletteQuantizer::indexOf(std::uint8_t blue, std::uint8_t green, std::uint8_t red,
                              std::uint8_t alpha) const {
  if (!exactKeys_.empty()) {
    const std::uint8_t bytes[4] = {blue, green, red, alpha};
    const std::uint32_t key = colourKey(bytes);
    const auto found = std::lower_bound(exactKeys_.begin(), exactKeys_.end(), key,
                                        [](const ExactEntry& e, std::uint32_t k) { return e.key < k; });
    if (found != exactKeys_.end() && found->key == key) return found->index;
  }
  const auto& T = gammaTable();
  int a = 0, r = 0, g = 0, b = 0;
  if (alpha != 0) {
    a = alpha;
    r = T[red];
    g = T[green];
    b = T[blue];
  }
  const double e = colourWeight(a);
  const int n = static_cast<int>(gammaPalette_.size());

  double bestDistance = static_cast<double>(1 << 30);
  int best = 0;
  // Walk outward from the entries with this green, up and down in turn. The
  // walk ends altogether at the first entry whose green term alone is
  // already worse than the best found.
  auto consider = [&](int k) {
    const GammaEntry& p = gammaPalette_[static_cast<std::size_t>(k)];
    const double dg = p.green - g;
    const double greenTerm = e * dg * dg;
    if (greenTerm > bestDistance) return false;
    const double db = p.blue - b;
    const double dr = p.red - r;
    const double da = p.alpha - a;
    const double distance = greenTerm + e * db * db + e * dr * dr + da * da;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = k;
    }
    return true;
  };
  int up = greenIndex_[static_cast<std::size_t>(g)];
  int down = up - 1;
  while (up < n || down >= 0) {
    if (up < n) {
      if (!consider(up)) break;
      ++up;
    }
    if (down >= 0) {
      if (!consider(down)) break;
      --down;
    }
  }
  return best;
}

}  // namespace pixmoor::image
