// Placeholder until the encoders land: nothing is registered, nothing saved.
// Removed by the change that adds the real encoders.
#include "image/encode.h"

namespace pixmoor::image {
void registerJpegEncoder() {}
void registerPngEncoder() {}
SaveStatus saveRaster(const Raster&, int, const std::string&, std::uint32_t, int, int, const CancelFlag*) {
  return SaveStatus::NoEncoder;
}
}  // namespace pixmoor::image
