// Opaque resampling: exact area averaging on an axis that shrinks, linear
// interpolation between pixel centres on an axis that grows.
//
// Why linear and not a cubic when growing: it never overshoots, so hard edges
// (text, line art, screenshots) enlarge without dark or light halos and
// nothing needs clamping; photographs, the usual input, are almost always
// reduced, where the area average decides the quality.
//
// Arithmetic is integer, with one rounding per pass. On a shrinking axis a
// weight is the length that a target pixel covers of a source pixel, counted
// in 1/newLength of a source pixel: whole numbers of at most 32767 that sum
// to oldLength, so no weight is rounded. (Weights rounded to a fixed
// fraction drift together on fine periodic detail: alternating columns came
// out 18 levels off.) The vertical pass sums weight * byte exactly in 32 bits
// and keeps value * 128, rounded, in a 16-bit line; the horizontal pass sums
// weight * line value exactly in 32 bits and rounds once at the end. Every
// byte is therefore within 1/2 + 1/128 of a level of the exact area average,
// whatever the content, and a uniform picture stays uniform to the last bit.
// A growing axis interpolates with two weights in units of 2^-14.
//
// The divisions by the weight sums are multiplications by a float factor,
// then + 1/2 and truncation. The factor is nudged up by 2^-21 so that an
// exact half always rounds up, as integer rounding would, although neither
// the factor nor a sum of up to 2^30 is exact in float; no result moves by
// more than a millionth of its value for it.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>
#if defined(__x86_64__)
#define PIXMOOR_AVX2 1  // compiled in, run where the processor has AVX2
#endif
#endif

#include "image/memory_budget.h"
#include "image/orientation.h"
#include "image/thread_budget.h"
#include "resample/parallel_rows.h"
#include "resample/resample.h"
#include "resample/resample_kernels.h"
#include "resample/row_reducer.h"

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
  // in units of 1/n of a source pixel. Each overlap is a positive integer of
  // at most n, and the overlaps of one target sum to o.
  taps.unit = static_cast<std::uint32_t>(o);
  for (int i = 0; i < n; ++i) {
    const std::int64_t lo = std::int64_t{i} * o;
    const std::int64_t hi = lo + o;
    const auto j0 = static_cast<std::int32_t>(lo / n);
    const auto j1 = static_cast<std::int32_t>((hi - 1) / n);
    taps.offset.push_back(static_cast<std::int32_t>(taps.weights.size()));
    for (std::int32_t j = j0; j <= j1; ++j) {
      const std::int64_t overlap = std::min(hi, std::int64_t{j + 1} * n) - std::max(lo, std::int64_t{j} * n);
      taps.weights.push_back(static_cast<std::uint16_t>(overlap));
    }
    taps.first.push_back(j0);
    taps.count.push_back(j1 - j0 + 1);
  }
}

void buildLinear(int n, int o, AxisTaps& taps) {
  // Source position of target centre i: (i + 0.5) * o / n - 0.5, written as
  // the fraction num / den with integers.
  const std::int64_t den = 2 * std::int64_t{n};
  taps.unit = kAreaOne;
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

// ---- Which passes run -------------------------------------------------------
// Every pass is written in plain C++, which is all a build for another
// processor (arm64) has, and on x86 again with SSE2 and, chosen at run time
// where the processor has it, with AVX2. All give the same bytes; the widest
// the build and the processor offer runs, unless a test narrows the choice to
// compare them.
std::atomic<VectorPasses> widestAllowed{VectorPasses::avx2};

VectorPasses passesInUse() {
#if defined(PIXMOOR_AVX2)
  static const VectorPasses built =
      __builtin_cpu_supports("avx2") != 0 ? VectorPasses::avx2 : VectorPasses::sse2;
#elif defined(__SSE2__)
  constexpr VectorPasses built = VectorPasses::sse2;
#else
  constexpr VectorPasses built = VectorPasses::plain;
#endif
  return std::min(built, widestAllowed.load(std::memory_order_relaxed));
}

[[maybe_unused]] bool avx2() {
  return passesInUse() == VectorPasses::avx2;
}

[[maybe_unused]] bool sse2() {
  return passesInUse() != VectorPasses::plain;
}

// The line between the passes holds value * 128, at most 32640, so it fits
// a signed 16-bit lane. Its rounding costs at most 1/256 of a level.
constexpr double kMidScale = 128.0;

float roundingFactor(double exact) {
  return static_cast<float>(exact * (1.0 + 0x1p-21));
}

// sum * scale rounded, halves up.
inline std::int32_t scaled(std::uint32_t sum, float scale) {
  return static_cast<std::int32_t>(static_cast<float>(sum) * scale + 0.5f);
}

// One target row, vertical pass over `length` bytes: mid[x] = sum over the
// taps of w * row[x], times `scale`. The 16-bit line keeps the bytes' order
// (C per pixel). Sums stay below 32767 * 255.
// `rows(y)` is picture row y of the source: a raster's, or one held while
// the picture is decoded.
template <typename Rows>
void verticalScalar(const Rows& rows, const std::uint16_t* w, std::int32_t first, std::int32_t count,
                    float scale, int from, int length, std::uint16_t* mid) {
  for (int x = from; x < length; ++x) {
    std::uint32_t sum = 0;
    for (std::int32_t k = 0; k < count; ++k) sum += std::uint32_t{w[k]} * rows(first + k)[x];
    mid[x] = static_cast<std::uint16_t>(scaled(sum, scale));
  }
}

#if defined(__SSE2__)
// Bytes per block: the block's 32-bit sums stay in the first-level cache
// while every tap row passes over them.
constexpr int kBlockBytes = 1024;

#if defined(PIXMOOR_AVX2)
// The vertical pass above, 16 bytes of two rows widened to 16 bits in one
// step: the halves of each register hold bytes 0-3 and 8-11, then 4-7 and
// 12-15, which the final pack puts back in order. Up to 32 rows, 64 bytes
// at a time with every sum in a register; more rows in blocks as above.
constexpr int kRegisterRows = 32;

// Rounds the sums of 16 values (halves as the passes leave them) into mid.
__attribute__((target("avx2"))) inline void store16(__m256i lo, __m256i hi, __m256 scale, std::uint16_t* to) {
  const __m256 half = _mm256_set1_ps(0.5f);
  lo = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(lo), scale), half));
  hi = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(hi), scale), half));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm256_packs_epi32(lo, hi));
}

