// Building blocks of the resampling kernels, open to tests and benchmarks:
// the per-axis weight tables of both smooth filters, the Mitchell-Netravali
// cubic, and entry points that take an explicit thread count.
//
// Everything here is pure computation on caller-owned memory. Functions that
// allocate report failure by returning false (or an empty table); nothing
// throws. Any thread may call them.
#pragma once

#include <cstdint>
#include <vector>

#include "image/raster.h"

namespace pixmoor::image {

// A raster the kernels may read or write: pixels present, positive sides,
// 24 or 32 bits, and rows long enough for their pixels. Checked before any
// pixel is touched.
inline bool rasterUsable(const Raster& raster) {
  return raster.data() != nullptr && raster.width > 0 && raster.height > 0 &&
         (raster.depth == 24 || raster.depth == 32) &&
         static_cast<std::int64_t>(raster.stride) >=
             static_cast<std::int64_t>(raster.width) * (raster.depth / 8);
}

// ---- Opaque path: integer per-axis tables ----------------------------------

// Weights of a growing axis are fractions of kAreaOne (2^14).
inline constexpr int kAreaShift = 14;
inline constexpr std::uint32_t kAreaOne = 1u << kAreaShift;

// One axis of the opaque path. Target position i reads `count[i]` source
// positions starting at `first[i]`, with weights[offset[i] .. offset[i] + count[i]).
// Every position's weights sum to exactly `unit`: on a shrinking axis they
// are the covered lengths in 1/newLength of a source pixel, so `unit` is
// oldLength and nothing is rounded; on a growing axis `unit` is kAreaOne.
// The same taps are also laid out with one length for every position: `span`
// weights from padFirst[i], at padWeights[i * span], zeros where a position
// needs fewer. The horizontal pass walks these, so its inner loop always has
// the same trip count.
struct AxisTaps {
  std::uint32_t unit = 0;
  std::vector<std::int32_t> first;
  std::vector<std::int32_t> count;
  std::vector<std::int32_t> offset;
  std::vector<std::uint16_t> weights;
  int span = 0;
  std::vector<std::int32_t> padFirst;
  std::vector<std::uint16_t> padWeights;
};

// Shrinking or equal (newLength <= oldLength): exact area coverage. Growing:
// linear interpolation between the two nearest source pixel centres, with
// the edges held. Lengths must be positive. False when memory runs out.
bool buildAxisTaps(int newLength, int oldLength, AxisTaps& taps);

// The passes of the opaque path, narrowest first: plain C++ (all a build for
// another processor has), SSE2, AVX2 (where the processor has it). The bytes
// are the same whichever runs.
enum class VectorPasses { plain, sse2, avx2 };

// The widest passes the opaque path and the reduction while decoding may use
// from now on, where the build and the processor have them; avx2, the
// default, lets the widest available run. For tests, which compare them.
void setVectorPasses(VectorPasses widest);

// resampleOpaque with an explicit number of threads (0: as many as the calling
// thread may have, image/thread_budget.h).
bool resampleOpaqueThreads(const Raster& source, Raster& target, const CancelFlag* cancel, int threads);

// ---- Alpha path: Mitchell-Netravali ------------------------------------------

// The Mitchell-Netravali cubic with B = C = 1/3, support 2 ("Reconstruction
// Filters in Computer Graphics", Mitchell and Netravali, SIGGRAPH 1988).
double mitchellWeight(double x);

// Weights for one axis and pass of resampleSmooth. Entry i covers source
// indices first[i] .. last[i]; its weights start at weights[i * room].
struct ContributionTable {
  int room = 0;
  std::vector<std::int32_t> first;
  std::vector<std::int32_t> last;
  std::vector<double> weights;
};

// Lengths must be positive. False when memory runs out.
bool buildContributions(int newLength, int oldLength, ContributionTable& table);

// resampleSmooth with an explicit number of threads (0: as many as the calling
// thread may have).
bool resampleSmoothThreads(Raster& source, Raster& target, const CancelFlag* cancel, int threads);

}  // namespace pixmoor::image
