// Opaque resampling: exact area averaging on an axis that shrinks, linear
// interpolation between pixel centres on an axis that grows.
//
// Why linear and not a cubic when growing: it never overshoots, so hard edges
// (text, line art, screenshots) enlarge without dark or light halos and
// nothing needs clamping; photographs, the usual input, are almost always
// reduced, where the area average decides the quality.
//
// Arithmetic is fixed point. Each axis has integer weights summing to exactly
// kAreaOne (2^14). The vertical pass keeps 8 extra bits (value * 256) in a
// 16-bit line, the horizontal pass rounds once at the end, so a uniform
// picture comes out uniform to the last bit and the only error against exact
// arithmetic is the weight quantisation (below half a level for any ratio
// under 128).
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "image/parallel_rows.h"
#include "image/resample.h"
#include "image/resample_kernels.h"

namespace pixmoor::image {
namespace {

// round(kAreaOne * part / whole) for 0 <= part <= whole.
std::uint16_t fixedFraction(std::int64_t part, std::int64_t whole) {
  return static_cast<std::uint16_t>((part * 2 * kAreaOne + whole) / (2 * whole));
}

void appendTap(AxisTaps& taps, std::int32_t& first, std::int32_t index, std::uint16_t weight) {
  if (taps.weights.size() == static_cast<std::size_t>(taps.offset.back())) {
    if (weight == 0) return;  // no leading zero weights
    first = index;
  }
  taps.weights.push_back(weight);
}

void buildArea(int n, int o, AxisTaps& taps) {
  // Target i covers [i*o, (i+1)*o) and source j covers [j*n, (j+1)*n), both
  // in units of 1/n of a source pixel. Weights come from the rounded
  // cumulative coverage, so they telescope to exactly kAreaOne.
  for (int i = 0; i < n; ++i) {
    const std::int64_t lo = std::int64_t{i} * o;
    const std::int64_t hi = lo + o;
    const auto j0 = static_cast<std::int32_t>(lo / n);
    const auto j1 = static_cast<std::int32_t>((hi - 1) / n);
    taps.offset.push_back(static_cast<std::int32_t>(taps.weights.size()));
    std::int32_t first = j0;
    std::uint16_t before = 0;
    for (std::int32_t j = j0; j <= j1; ++j) {
      const std::int64_t edge = std::min(hi, std::int64_t{j + 1} * n);
      const std::uint16_t upTo = fixedFraction(edge - lo, o);
      appendTap(taps, first, j, static_cast<std::uint16_t>(upTo - before));
      before = upTo;
    }
    while (taps.weights.back() == 0) taps.weights.pop_back();  // no trailing zero weights
    taps.first.push_back(first);
    taps.count.push_back(static_cast<std::int32_t>(taps.weights.size()) - taps.offset.back());
  }
}

void buildLinear(int n, int o, AxisTaps& taps) {
  // Source position of target centre i: (i + 0.5) * o / n - 0.5, written as
  // the fraction num / den with integers.
  const std::int64_t den = 2 * std::int64_t{n};
  for (int i = 0; i < n; ++i) {
    const std::int64_t num = (2 * std::int64_t{i} + 1) * o - n;
    taps.offset.push_back(static_cast<std::int32_t>(taps.weights.size()));
    std::int32_t first = 0;
    if (num <= 0) {
      appendTap(taps, first, 0, kAreaOne);
    } else if (num / den >= o - 1) {
      appendTap(taps, first, o - 1, kAreaOne);
    } else {
      const auto j = static_cast<std::int32_t>(num / den);
      const std::uint16_t right = fixedFraction(num % den, den);
      appendTap(taps, first, j, static_cast<std::uint16_t>(kAreaOne - right));
      appendTap(taps, first, j + 1, right);
      if (taps.weights.back() == 0) taps.weights.pop_back();
    }
    taps.first.push_back(first);
    taps.count.push_back(static_cast<std::int32_t>(taps.weights.size()) - taps.offset.back());
  }
}

// The vertical pass works on blocks of this many bytes. Constant trip counts
// let the compiler vectorise the three loops below at its default level.
constexpr int kBlock = 256;

inline void firstTap(std::uint32_t* __restrict acc, const std::uint8_t* __restrict src, std::uint16_t w) {
  for (int x = 0; x < kBlock; ++x) acc[x] = static_cast<std::uint32_t>(static_cast<std::uint16_t>(src[x]) * w);
}

inline void nextTap(std::uint32_t* __restrict acc, const std::uint8_t* __restrict src, std::uint16_t w) {
  for (int x = 0; x < kBlock; ++x) acc[x] += static_cast<std::uint32_t>(static_cast<std::uint16_t>(src[x]) * w);
}

// Keeps 8 fraction bits: the vertical sum is value * 2^14, stored as value * 2^8.
constexpr int kMidShift = kAreaShift - 8;

inline void storeMid(std::uint16_t* __restrict mid, const std::uint32_t* __restrict acc) {
  for (int x = 0; x < kBlock; ++x) mid[x] = static_cast<std::uint16_t>((acc[x] + (1u << (kMidShift - 1))) >> kMidShift);
}

// One target row, vertical pass: mid[x] = sum over taps of w * row[x].
void verticalRow(const Raster& source, const AxisTaps& ys, int targetRow, int length, std::uint16_t* mid) {
  const std::int32_t first = ys.first[static_cast<std::size_t>(targetRow)];
  const std::int32_t count = ys.count[static_cast<std::size_t>(targetRow)];
  const std::uint16_t* w = ys.weights.data() + ys.offset[static_cast<std::size_t>(targetRow)];
  int x = 0;
  alignas(32) std::uint32_t acc[kBlock];
  for (; x + kBlock <= length; x += kBlock) {
    firstTap(acc, source.pictureRow(first) + x, w[0]);
    for (std::int32_t k = 1; k < count; ++k) nextTap(acc, source.pictureRow(first + k) + x, w[k]);
    storeMid(mid + x, acc);
  }
  for (; x < length; ++x) {
    std::uint32_t sum = 0;
    for (std::int32_t k = 0; k < count; ++k) sum += std::uint32_t{w[k]} * source.pictureRow(first + k)[x];
    mid[x] = static_cast<std::uint16_t>((sum + (1u << (kMidShift - 1))) >> kMidShift);
  }
}

// One target row, horizontal pass. The sum is value * 2^(8 + 14).
constexpr int kOutShift = 8 + kAreaShift;

template <int C>
void horizontalRow(const std::uint16_t* mid, const AxisTaps& xs, int width, std::uint8_t* out) {
  for (int i = 0; i < width; ++i) {
    const auto at = static_cast<std::size_t>(i);
    const std::uint16_t* p = mid + static_cast<std::size_t>(xs.first[at]) * C;
    const std::uint16_t* w = xs.weights.data() + xs.offset[at];
    const std::int32_t count = xs.count[at];
    std::uint32_t sum[C] = {};
    for (std::int32_t k = 0; k < count; ++k, p += C) {
      for (int c = 0; c < C; ++c) sum[c] += std::uint32_t{w[k]} * p[c];
    }
    for (int c = 0; c < C; ++c) out[c] = static_cast<std::uint8_t>((sum[c] + (1u << (kOutShift - 1))) >> kOutShift);
    out += C;
  }
}

// Target rows per block handed to a thread; also how often `cancel` is read.
constexpr int kRowsPerBlock = 16;

}  // namespace

bool buildAxisTaps(int newLength, int oldLength, AxisTaps& taps) {
  if (newLength <= 0 || oldLength <= 0) return false;
  try {
    taps = AxisTaps{};
    const auto n = static_cast<std::size_t>(newLength);
    taps.first.reserve(n);
    taps.count.reserve(n);
    taps.offset.reserve(n);
    if (newLength <= oldLength) {
      taps.weights.reserve(static_cast<std::size_t>(oldLength) + n);
      buildArea(newLength, oldLength, taps);
    } else {
      taps.weights.reserve(2 * n);
      buildLinear(newLength, oldLength, taps);
    }
  } catch (const std::bad_alloc&) {
    taps = AxisTaps{};
    return false;
  }
  return true;
}

int defaultResampleThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return static_cast<int>(std::clamp(cores, 1u, 4u));
}