// Adds 16 bytes of rows a and b, times the weight pair wv, to the sums.
__attribute__((target("avx2"))) inline void madd16(const std::uint8_t* a, const std::uint8_t* b, __m256i wv,
                                                   __m256i& lo, __m256i& hi) {
  const __m256i ra = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)));
  const __m256i rb = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b)));
  lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(ra, rb), wv));
  hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(ra, rb), wv));
}

template <typename Rows>
__attribute__((target("avx2"))) void verticalRowAvx2(const Rows& rows, const AxisTaps& ys, float scale,
                                                     int targetRow, int length, std::uint16_t* mid) {
  const std::int32_t first = ys.first[static_cast<std::size_t>(targetRow)];
  const std::int32_t count = ys.count[static_cast<std::size_t>(targetRow)];
  const std::uint16_t* w = ys.weights.data() + ys.offset[static_cast<std::size_t>(targetRow)];
  const int vectorLength = length & ~15;
  const __m256 scaleV = _mm256_set1_ps(scale);
  // Pair k of rows: rows k and k + 1, or k twice (weight 0) for an odd last row.
  const auto pairWeights = [&](std::int32_t k) {
    return static_cast<int>(w[k] | (k + 1 < count ? std::uint32_t{w[k + 1]} << 16 : 0u));
  };
  const auto pairRows = [&](std::int32_t k, const std::uint8_t*& a, const std::uint8_t*& b) {
    a = rows(first + k);
    b = k + 1 < count ? rows(first + k + 1) : a;
  };

  if (count <= kRegisterRows) {
    __m256i wv[kRegisterRows / 2];
    const std::uint8_t* a[kRegisterRows / 2];
    const std::uint8_t* b[kRegisterRows / 2];
    const int pairs = (count + 1) / 2;
    for (int j = 0; j < pairs; ++j) {
      wv[j] = _mm256_set1_epi32(pairWeights(2 * j));
      pairRows(2 * j, a[j], b[j]);
    }
    int x = 0;
    for (; x + 64 <= vectorLength; x += 64) {
      __m256i s0 = _mm256_setzero_si256(), s1 = s0, s2 = s0, s3 = s0, s4 = s0, s5 = s0, s6 = s0, s7 = s0;
      for (int j = 0; j < pairs; ++j) {
        madd16(a[j] + x, b[j] + x, wv[j], s0, s1);
        madd16(a[j] + x + 16, b[j] + x + 16, wv[j], s2, s3);
        madd16(a[j] + x + 32, b[j] + x + 32, wv[j], s4, s5);
        madd16(a[j] + x + 48, b[j] + x + 48, wv[j], s6, s7);
      }
      store16(s0, s1, scaleV, mid + x);
      store16(s2, s3, scaleV, mid + x + 16);
      store16(s4, s5, scaleV, mid + x + 32);
      store16(s6, s7, scaleV, mid + x + 48);
    }
    for (; x < vectorLength; x += 16) {
      __m256i s0 = _mm256_setzero_si256(), s1 = s0;
      for (int j = 0; j < pairs; ++j) madd16(a[j] + x, b[j] + x, wv[j], s0, s1);
      store16(s0, s1, scaleV, mid + x);
    }
  } else {
    alignas(32) __m256i acc[kBlockBytes / 8];
    for (int x0 = 0; x0 < vectorLength; x0 += kBlockBytes) {
      const int bytes = std::min(kBlockBytes, vectorLength - x0);
      for (int v = 0; v < bytes / 8; ++v) acc[v] = _mm256_setzero_si256();
      for (std::int32_t k = 0; k < count; k += 2) {
        const __m256i wv = _mm256_set1_epi32(pairWeights(k));
        const std::uint8_t* a = nullptr;
        const std::uint8_t* b = nullptr;
        pairRows(k, a, b);
        for (int x = 0; x < bytes; x += 16) madd16(a + x0 + x, b + x0 + x, wv, acc[x / 8], acc[x / 8 + 1]);
      }
      for (int v = 0; v < bytes / 8; v += 2) store16(acc[v], acc[v + 1], scaleV, mid + x0 + 8 * v);
    }
  }
  verticalScalar(rows, w, first, count, scale, vectorLength, length, mid);
}
#endif

