// Fuzz target: what the batch runs on a picture file. The bytes become a
// file (in memory), loaded by path through loadPicture with a reduction, as
// the batch loads a source: the readers take it a window at a time, and a
// JPEG, non-interlaced PNG or BMP is reduced row by row while it decodes.
// The input's last byte chooses how much (a third to an eighth, sometimes
// one side only).
//
// In the capped mode (fuzz_support.h) every reduced picture whose data was
// whole is also checked against loading it whole and resampling it: the
// bytes must be the same, or the run stops with a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "codecs/load_picture.h"
#include "fuzz_support.h"
#include "resample/resample.h"

namespace {

using namespace pixmoor::image;

bool sameRows(const Raster& a, const Raster& b) {
  if (a.width != b.width || a.height != b.height || a.depth != b.depth) return false;
  const auto bytes = static_cast<std::size_t>(a.width) * static_cast<std::size_t>(a.bytesPerPixel());
  for (int y = 0; y < a.height; ++y) {
    if (std::memcmp(a.storageRow(y), b.storageRow(y), bytes) != 0) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pixmoor::fuzz::initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static pixmoor::fuzz::MemoryFile file;
  const std::span<const std::uint8_t> block(data, size);
  if (size == 0 || !pixmoor::fuzz::worthReading(block)) return -1;
  const int divisor = 3 + data[size - 1] % 6;
  const bool oneSide = data[size - 1] >= 0xC0;
  const ReduceTo reduce = [divisor, oneSide](int width, int height) -> std::optional<PictureSize> {
    return PictureSize{std::max(1, width / divisor), oneSide ? height : std::max(1, height / divisor)};
  };
  const LoadRequest request{pixmoor::fuzz::setup().limits(), &reduce, FormatSet::companion};
  LoadedPicture reduced = loadPicture(file.hold(block), request);
  if (!reduced.loaded()) return 0;
  Raster& raster = *reduced.picture.raster;
  pixmoor::fuzz::touchEveryRow(raster);
  const std::optional<PictureSize> target =
      reduce(reduced.picture.source.width, reduced.picture.source.height);
  const bool wasReduced =
      raster.width == target->width && raster.height == target->height &&
      (raster.width != reduced.picture.source.width || raster.height != reduced.picture.source.height);
  if (pixmoor::fuzz::setup().memoryBudget != 0 || reduced.picture.partial || !wasReduced) return 0;
  LoadedPicture whole = loadPicture(block, {pixmoor::fuzz::setup().limits(), nullptr, FormatSet::companion});
  if (!whole.loaded() || whole.picture.partial) std::abort();  // the same data read two ways
  const auto twoSteps = resampledCopy(*whole.picture.raster, target->width, target->height);
  if (twoSteps == nullptr || !sameRows(raster, *twoSteps)) std::abort();
  return 0;
}