bool resampleOpaqueThreads(const Raster& source, Raster& target, const CancelFlag* cancel, int threads) {
  if (!rasterUsable(source) || !rasterUsable(target) || source.depth != target.depth) return false;
  AxisTaps xs;
  AxisTaps ys;
  if (!buildAxisTaps(target.width, source.width, xs) || !buildAxisTaps(target.height, source.height, ys)) {
    return false;
  }
  if (threads <= 0) threads = defaultResampleThreads();
  threads = detail::plannedThreads(target.height, kRowsPerBlock, threads);

  // One 16-bit line of the vertical pass per thread.
  const int channels = source.bytesPerPixel();
  const int length = source.width * channels;
  std::vector<std::unique_ptr<std::uint16_t[]>> mids;
  try {
    for (int t = 0; t < threads; ++t) {
      mids.emplace_back(new (std::nothrow) std::uint16_t[static_cast<std::size_t>(length)]);
      if (!mids.back()) return false;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }

  return detail::forEachRowBlock(target.height, kRowsPerBlock, threads, cancel, [&](int slot, int begin, int end) {
    std::uint16_t* mid = mids[static_cast<std::size_t>(slot)].get();
    for (int y = begin; y < end; ++y) {
      verticalRow(source, ys, y, length, mid);
      if (channels == 3) {
        horizontalRow<3>(mid, xs, target.width, target.pictureRow(y));
      } else {
        horizontalRow<4>(mid, xs, target.width, target.pictureRow(y));
      }
    }
    return true;
  });
}

bool resampleOpaque(const Raster& source, Raster& target, const CancelFlag* cancel) {
  return resampleOpaqueThreads(source, target, cancel, 0);
}

}  // namespace pixmoor::image