// Two source rows at a time: their bytes interleaved, widened to 16 bits and
// multiplied by (w[k], w[k + 1]) with the pairs summed in one step. Weights
// are at most 32767, so they fit the signed lanes.
template <typename Rows>
void verticalRowSse2(const Rows& rows, const AxisTaps& ys, float scale, int targetRow, int length,
                     std::uint16_t* mid) {
  const std::int32_t first = ys.first[static_cast<std::size_t>(targetRow)];
  const std::int32_t count = ys.count[static_cast<std::size_t>(targetRow)];
  const std::uint16_t* w = ys.weights.data() + ys.offset[static_cast<std::size_t>(targetRow)];
  const int vectorLength = length & ~15;
  const __m128i zero = _mm_setzero_si128();
  const __m128 scaleV = _mm_set1_ps(scale);
  const __m128 half = _mm_set1_ps(0.5f);
  alignas(16) __m128i acc[kBlockBytes / 4];
  for (int x0 = 0; x0 < vectorLength; x0 += kBlockBytes) {
    const int bytes = std::min(kBlockBytes, vectorLength - x0);
    for (int v = 0; v < bytes / 4; ++v) acc[v] = zero;
    for (std::int32_t k = 0; k < count; k += 2) {
      const bool pair = k + 1 < count;
      const std::uint8_t* a = rows(first + k) + x0;
      const std::uint8_t* b = pair ? rows(first + k + 1) + x0 : a;
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
      const __m128i lo = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(acc[v]), scaleV), half));
      const __m128i hi = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(acc[v + 1]), scaleV), half));
      const __m128i packed = _mm_packs_epi32(lo, hi);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(mid + x0 + 4 * v), packed);
    }
  }
  verticalScalar(rows, w, first, count, scale, vectorLength, length, mid);
}
#endif

template <typename Rows>
void verticalRow(const Rows& rows, const AxisTaps& ys, float scale, int targetRow, int length,
                 std::uint16_t* mid) {
#if defined(PIXMOOR_AVX2)
  if (avx2()) return verticalRowAvx2(rows, ys, scale, targetRow, length, mid);
#endif
#if defined(__SSE2__)
  if (sse2()) return verticalRowSse2(rows, ys, scale, targetRow, length, mid);
#endif
  const auto at = static_cast<std::size_t>(targetRow);
  verticalScalar(rows, ys.weights.data() + ys.offset[at], ys.first[at], ys.count[at], scale, 0, length, mid);
}

// One target row, horizontal pass: sum over the taps of w * mid, times
// `scale` = 1 / (unit * 128). Sums stay below 32767 * 32640 < 2^30.

#if defined(__SSE2__)
// Reads 4 values from each pixel's start; for 24-bit pictures the fourth is
// the next pixel's first value, whose sum is computed and dropped (the line
// has one spare value at its end for the last pixel).
// Two taps at a time: the 4 values of pixel k and pixel k + 1 interleaved,
// multiplied by (w[k], w[k + 1]) and summed pairwise in one step. Values
// (<= 32640) and weights (<= 32767) fit signed 16-bit lanes, and a pair's
// sum stays below 2^31.
template <int C, int Span>
void horizontalRowSse2(const std::uint16_t* mid, const AxisTaps& xs, float scale, int from, int width,
                       std::uint8_t* out) {
  const int span = Span > 0 ? Span : xs.span;
  const std::uint16_t* w = xs.padWeights.data() + static_cast<std::size_t>(from) * span;
  const __m128 scaleV = _mm_set1_ps(scale);
  const __m128 half = _mm_set1_ps(0.5f);
  out += static_cast<std::size_t>(from) * C;
  for (int i = from; i < width; ++i, w += span, out += C) {
    const std::uint16_t* p = mid + static_cast<std::size_t>(xs.padFirst[static_cast<std::size_t>(i)]) * C;
    __m128i sum = _mm_setzero_si128();
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
    const __m128i bytes = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(sum), scaleV), half));
    const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(bytes, bytes), bytes);
    const auto pixel = static_cast<std::uint32_t>(_mm_cvtsi128_si32(packed));
    std::memcpy(out, &pixel, C);
  }
}
#endif

template <int C, int Span>
void horizontalRowPlain(const std::uint16_t* mid, const AxisTaps& xs, float scale, int from, int width,
                        std::uint8_t* out) {
  const int span = Span > 0 ? Span : xs.span;
  const std::uint16_t* w = xs.padWeights.data() + static_cast<std::size_t>(from) * span;
  out += static_cast<std::size_t>(from) * C;
  for (int i = from; i < width; ++i, w += span, out += C) {
    const std::uint16_t* p = mid + static_cast<std::size_t>(xs.padFirst[static_cast<std::size_t>(i)]) * C;
    std::uint32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    for (int k = 0; k < span; ++k, p += C) {
      const std::uint32_t weight = w[k];
      s0 += weight * p[0];
      s1 += weight * p[1];
      s2 += weight * p[2];
      if constexpr (C == 4) s3 += weight * p[3];
    }
    out[0] = static_cast<std::uint8_t>(scaled(s0, scale));
    out[1] = static_cast<std::uint8_t>(scaled(s1, scale));
    out[2] = static_cast<std::uint8_t>(scaled(s2, scale));
    if constexpr (C == 4) out[3] = static_cast<std::uint8_t>(scaled(s3, scale));
  }
}

