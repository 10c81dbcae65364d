#include "batch/output_metadata.h"

#include "batch/output_formats.h"
#include "encoders/encode.h"
#include "metadata/exif_editor.h"

namespace pixmoor::batch {

FittedExif fitExif(std::span<const std::uint8_t> source, ExifChoice choice, int width, int height,
                   std::uint32_t encoder) {
  FittedExif fitted;
  if (choice == ExifChoice::none || source.empty()) return fitted;
  const bool removeGps = choice == ExifChoice::keepWithoutGps;
  std::optional<std::vector<std::uint8_t>> block = image::normaliseExif(source, {width, height, removeGps});
  if (!block) {
    fitted.warning = PictureWarning::exifDamaged;
    return fitted;
  }
  // A JPEG holds it in one segment: a larger block is left out, never cut.
  const OutputFormatRow* format = outputFormatRowOfEncoder(encoder);
  if (format != nullptr && block->size() > format->largestExif) {
    fitted.warning = PictureWarning::exifTooLarge;
    return fitted;
  }
  fitted.block = std::move(*block);
  fitted.carried = removeGps ? ExifCarried::keptWithoutGps : ExifCarried::kept;
  return fitted;
}

std::optional<std::array<struct timespec, 2>> sourceTimes(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return std::array<struct timespec, 2>{status.st_atim, status.st_mtim};
}

}  // namespace pixmoor::batch
