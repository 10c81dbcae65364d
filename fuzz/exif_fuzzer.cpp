// Fuzz target: the EXIF editor on arbitrary blocks (the TIFF structure a
// JPEG's APP1 segment, a PNG's eXIf chunk or a HEIF item holds). The first
// byte picks the output's size and whether GPS goes. A block the editor
// accepts must come out no larger, accepted again as it is (so that every
// output carries a block its readers can walk), upright, and without GPS
// when asked.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "metadata/exif_editor.h"
#include "metadata/exif_orientation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pixmoor::image;
  if (size == 0) return -1;
  const std::uint8_t choice = data[0];
  const std::span<const std::uint8_t> payload(data + 1, size - 1);
  std::span<const std::uint8_t> tiff = exifTiffIn(payload);
  if (tiff.empty()) tiff = payload;
  const ExifEdits edits{1 + (choice & 0x3F) * 500, 1 + (choice >> 6) * 9000, (choice & 0x40) != 0};
  const auto out = normaliseExif(tiff, edits);
  if (!out) return 0;
  if (out->size() > tiff.size()) std::abort();
  const auto again = normaliseExif(*out, edits);
  if (!again || *again != *out) std::abort();
  if (tiffOrientation(*out) != 1) std::abort();
  if (edits.removeGps && exifHasGps(*out)) std::abort();
  return 0;
}