template <int C, int Span>
void horizontalRow(const std::uint16_t* mid, const AxisTaps& xs, float scale, int from, int width,
                   std::uint8_t* out) {
#if defined(__SSE2__)
  if (sse2()) return horizontalRowSse2<C, Span>(mid, xs, scale, from, width, out);
#endif
  horizontalRowPlain<C, Span>(mid, xs, scale, from, width, out);
}

// Fixed spans for the common ratios let the compiler unroll the taps.
template <int C>
void horizontalRow(const std::uint16_t* mid, const AxisTaps& xs, float scale, int from, int width,
                   std::uint8_t* out) {
  switch (xs.span) {
    case 1:
      return horizontalRow<C, 1>(mid, xs, scale, from, width, out);
    case 2:
      return horizontalRow<C, 2>(mid, xs, scale, from, width, out);
    case 3:
      return horizontalRow<C, 3>(mid, xs, scale, from, width, out);
    case 4:
      return horizontalRow<C, 4>(mid, xs, scale, from, width, out);
    case 5:
      return horizontalRow<C, 5>(mid, xs, scale, from, width, out);
    case 6:
      return horizontalRow<C, 6>(mid, xs, scale, from, width, out);
    default:
      return horizontalRow<C, 0>(mid, xs, scale, from, width, out);
  }
}

// One arriving row of a picture turned a quarter, reduced along itself with
// the taps of the upright vertical axis: out[3 * i + c] = the sum over the
// taps of w * row[3 * (first + k) + c], times `scale`, rounded as the
// vertical pass rounds. `row` has one readable byte after its last pixel.
#if defined(__SSE2__)
inline __m128i fourBytes(const std::uint8_t* p) {
  std::int32_t word = 0;
  std::memcpy(&word, p, 4);
  return _mm_unpacklo_epi8(_mm_cvtsi32_si128(word), _mm_setzero_si128());
}

template <int Span>
void acrossRowSse2(const std::uint8_t* row, const AxisTaps& taps, float scale, int from, int length,
                   std::uint16_t* out) {
  const int span = Span > 0 ? Span : taps.span;
  const std::uint16_t* w = taps.padWeights.data() + static_cast<std::size_t>(from) * span;
  const __m128 scaleV = _mm_set1_ps(scale);
  const __m128 half = _mm_set1_ps(0.5f);
  out += static_cast<std::size_t>(from) * 3;
  for (int i = from; i < length; ++i, w += span, out += 3) {
    const std::uint8_t* p = row + static_cast<std::size_t>(taps.padFirst[static_cast<std::size_t>(i)]) * 3;
    __m128i sum = _mm_setzero_si128();
    int k = 0;
    for (; k + 2 <= span; k += 2, p += 6) {
      const __m128i pair = _mm_unpacklo_epi16(fourBytes(p), fourBytes(p + 3));
      const int weights = static_cast<int>(w[k] | (std::uint32_t{w[k + 1]} << 16));
      sum = _mm_add_epi32(sum, _mm_madd_epi16(pair, _mm_set1_epi32(weights)));
    }
    if (k < span) {
      const __m128i single = _mm_unpacklo_epi16(fourBytes(p), _mm_setzero_si128());
      sum = _mm_add_epi32(sum, _mm_madd_epi16(single, _mm_set1_epi32(w[k])));
    }
    const __m128i values = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(sum), scaleV), half));
    alignas(16) std::uint16_t packed[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(packed), _mm_packs_epi32(values, values));
    std::memcpy(out, packed, 3 * sizeof(std::uint16_t));
  }
}
#endif

template <int Span>
void acrossRowPlain(const std::uint8_t* row, const AxisTaps& taps, float scale, int from, int length,
                    std::uint16_t* out) {
  const int span = Span > 0 ? Span : taps.span;
  const std::uint16_t* w = taps.padWeights.data() + static_cast<std::size_t>(from) * span;
  out += static_cast<std::size_t>(from) * 3;
  for (int i = from; i < length; ++i, w += span, out += 3) {
    const std::uint8_t* p = row + static_cast<std::size_t>(taps.padFirst[static_cast<std::size_t>(i)]) * 3;
    std::uint32_t s0 = 0, s1 = 0, s2 = 0;
    for (int k = 0; k < span; ++k, p += 3) {
      s0 += std::uint32_t{w[k]} * p[0];
      s1 += std::uint32_t{w[k]} * p[1];
      s2 += std::uint32_t{w[k]} * p[2];
    }
    out[0] = static_cast<std::uint16_t>(scaled(s0, scale));
    out[1] = static_cast<std::uint16_t>(scaled(s1, scale));
    out[2] = static_cast<std::uint16_t>(scaled(s2, scale));
  }
}

template <int Span>
void acrossRow(const std::uint8_t* row, const AxisTaps& taps, float scale, int from, int length,
               std::uint16_t* out) {
#if defined(__SSE2__)
  if (sse2()) return acrossRowSse2<Span>(row, taps, scale, from, length, out);
#endif
  acrossRowPlain<Span>(row, taps, scale, from, length, out);
}

