// Resampling of pictures with alpha: the separable Mitchell-Netravali filter.
//
// The results are reproducible to the bit, so the arithmetic is kept in a
// fixed shape: weights in double, every byte accumulated in double from 0 over
// the source indices in increasing order, then + 0.5, truncated, clamped.
// Vectorising across the bytes of a pixel or across a line keeps each byte's
// own sum in that order, so it changes nothing. (The build uses ISO C++ mode,
// in which GCC does not contract a * b + c into a fused multiply-add.)
//
// Alpha is straight and every byte, alpha included, is filtered on its own.
// Fully transparent source pixels are made white first, so their colour
// blends in as white rather than black.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "image/thread_budget.h"
#include "resample/parallel_rows.h"
#include "resample/resample.h"
#include "resample/resample_kernels.h"

namespace pixmoor::image {
namespace {

constexpr double kB = 1.0 / 3.0;
constexpr double kC = 1.0 / 3.0;

// Polynomial coefficients for |x| < 1 (p) and 1 <= |x| < 2 (q), times 6.
constexpr double kP3 = 12.0 - 9.0 * kB - 6.0 * kC;
constexpr double kP2 = -18.0 + 12.0 * kB + 6.0 * kC;
constexpr double kP0 = 6.0 - 2.0 * kB;
constexpr double kQ3 = -kB - 6.0 * kC;
constexpr double kQ2 = 6.0 * kB + 30.0 * kC;
constexpr double kQ1 = -12.0 * kB - 48.0 * kC;
constexpr double kQ0 = 8.0 * kB + 24.0 * kC;

constexpr double kSupport = 2.0;

// A line of pixels: `length` pixels of C bytes, consecutive lines `stride` apart.
struct Plane {
  std::uint8_t* data = nullptr;
  int width = 0;
  int height = 0;
  std::ptrdiff_t stride = 0;
  std::uint8_t* row(int y) const { return data + stride * y; }
};

inline std::uint8_t toByte(double sum) {
  // Truncating toward zero then clamping to 0 .. 255 is the same as clamping
  // first and truncating after; written this way it needs no branches.
  double v = sum + 0.5;
  v = v < 0.0 ? 0.0 : v;
  v = v > 255.0 ? 255.0 : v;
  return static_cast<std::uint8_t>(static_cast<int>(v));
}

// Byte values as doubles, read from a small table instead of converted.
struct ByteDoubles {
  double value[256];
  constexpr ByteDoubles() : value() {
    for (int i = 0; i < 256; ++i) value[i] = i;
  }
};
constexpr ByteDoubles kByteDoubles;

constexpr int kRowsPerBlock = 16;

// Filters along each row: target pixel i of a row from source pixels first .. last.
// Separate sums per byte (not an array) stay in registers.
template <int C>
bool filterRows(const Plane& src, const Plane& dst, const ContributionTable& table, int threads,
                const CancelFlag* cancel) {
  return detail::forEachRowBlock(src.height, kRowsPerBlock, threads, cancel, [&](int, int begin, int end) {
    for (int y = begin; y < end; ++y) {
      const std::uint8_t* in = src.row(y);
      std::uint8_t* out = dst.row(y);
      for (int i = 0; i < dst.width; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const std::int32_t first = table.first[at];
        const std::int32_t last = table.last[at];
        const double* w = table.weights.data() + at * static_cast<std::size_t>(table.room);
        const std::uint8_t* p = in + static_cast<std::size_t>(first) * C;
        double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
        for (std::int32_t k = first; k <= last; ++k, p += C) {
          const double weight = w[k - first];
          s0 += weight * kByteDoubles.value[p[0]];
          s1 += weight * kByteDoubles.value[p[1]];
          s2 += weight * kByteDoubles.value[p[2]];
          if constexpr (C == 4) s3 += weight * kByteDoubles.value[p[3]];
        }
        out[0] = toByte(s0);
        out[1] = toByte(s1);
        out[2] = toByte(s2);
        if constexpr (C == 4) out[3] = toByte(s3);
        out += C;
      }
    }
    return true;
  });
}

// Filters along each column, computed a whole target row at a time: the
// target row i accumulates source rows first .. last in order, which gives
// every byte the same sum as walking its column.
constexpr int kBlock = 128;

inline void clearBlock(double* __restrict sum) {
  for (int x = 0; x < kBlock; ++x) sum[x] = 0.0;
}
inline void addBlock(double* __restrict sum, const std::uint8_t* __restrict in, double w) {
  for (int x = 0; x < kBlock; ++x) sum[x] += w * static_cast<double>(in[x]);
}

bool filterColumns(const Plane& src, const Plane& dst, const ContributionTable& table, int channels,
                   int threads, const CancelFlag* cancel) {
  const int length = src.width * channels;
  return detail::forEachRowBlock(dst.height, kRowsPerBlock, threads, cancel, [&](int, int begin, int end) {
    alignas(32) double sum[kBlock];
    for (int i = begin; i < end; ++i) {
      const auto at = static_cast<std::size_t>(i);
      const std::int32_t first = table.first[at];
      const std::int32_t last = table.last[at];
      const double* w = table.weights.data() + at * static_cast<std::size_t>(table.room);
      std::uint8_t* out = dst.row(i);
      for (int x = 0; x < length; x += kBlock) {
        const int span = std::min(kBlock, length - x);
        if (span == kBlock) {
          clearBlock(sum);
          for (std::int32_t k = first; k <= last; ++k) addBlock(sum, src.row(k) + x, w[k - first]);
        } else {
          for (int v = 0; v < span; ++v) sum[v] = 0.0;
          for (std::int32_t k = first; k <= last; ++k) {
            const std::uint8_t* in = src.row(k) + x;
            const double weight = w[k - first];
            for (int v = 0; v < span; ++v) sum[v] += weight * static_cast<double>(in[v]);
          }
        }
        for (int v = 0; v < span; ++v) out[x + v] = toByte(sum[v]);
      }
    }
    return true;
  });
}

bool filterRowsAny(const Plane& src, const Plane& dst, const ContributionTable& table, int channels,
                   int threads, const CancelFlag* cancel) {
  return channels == 4 ? filterRows<4>(src, dst, table, threads, cancel)
                       : filterRows<3>(src, dst, table, threads, cancel);
}

}  // namespace

// Each power of a is formed first and then scaled by its coefficient; the
// other groupings differ in the last bit, which can move a rounded byte.
double mitchellWeight(double x) {
  const double a = std::fabs(x);
  const double a2 = a * a;
  const double a3 = a * a2;
  if (a < 1.0) return (kP3 * a3 + kP2 * a2 + kP0) / 6.0;
  if (a < 2.0) return (kQ3 * a3 + kQ2 * a2 + kQ1 * a + kQ0) / 6.0;
  return 0.0;
}

bool buildContributions(int newLength, int oldLength, ContributionTable& table) {
  if (newLength <= 0 || oldLength <= 0) return false;
  const double scale = static_cast<double>(newLength) / static_cast<double>(oldLength);
  double width = kSupport;
  double f = 1.0;
  if (scale < 1.0) {
    width = kSupport / scale;
    f = scale;
  }
  const int room = 2 * static_cast<int>(std::ceil(width)) + 1;
  const auto n = static_cast<std::size_t>(newLength);
  try {
    table.room = room;
    table.first.assign(n, 0);
    table.last.assign(n, 0);
    table.weights.assign(n * static_cast<std::size_t>(room), 0.0);
  } catch (const std::bad_alloc&) {
    table = ContributionTable{};
    return false;
  }
  const int lastIndex = oldLength - 1;
  for (int i = 0; i < newLength; ++i) {
    const double centre = i / scale + (0.5 / scale - 0.5);
    const double low = std::floor(centre - width);
    const double high = std::ceil(centre + width);
    auto first = low < 0.0 ? 0 : static_cast<std::int32_t>(low);
    auto last = high > lastIndex ? lastIndex : static_cast<std::int32_t>(high);
    if (last - first + 1 > room) {
      if (first < oldLength) {
        ++first;
      } else {
        --last;
      }
    }
    double* w = table.weights.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(room);
    double total = 0.0;
    for (std::int32_t j = first; j <= last; ++j) {
      const double weight = f * mitchellWeight((centre - j) * f);
      w[j - first] = weight;
      total += weight;
    }
    // The window is clipped at the picture's edges; renormalising there is
    // all the edge handling there is (no mirrored or repeated pixels).
    if (total > 0.0 && total != 1.0) {
      for (std::int32_t j = first; j <= last; ++j) w[j - first] /= total;
    }
    table.first[static_cast<std::size_t>(i)] = first;
    table.last[static_cast<std::size_t>(i)] = last;
  }
  return true;
}

bool resampleSmoothThreads(Raster& source, Raster& target, const CancelFlag* cancel, int threads) {
  if (!rasterUsable(source) || !rasterUsable(target) || source.depth != target.depth) return false;
  // Each pass splits the rows it writes: at most the taller picture's.
  const HelperThreads helpers(threads,
                              detail::rowBlocks(std::max(source.height, target.height), kRowsPerBlock));
  threads = helpers.count();
  const int channels = source.bytesPerPixel();

  if (channels == 4) {
    for (int y = 0; y < source.height; ++y) {
      if (cancelled(cancel)) return false;
      std::uint8_t* p = source.storageRow(y);
      for (int x = 0; x < source.width; ++x, p += 4) {
        if (p[3] == 0) p[0] = p[1] = p[2] = 0xFF;
      }
    }
  }

  const int oldW = source.width;
  const int oldH = source.height;
  const int newW = target.width;
  const int newH = target.height;
  // The smaller intermediate picture decides which axis goes first.
  const bool rowsFirst = std::int64_t{newW} * oldH <= std::int64_t{oldW} * newH;
  const int midW = rowsFirst ? newW : oldW;
  const int midH = rowsFirst ? oldH : newH;
  const auto midStride = static_cast<std::ptrdiff_t>(midW) * channels;
  std::unique_ptr<std::uint8_t[]> mid(
      new (std::nothrow) std::uint8_t[static_cast<std::size_t>(midStride) * static_cast<std::size_t>(midH)]);
  if (!mid) return false;

  const Plane in{source.data(), oldW, oldH, source.stride};
  const Plane between{mid.get(), midW, midH, midStride};
  const Plane out{target.data(), newW, newH, target.stride};

  ContributionTable table;
  if (rowsFirst) {
    if (!buildContributions(newW, oldW, table) ||
        !filterRowsAny(in, between, table, channels, threads, cancel)) {
      return false;
    }
    return buildContributions(newH, oldH, table) &&
           filterColumns(between, out, table, channels, threads, cancel);
  }
  if (!buildContributions(newH, oldH, table) ||
      !filterColumns(in, between, table, channels, threads, cancel)) {
    return false;
  }
  return buildContributions(newW, oldW, table) &&
         filterRowsAny(between, out, table, channels, threads, cancel);
}

bool resampleSmooth(Raster& source, Raster& target, const CancelFlag* cancel) {
  return resampleSmoothThreads(source, target, cancel, 0);
}

}  // namespace pixmoor::image
