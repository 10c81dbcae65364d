// Opaque resampling: exact area averaging on an axis that shrinks, linear
// interpolation between pixel centres on an axis that grows.
//
// Why linear and not a cubic when growing: it never overshoots, so hard edges
// (text, line art, screenshots) enlarge without dark or light halos and
// nothing needs clamping; photographs, the usual input, are almost always
// reduced, where the area average decides the quality.
//
// Arithmetic is fixed point. Each axis has integer weights summing to exactly
// kAreaOne (2^14). The vertical pass keeps 7 extra bits (value * 128) in a
// 16-bit line, the horizontal pass rounds once at the end, so a uniform
// picture comes out uniform to the last bit. Against exact arithmetic the
// weight quantisation costs at most (taps per target pixel) / 128 of a level
// per axis, and far less on real pictures: a few hundredths for the usual
// reductions.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Lays the taps out again with one common length; a position near the end
// starts earlier and has zeros in front, so no index passes oldLength.
void padTaps(int n, int o, AxisTaps& taps) {
  taps.span = *std::max_element(taps.count.begin(), taps.count.end());
  taps.padFirst.assign(static_cast<std::size_t>(n), 0);
  taps.padWeights.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(taps.span), 0);
  for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
    const std::int32_t start = std::min(taps.first[i], o - taps.span);
    taps.padFirst[i] = start;
    std::uint16_t* w = taps.padWeights.data() + i * static_cast<std::size_t>(taps.span);
    for (std::int32_t k = 0; k < taps.count[i]; ++k) {
      w[taps.first[i] - start + k] = taps.weights[static_cast<std::size_t>(taps.offset[i] + k)];
    }
  }
}

// Keeps 7 fraction bits: the vertical sum is value * 2^14, stored as
// value * 2^7, at most 32640, so it also fits a signed 16-bit lane.
constexpr int kMidBits = 7;
constexpr int kMidShift = kAreaShift - kMidBits;

inline std::uint16_t midValue(std::uint32_t sum) {
  return static_cast<std::uint16_t>((sum + (1u << (kMidShift - 1))) >> kMidShift);
}

// One target row, vertical pass over `length` bytes: mid[x] = sum over the
// taps of w * row[x]. The 16-bit line keeps the bytes' order (C per pixel).
void verticalScalar(const Raster& source, const std::uint16_t* w, std::int32_t first, std::int32_t count,
                    int from, int length, std::uint16_t* mid) {
  for (int x = from; x < length; ++x) {
    std::uint32_t sum = 0;
    for (std::int32_t k = 0; k < count; ++k) sum += std::uint32_t{w[k]} * source.pictureRow(first + k)[x];
    mid[x] = midValue(sum);
  }
}

#if defined(__SSE2__)
// Bytes per block: the block's 32-bit sums stay in the first-level cache
// while every tap row passes over them.
constexpr int kBlockBytes = 1024;

// Two source rows at a time: their bytes interleaved, widened to 16 bits and
// multiplied by (w[k], w[k + 1]) with the pairs summed in one step.
void verticalRow(const Raster& source, const AxisTaps& ys, int targetRow, int length, std::uint16_t* mid) {
  const std::int32_t first = ys.first[static_cast<std::size_t>(targetRow)];
  const std::int32_t count = ys.count[static_cast<std::size_t>(targetRow)];
  const std::uint16_t* w = ys.weights.data() + ys.offset[static_cast<std::size_t>(targetRow)];
  const int vectorLength = length & ~15;
  const __m128i zero = _mm_setzero_si128();
  const __m128i round = _mm_set1_epi32(1 << (kMidShift - 1));
  alignas(16) __m128i acc[kBlockBytes / 4];
  for (int x0 = 0; x0 < vectorLength; x0 += kBlockBytes) {
    const int bytes = std::min(kBlockBytes, vectorLength - x0);
    for (int v = 0; v < bytes / 4; ++v) acc[v] = round;
    for (std::int32_t k = 0; k < count; k += 2) {
      const bool pair = k + 1 < count;
      const std::uint8_t* a = source.pictureRow(first + k) + x0;
      const std::uint8_t* b = pair ? source.pictureRow(first + k + 1) + x0 : a;
      const int weights = static_cast<int>(w[k] | (pair ? std::uint32_t{w[k + 1]} << 16 : 0u));
      const __m128i wv = _mm_set1_epi32(weights);
      __m128i* out = acc;
      for (int x = 0; x < bytes; x += 16, out += 4) {
        const __m128i ra = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x));
        const __m128i rb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x));
        const __m128i lo = _mm_unpacklo_epi8(ra, rb);
        const __m128i hi = _mm_unpackhi_epi8(ra, rb);
        out[0] = _mm_add_epi32(out[0], _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), wv));
        out[1] = _mm_add_epi32(out[1], _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), wv));
        out[2] = _mm_add_epi32(out[2], _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), wv));
        out[3] = _mm_add_epi32(out[3], _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), wv));
      }
    }
    for (int v = 0; v < bytes / 4; v += 2) {
      const __m128i packed =
          _mm_packs_epi32(_mm_srli_epi32(acc[v], kMidShift), _mm_srli_epi32(acc[v + 1], kMidShift));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(mid + x0 + 4 * v), packed);
    }
  }
  verticalScalar(source, w, first, count, vectorLength, length, mid);
}
#else
void verticalRow(const Raster& source, const AxisTaps& ys, int targetRow, int length, std::uint16_t* mid) {
  const auto at = static_cast<std::size_t>(targetRow);
  verticalScalar(source, ys.weights.data() + ys.offset[at], ys.first[at], ys.count[at], 0, length, mid);
}
#endif