void acrossRow(const std::uint8_t* row, const AxisTaps& taps, float scale, int from, int length,
               std::uint16_t* out) {
  switch (taps.span) {
    case 2:
      return acrossRow<2>(row, taps, scale, from, length, out);
    case 3:
      return acrossRow<3>(row, taps, scale, from, length, out);
    case 4:
      return acrossRow<4>(row, taps, scale, from, length, out);
    case 5:
      return acrossRow<5>(row, taps, scale, from, length, out);
    default:
      return acrossRow<0>(row, taps, scale, from, length, out);
  }
}

// ---- The same passes with AVX2, where the processor has it -----------------
// Twice the lanes for the same integer sums and the same float rounding
// (no fused multiply-add), so the bytes are those of the passes above.
#if defined(PIXMOOR_AVX2)
// The taps of each two neighbouring targets laid out for the paired passes:
// per pair of targets and pair of taps, eight ints: (w[k] | w[k + 1] << 16)
// of the first target four times, then of the second. Empty without AVX2.
std::vector<std::int32_t> pairedWeights(const AxisTaps& taps) {
  std::vector<std::int32_t> out;
  if (!avx2()) return out;
  const auto n = static_cast<int>(taps.padFirst.size());
  const int span = taps.span;
  out.reserve(static_cast<std::size_t>(n / 2) * static_cast<std::size_t>((span + 1) / 2) * 8);
  for (int i = 0; i + 2 <= n; i += 2) {
    for (int k = 0; k < span; k += 2) {
      for (int t = 0; t < 2; ++t) {
        const std::uint16_t* w = taps.padWeights.data() + static_cast<std::size_t>(i + t) * span;
        const std::uint32_t word = w[k] | (k + 1 < span ? std::uint32_t{w[k + 1]} << 16 : 0u);
        out.insert(out.end(), 4, static_cast<std::int32_t>(word));
      }
    }
  }
  return out;
}

// Eight values from p0 in the low half, eight from p1 in the high half.
__attribute__((target("avx2"))) inline __m256i eightEach(const std::uint16_t* p0, const std::uint16_t* p1) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p0))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(p1)), 1);
}

__attribute__((target("avx2"))) inline __m256i eightEach(const std::uint8_t* p0, const std::uint8_t* p1) {
  return _mm256_cvtepu8_epi16(_mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p0)),
                                                 _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p1))));
}

// The horizontal pass (bytes out) or the pass along a turned picture's rows
// (16-bit values out) for 3 channels, two targets at once, one in each half
// of a register: the 8 values from each tap pair's first pixel are shuffled
// into (c0 of the pair's two pixels, c1, c2, 0) and multiplied by the pair's
// weights. An odd span reads a pixel past the taps, with weight 0: lines
// have room after their end. Each target is stored with one value more,
// which the next target overwrites, so the last target of the line is
// left to the caller: answers how many targets it did (an even count).
template <int Span, typename In, typename Out>
__attribute__((target("avx2"))) int pairedRowAvx2(const In* line, const AxisTaps& taps,
                                                  const std::int32_t* paired, float scale, int length,
                                                  Out* out) {
  const int span = Span > 0 ? Span : taps.span;
  const int pairs = (span + 1) / 2;
  const __m256 scaleV = _mm256_set1_ps(scale);
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m256i order = _mm256_setr_epi8(0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -128, -128, -128, -128, 0, 1,
                                         6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -128, -128, -128, -128);
  const std::int32_t* firsts = taps.padFirst.data();  // read once: the stores below could alias the taps
  const std::int32_t* wv = paired;
  int i = 0;
  for (; i + 3 <= length; i += 2, out += 6) {
    const In* p0 = line + static_cast<std::size_t>(firsts[i]) * 3;
    const In* p1 = line + static_cast<std::size_t>(firsts[i + 1]) * 3;
    __m256i sum = _mm256_setzero_si256();
    for (int k = 0; k < pairs; ++k, p0 += 6, p1 += 6, wv += 8) {
      const __m256i both = _mm256_shuffle_epi8(eightEach(p0, p1), order);
      sum = _mm256_add_epi32(
          sum, _mm256_madd_epi16(both, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(wv))));
    }
    const __m256i values =
        _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(sum), scaleV), half));
    const __m256i words = _mm256_packs_epi32(values, values);
    if constexpr (sizeof(Out) == 1) {
      const __m256i bytes = _mm256_packus_epi16(words, words);
      _mm_storeu_si32(out, _mm256_castsi256_si128(bytes));
      _mm_storeu_si32(out + 3, _mm256_extracti128_si256(bytes, 1));
    } else {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(words));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3), _mm256_extracti128_si256(words, 1));
    }
  }
  return i;
}

template <typename In, typename Out>
int pairedRow(const In* line, const AxisTaps& taps, const std::vector<std::int32_t>& paired, float scale,
              int length, Out* out) {
  if (paired.empty()) return 0;
  switch (taps.span) {
    case 2:
      return pairedRowAvx2<2>(line, taps, paired.data(), scale, length, out);
    case 3:
      return pairedRowAvx2<3>(line, taps, paired.data(), scale, length, out);
    case 4:
      return pairedRowAvx2<4>(line, taps, paired.data(), scale, length, out);
    case 5:
      return pairedRowAvx2<5>(line, taps, paired.data(), scale, length, out);
    case 6:
      return pairedRowAvx2<6>(line, taps, paired.data(), scale, length, out);
    default:
      return pairedRowAvx2<0>(line, taps, paired.data(), scale, length, out);
  }
}
#else
std::vector<std::int32_t> pairedWeights(const AxisTaps&) {
  return {};
}
#endif

