// Fuzz target: the header reading of a plan (probePictureFile) against the
// load it foresees. The bytes become a file (in memory); whatever the header
// reading answers, the load under the same request must agree: the same
// refusal, or the same header taken (size and kind), the load then either
// loading it or failing on its pixel data. A disagreement stops the run
// with a crash. The input's last byte chooses the request's reduction.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "codecs/header_probe.h"
#include "codecs/load_picture.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pixmoor::fuzz::initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pixmoor::image;
  static pixmoor::fuzz::MemoryFile file;
  const std::span<const std::uint8_t> block(data, size);
  if (!pixmoor::fuzz::worthReading(block)) return -1;
  const int divisor = size == 0 ? 1 : 1 + data[size - 1] % 4;
  const ReduceTo reduce = [divisor](int width, int height) {
    return PictureSize{std::max(1, width / divisor), std::max(1, height / divisor)};
  };
  const LoadRequest request{pixmoor::fuzz::setup().limits(), &reduce, FormatSet::companion};
  const std::string& path = file.hold(block);
  const PictureHeader header = probePictureFile(path, request);
  const LoadedPicture load = loadPicture(path, request);
  if (header.status != LoadStatus::loaded) {
    if (load.status != header.status || load.headerTaken) std::abort();
    return 0;
  }
  if (!load.headerTaken || load.picture.source.width != header.width ||
      load.picture.source.height != header.height || load.picture.isIcon != header.isIcon)
    std::abort();
  if (load.loaded()) pixmoor::fuzz::touchEveryRow(*load.picture.raster);
  return 0;
}
