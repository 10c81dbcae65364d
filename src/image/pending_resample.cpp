// Placeholder until the resampling kernels land: every call fails.
// Removed by the change that adds the real kernels.
#include "image/resample.h"

namespace pixmoor::image {
bool resampleOpaque(const Raster&, Raster&, const CancelFlag*) { return false; }
bool resampleSmooth(Raster&, Raster&, const CancelFlag*) { return false; }
bool stretchRaw(const Raster&, Raster&) { return false; }
}  // namespace pixmoor::image