// The horizontal pass of 3-channel rows: paired where it can be.
void horizontalRow3(const std::uint16_t* mid, const AxisTaps& xs, const std::vector<std::int32_t>& paired,
                    float scale, int width, std::uint8_t* out) {
  int from = 0;
#if defined(PIXMOOR_AVX2)
  from = pairedRow(mid, xs, paired, scale, width, out);
#else
  (void)paired;
#endif
  horizontalRow<3>(mid, xs, scale, from, width, out);
}

void acrossRow(const std::uint8_t* row, const AxisTaps& taps, const std::vector<std::int32_t>& paired,
               float scale, int length, std::uint16_t* out) {
  int from = 0;
#if defined(PIXMOOR_AVX2)
  from = pairedRow(row, taps, paired, scale, length, out);
#else
  (void)paired;
#endif
  acrossRow(row, taps, scale, from, length, out);
}

// acc[i] += w * values[i], exactly, for 16-bit values and weights below 2^15.
void addScaled(const std::uint16_t* values, std::uint32_t w, std::size_t count, std::uint32_t* acc) {
  std::size_t i = 0;
#if defined(__SSE2__)
  // Each value beside a 0, times (w, 0): one product per 32-bit lane.
  const __m128i weight = _mm_set1_epi32(static_cast<int>(w));
  const __m128i zero = _mm_setzero_si128();
  const bool vectors = sse2();
  for (; vectors && i + 8 <= count; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + i));
    __m128i* a = reinterpret_cast<__m128i*>(acc + i);
    _mm_storeu_si128(a,
                     _mm_add_epi32(_mm_loadu_si128(a), _mm_madd_epi16(_mm_unpacklo_epi16(v, zero), weight)));
    _mm_storeu_si128(
        a + 1, _mm_add_epi32(_mm_loadu_si128(a + 1), _mm_madd_epi16(_mm_unpackhi_epi16(v, zero), weight)));
  }
#endif
  for (; i < count; ++i) acc[i] += w * values[i];
}

// out[i] = sums[i] * scale, rounded as the horizontal pass rounds.
void roundBytes(const std::uint32_t* sums, std::size_t count, float scale, std::uint8_t* out) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128 scaleV = _mm_set1_ps(scale);
  const __m128 half = _mm_set1_ps(0.5f);
  const bool vectors = sse2();
  for (; vectors && i + 8 <= count; i += 8) {
    const auto round4 = [&](std::size_t at) {
      const __m128i sum = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + at));
      return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(sum), scaleV), half));
    };
    const __m128i words = _mm_packs_epi32(round4(i), round4(i + 4));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(words, words));
  }
#endif
  for (; i < count; ++i) out[i] = static_cast<std::uint8_t>(scaled(sums[i], scale));
}

// Columns of a turned picture written into its result at once.
constexpr int kColumnGroup = 16;

// Room after the end of every line the passes read: the 4-value reads and
// the paired passes' one pixel past the taps.
constexpr int kLineSpare = 8;

// Target rows per block handed to a thread; also how often `cancel` is read.
constexpr int kRowsPerBlock = 16;

}  // namespace

void setVectorPasses(VectorPasses widest) {
  widestAllowed.store(widest, std::memory_order_relaxed);
}

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

