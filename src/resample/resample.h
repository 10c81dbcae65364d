// Resampling kernels: fill a target raster of a new size from a source raster.
//
// Every function takes a source and a target raster made by makeRaster (the
// target already has the new size and the source's depth) and returns false
// when it gives up (out of memory, or `cancel` was raised). They may split
// their rows over several threads, as many as image/thread_budget.h grants
// the calling thread; results are identical to one thread.
// Callable from any thread for rasters that thread owns.
//
// Implemented in area_average.cpp (resampleOpaque, and the row-by-row
// reduction of row_reducer.h), mitchell.cpp (resampleSmooth),
// resampled_copy.cpp (resampledCopy) and nearest_stretch.cpp (stretchRaw),
// over the weights and vector switches of resample_kernels.h.
#pragma once

#include <memory>

#include "image/raster.h"

namespace pixmoor::image {

enum class ResampleMode : int { smooth = 0, raw = 1 };

// Opaque pictures (24-bit, or any raster without alpha): exact area averaging
// on an axis that shrinks, smooth interpolation on an axis that grows.
bool resampleOpaque(const Raster& source, Raster& target, const CancelFlag* cancel = nullptr);

// Pictures with alpha (32-bit): the Mitchell-Netravali separable filter.
// Turns fully transparent source pixels white in place before filtering.
bool resampleSmooth(Raster& source, Raster& target, const CancelFlag* cancel = nullptr);

// A new raster of `width` x `height` with the source's depth, made by the
// one of the two above that fits it (alpha or not): what resampling a
// picture smoothly means everywhere. Null when the size is refused, memory
// cannot be had or `cancel` was raised.
std::unique_ptr<Raster> resampledCopy(Raster& source, int width, int height,
                                      const CancelFlag* cancel = nullptr);

// Raw stretch: every target pixel copies the source pixel nearest its centre.
bool stretchRaw(const Raster& source, Raster& target);

}  // namespace pixmoor::image
