#include "metadata/exif_orientation.h"

#include <cstddef>
#include <optional>

namespace pixmoor::image {
namespace {

// Reads 16- and 32-bit values of a TIFF structure in its own byte order,
// refusing any read that would leave the block.
class TiffCursor {
 public:
  TiffCursor(std::span<const std::uint8_t> tiff, bool bigEndian) : tiff_(tiff), bigEndian_(bigEndian) {}

  std::optional<std::uint32_t> u16(std::size_t offset) const {
    if (offset > tiff_.size() || tiff_.size() - offset < 2) return std::nullopt;
    const std::uint32_t a = tiff_[offset];
    const std::uint32_t b = tiff_[offset + 1];
    return bigEndian_ ? (a << 8 | b) : (b << 8 | a);
  }
  std::optional<std::uint32_t> u32(std::size_t offset) const {
    const auto high = u16(bigEndian_ ? offset : offset + 2);
    const auto low = u16(bigEndian_ ? offset + 2 : offset);
    if (!high || !low) return std::nullopt;
    return *high << 16 | *low;
  }

 private:
  std::span<const std::uint8_t> tiff_;
  bool bigEndian_;
};

constexpr std::uint8_t kExifMark[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr std::uint32_t kOrientationTag = 0x0112;
constexpr std::uint32_t kTypeShort = 3;

}  // namespace

int exifOrientation(std::span<const std::uint8_t> app1) {
  if (app1.size() < sizeof kExifMark + 8) return 1;
  for (std::size_t i = 0; i < sizeof kExifMark; ++i) {
    if (app1[i] != kExifMark[i]) return 1;
  }
  return tiffOrientation(app1.subspan(sizeof kExifMark));
}

int tiffOrientation(std::span<const std::uint8_t> tiff) {
  if (tiff.size() < 8) return 1;
  bool bigEndian = false;
  if (tiff[0] == 'M' && tiff[1] == 'M') {
    bigEndian = true;
  } else if (!(tiff[0] == 'I' && tiff[1] == 'I')) {
    return 1;
  }
  const TiffCursor cursor(tiff, bigEndian);
  if (cursor.u16(2) != 42u) return 1;
  const auto ifd = cursor.u32(4);
  if (!ifd) return 1;
  const auto count = cursor.u16(*ifd);
  if (!count) return 1;
  for (std::uint32_t i = 0; i < *count; ++i) {
    const std::size_t entry = static_cast<std::size_t>(*ifd) + 2 + 12 * static_cast<std::size_t>(i);
    const auto tag = cursor.u16(entry);
    if (!tag) return 1;
    if (*tag != kOrientationTag) continue;
    const auto type = cursor.u16(entry + 2);
    const auto value = cursor.u16(entry + 8);  // a SHORT sits in the first half of the value field
    if (type != kTypeShort || !value) return 1;
    return (*value >= 1 && *value <= 8) ? static_cast<int>(*value) : 1;
  }
  return 1;
}

}  // namespace pixmoor::image
