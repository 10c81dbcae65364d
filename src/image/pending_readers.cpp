// Placeholder until the BMP and icon readers land: both refuse every block.
// Removed by the change that adds bmp_reader.cpp and icon_reader.cpp.
#include "image/bmp_reader.h"
#include "image/icon_reader.h"

namespace pixmoor::image {
std::optional<DecodedPicture> readBmp(std::span<const std::uint8_t>) { return std::nullopt; }
std::optional<DecodedPicture> readIcon(std::span<const std::uint8_t>, const PngEntryDecoder&) { return std::nullopt; }
}  // namespace pixmoor::image