bool resampleOpaqueThreads(const Raster& source, Raster& target, const CancelFlag* cancel, int threads) {
  if (!rasterUsable(source) || !rasterUsable(target) || source.depth != target.depth) return false;
  AxisTaps xs;
  AxisTaps ys;
  if (!buildAxisTaps(target.width, source.width, xs) || !buildAxisTaps(target.height, source.height, ys)) {
    return false;
  }
  const HelperThreads helpers(threads, detail::rowBlocks(target.height, kRowsPerBlock));
  threads = helpers.count();

  // One 16-bit line of the vertical pass per thread, with a spare value.
  const int channels = source.bytesPerPixel();
  const int length = source.width * channels;
  const float verticalScale = roundingFactor(kMidScale / ys.unit);
  const float horizontalScale = roundingFactor(1.0 / (xs.unit * kMidScale));
  std::vector<std::unique_ptr<std::uint16_t[]>> mids;
  std::vector<std::int32_t> paired;
  try {
    if (channels == 3) paired = pairedWeights(xs);
    for (int t = 0; t < threads; ++t) {
      mids.emplace_back(new (std::nothrow) std::uint16_t[static_cast<std::size_t>(length) + kLineSpare]());
      if (!mids.back()) return false;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }

  return detail::forEachRowBlock(
      target.height, kRowsPerBlock, threads, cancel, [&](int slot, int begin, int end) {
        std::uint16_t* mid = mids[static_cast<std::size_t>(slot)].get();
        const auto rows = [&source](std::int32_t y) { return source.pictureRow(y); };
        for (int y = begin; y < end; ++y) {
          verticalRow(rows, ys, verticalScale, y, length, mid);
          std::uint8_t* out = target.pictureRow(y);
          if (channels == 3) {
            horizontalRow3(mid, xs, paired, horizontalScale, target.width, out);
          } else {
            horizontalRow<4>(mid, xs, horizontalScale, 0, target.width, out);
          }
        }
        return true;
      });
}

bool resampleOpaque(const Raster& source, Raster& target, const CancelFlag* cancel) {
  return resampleOpaqueThreads(source, target, cancel, 0);
}

// ---- Reducing while decoding ------------------------------------------------

struct RowReducer::State {
  int width = 0;  // rows as they arrive
  int height = 0;
  int targetWidth = 0;  // upright
  int targetHeight = 0;
  bool turned = false;   // a quarter turn: each arriving row is an upright column
  bool mirrorX = false;  // the result, made in the arriving layout, is then mirrored
  bool mirrorY = false;
  AxisTaps xs;  // the upright horizontal axis: along the arriving rows, or across them when turned
  AxisTaps ys;  // the upright vertical axis
  std::vector<std::int32_t> pairedX;  // the taps laid out for the paired passes
  std::vector<std::int32_t> pairedY;
  float verticalScale = 0;
  float horizontalScale = 0;
  std::size_t rowBytes = 0;  // 3 per pixel and the spare every line has
  int ringRows = 0;          // rows held: the longest run a target row reads, or 1 when turned
  std::unique_ptr<std::uint8_t[]> ring;
  // Upright layout: the 16-bit line between the passes. Turned: one arriving
  // row reduced along itself, 3 values per target row.
  std::vector<std::uint16_t> mid;
  std::vector<std::uint32_t> sums;  // turned: the two target columns an arriving row may add to
  std::vector<std::uint8_t> line;   // a target row before it is mirrored; turned: a column, rounded
  // Turned: the last columns done, kColumnGroup pixels of each target row
  // side by side, written into the result a row at a time (column by
  // column, every pixel would land on a cache line of its own).
  std::vector<std::uint8_t> columns;
  int groupStart = 0;
  std::unique_ptr<Raster> result;
  int arrived = 0;
  int next = 0;  // the next target row (upright layout) or column (turned) to complete

  std::uint8_t* slot(int row) { return ring.get() + static_cast<std::size_t>(row % ringRows) * rowBytes; }

  void emitRow(int t) {
    const auto rows = [this](std::int32_t y) -> const std::uint8_t* { return slot(y); };
    verticalRow(rows, ys, verticalScale, t, width * 3, mid.data());
    std::uint8_t* out = result->pictureRow(mirrorY ? targetHeight - 1 - t : t);
    if (!mirrorX) {
      horizontalRow3(mid.data(), xs, pairedX, horizontalScale, targetWidth, out);
      return;
    }
    horizontalRow3(mid.data(), xs, pairedX, horizontalScale, targetWidth, line.data());
    for (int x = 0; x < targetWidth; ++x)
      std::memcpy(out + 3 * static_cast<std::size_t>(targetWidth - 1 - x),
                  line.data() + 3 * static_cast<std::size_t>(x), 3);
  }

  void emitColumn(int t) {
    const std::size_t values = static_cast<std::size_t>(targetHeight) * 3;
    std::uint32_t* acc = sums.data() + static_cast<std::size_t>(t & 1) * values;
    roundBytes(acc, values, horizontalScale, line.data());
    std::fill(acc, acc + values, 0u);
    const auto g = static_cast<std::size_t>(t - groupStart);
    for (std::size_t y = 0; y < static_cast<std::size_t>(targetHeight); ++y)
      std::memcpy(columns.data() + (y * kColumnGroup + g) * 3, line.data() + y * 3, 3);
    if (t + 1 == targetWidth || t + 1 - groupStart == kColumnGroup) flushColumns(t + 1);
  }

  // Columns groupStart .. end - 1 into the result.
  void flushColumns(int end) {
    const int count = end - groupStart;
    for (int y = 0; y < targetHeight; ++y) {
      std::uint8_t* row = result->pictureRow(mirrorY ? targetHeight - 1 - y : y);
      const std::uint8_t* in = columns.data() + static_cast<std::size_t>(y) * kColumnGroup * 3;
      if (!mirrorX) {
        std::memcpy(row + static_cast<std::size_t>(groupStart) * 3, in, static_cast<std::size_t>(count) * 3);
        continue;
      }
      for (int g = 0; g < count; ++g)
        std::memcpy(row + static_cast<std::size_t>(targetWidth - 1 - groupStart - g) * 3, in + g * 3, 3);
    }
    groupStart = end;
  }

  // Arriving row r of a turned picture: its column r of the upright layout
  // is reduced vertically, then added to the target columns that cover it.
  void addColumn(const std::uint8_t* row, int r) {
    acrossRow(row, ys, pairedY, verticalScale, targetHeight, mid.data());
    const std::size_t values = static_cast<std::size_t>(targetHeight) * 3;
    for (int t = next; t < targetWidth && xs.first[static_cast<std::size_t>(t)] <= r; ++t) {
      const auto at = static_cast<std::size_t>(t);
      if (r >= xs.first[at] + xs.count[at]) continue;
      const std::uint32_t w = xs.weights[static_cast<std::size_t>(xs.offset[at] + r - xs.first[at])];
      addScaled(mid.data(), w, values, sums.data() + static_cast<std::size_t>(t & 1) * values);
    }
  }
};

namespace {

// Bytes of one axis's taps (AxisTaps) for n targets over o sources.
std::uint64_t tapBytes(std::uint64_t n, std::uint64_t o) {
  const std::uint64_t span = (o + n - 1) / n + 1;
  return 16 * n + 2 * (o + n) + 2 * n * span + 8 * n * (span + 1);
}

}  // namespace

std::uint64_t RowReducer::bytesNeeded(int width, int height, int orientation, int targetWidth,
                                      int targetHeight) {
  const bool turned = orientationSwapsSides(orientation);
  const int uprightWidth = turned ? height : width;
  const int uprightHeight = turned ? width : height;
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide || orientation < 1 ||
      orientation > 8 || targetWidth <= 0 || targetHeight <= 0 || targetWidth > uprightWidth ||
      targetHeight > uprightHeight)
    return 0;
  const std::uint64_t rowBytes = std::uint64_t{3} * static_cast<std::uint64_t>(width) + kLineSpare;
  const auto tw = static_cast<std::uint64_t>(targetWidth);
  const auto th = static_cast<std::uint64_t>(targetHeight);
  std::uint64_t bytes = tapBytes(tw, static_cast<std::uint64_t>(uprightWidth)) +
                        tapBytes(th, static_cast<std::uint64_t>(uprightHeight)) +
                        rasterBytes(targetWidth, targetHeight, 24);
  if (turned) {
    bytes += rowBytes + 2 * (3 * th + kLineSpare) + 2 * 4 * 3 * th + 3 * th * (kColumnGroup + 1);
  } else {
    const std::uint64_t ringRows = (static_cast<std::uint64_t>(height) + th - 1) / th + 1;
    bytes += ringRows * rowBytes + 2 * rowBytes + 3 * tw;
  }
  return bytes;
}