// One target row, horizontal pass. The sum is value * 2^(7 + 14).
constexpr int kOutShift = kMidBits + kAreaShift;

[[maybe_unused]] inline std::uint8_t outByte(std::uint32_t sum) {
  return static_cast<std::uint8_t>((sum + (1u << (kOutShift - 1))) >> kOutShift);
}

#if defined(__SSE2__)
// Reads 4 values from each pixel's start; for 24-bit pictures the fourth is
// the next pixel's first value, whose sum is computed and dropped (the line
// has one spare value at its end for the last pixel).
// Two taps at a time: the 4 values of pixel k and pixel k + 1 interleaved,
// multiplied by (w[k], w[k + 1]) and summed pairwise in one step. Values
// (<= 32640) and weights (<= 16384) fit signed 16-bit lanes and every sum
// stays below 2^31.
template <int C, int Span>
void horizontalRow(const std::uint16_t* mid, const AxisTaps& xs, int width, std::uint8_t* out) {
  const int span = Span > 0 ? Span : xs.span;
  const std::uint16_t* w = xs.padWeights.data();
  const __m128i round = _mm_set1_epi32(1 << (kOutShift - 1));
  for (int i = 0; i < width; ++i, w += span, out += C) {
    const std::uint16_t* p = mid + static_cast<std::size_t>(xs.padFirst[static_cast<std::size_t>(i)]) * C;
    __m128i sum = round;
    int k = 0;
    for (; k + 2 <= span; k += 2, p += 2 * C) {
      const __m128i pair = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + C)));
      const int weights = static_cast<int>(w[k] | (std::uint32_t{w[k + 1]} << 16));
      sum = _mm_add_epi32(sum, _mm_madd_epi16(pair, _mm_set1_epi32(weights)));
    }
    if (k < span) {
      const __m128i single =
          _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
      sum = _mm_add_epi32(sum, _mm_madd_epi16(single, _mm_set1_epi32(w[k])));
    }
    const __m128i bytes = _mm_srli_epi32(sum, kOutShift);
    const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(bytes, bytes), bytes);
    const auto pixel = static_cast<std::uint32_t>(_mm_cvtsi128_si32(packed));
    std::memcpy(out, &pixel, C);
  }
}
#else
template <int C, int Span>
void horizontalRow(const std::uint16_t* mid, const AxisTaps& xs, int width, std::uint8_t* out) {
  const int span = Span > 0 ? Span : xs.span;
  const std::uint16_t* w = xs.padWeights.data();
  for (int i = 0; i < width; ++i, w += span, out += C) {
    const std::uint16_t* p = mid + static_cast<std::size_t>(xs.padFirst[static_cast<std::size_t>(i)]) * C;
    std::uint32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    for (int k = 0; k < span; ++k, p += C) {
      const std::uint32_t weight = w[k];
      s0 += weight * p[0];
      s1 += weight * p[1];
      s2 += weight * p[2];
      if constexpr (C == 4) s3 += weight * p[3];
    }
    out[0] = outByte(s0);
    out[1] = outByte(s1);
    out[2] = outByte(s2);
    if constexpr (C == 4) out[3] = outByte(s3);
  }
}
#endif

// Fixed spans for the common ratios let the compiler unroll the taps.
template <int C>
void horizontalRow(const std::uint16_t* mid, const AxisTaps& xs, int width, std::uint8_t* out) {
  switch (xs.span) {
    case 1:
      return horizontalRow<C, 1>(mid, xs, width, out);
    case 2:
      return horizontalRow<C, 2>(mid, xs, width, out);
    case 3:
      return horizontalRow<C, 3>(mid, xs, width, out);
    case 4:
      return horizontalRow<C, 4>(mid, xs, width, out);
    case 5:
      return horizontalRow<C, 5>(mid, xs, width, out);
    case 6:
      return horizontalRow<C, 6>(mid, xs, width, out);
    default:
      return horizontalRow<C, 0>(mid, xs, width, out);
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
    padTaps(newLength, oldLength, taps);
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

  // One 16-bit line of the vertical pass per thread, with a spare value.
  const int channels = source.bytesPerPixel();
  const int length = source.width * channels;
  std::vector<std::unique_ptr<std::uint16_t[]>> mids;
  try {
    for (int t = 0; t < threads; ++t) {
      mids.emplace_back(new (std::nothrow) std::uint16_t[static_cast<std::size_t>(length) + 1]());
      if (!mids.back()) return false;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }

  return detail::forEachRowBlock(target.height, kRowsPerBlock, threads, cancel,
                                 [&](int slot, int begin, int end) {
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