std::unique_ptr<RowReducer> RowReducer::make(int width, int height, int orientation, int targetWidth,
                                             int targetHeight) {
  if (bytesNeeded(width, height, orientation, targetWidth, targetHeight) == 0) return nullptr;
  auto s = std::unique_ptr<State>(new (std::nothrow) State);
  if (s == nullptr) return nullptr;
  s->width = width;
  s->height = height;
  s->targetWidth = targetWidth;
  s->targetHeight = targetHeight;
  s->turned = orientationSwapsSides(orientation);
  s->mirrorX = orientation == 2 || orientation == 3 || orientation == 6 || orientation == 7;
  s->mirrorY = orientation == 3 || orientation == 4 || orientation == 7 || orientation == 8;
  const bool built =
      s->turned ? buildAxisTaps(targetWidth, height, s->xs) && buildAxisTaps(targetHeight, width, s->ys)
                : buildAxisTaps(targetWidth, width, s->xs) && buildAxisTaps(targetHeight, height, s->ys);
  if (!built) return nullptr;
  s->verticalScale = roundingFactor(kMidScale / s->ys.unit);
  s->horizontalScale = roundingFactor(1.0 / (s->xs.unit * kMidScale));
  s->rowBytes = static_cast<std::size_t>(width) * 3 + kLineSpare;
  s->ringRows = s->turned ? 1 : s->ys.span;
  s->ring.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(s->ringRows) * s->rowBytes]());
  s->result = makeRaster(targetWidth, targetHeight, 24);
  if (s->ring == nullptr || s->result == nullptr) return nullptr;
  try {
    if (s->turned) {
      s->mid.assign(static_cast<std::size_t>(targetHeight) * 3 + kLineSpare, 0);
      s->line.assign(static_cast<std::size_t>(targetHeight) * 3, 0);
      s->columns.assign(static_cast<std::size_t>(targetHeight) * 3 * kColumnGroup, 0);
      s->sums.assign(static_cast<std::size_t>(targetHeight) * 3 * 2, 0);
      s->pairedY = pairedWeights(s->ys);
    } else {
      s->mid.assign(static_cast<std::size_t>(width) * 3 + kLineSpare, 0);
      if (s->mirrorX) s->line.assign(static_cast<std::size_t>(targetWidth) * 3, 0);
      s->pairedX = pairedWeights(s->xs);
    }
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return std::unique_ptr<RowReducer>(new (std::nothrow) RowReducer(std::move(s)));
}

RowReducer::RowReducer(std::unique_ptr<State> state) : state_(std::move(state)) {}
RowReducer::~RowReducer() = default;

std::uint8_t* RowReducer::nextRow() {
  return state_->slot(state_->arrived);
}

void RowReducer::rowDone() {
  State& s = *state_;
  if (s.arrived >= s.height) return;
  const int r = s.arrived++;
  if (s.turned) {
    s.addColumn(s.slot(r), r);
    while (s.next < s.targetWidth &&
           s.xs.first[static_cast<std::size_t>(s.next)] + s.xs.count[static_cast<std::size_t>(s.next)] <=
               s.arrived)
      s.emitColumn(s.next++);
    return;
  }
  while (s.next < s.targetHeight &&
         s.ys.first[static_cast<std::size_t>(s.next)] + s.ys.count[static_cast<std::size_t>(s.next)] <=
             s.arrived)
    s.emitRow(s.next++);
}

std::unique_ptr<Raster> RowReducer::finish() {
  State& s = *state_;
  while (s.arrived < s.height) {
    std::memset(nextRow(), 0, s.rowBytes);
    rowDone();
  }
  return std::move(s.result);
}

}  // namespace pixmoor::image
