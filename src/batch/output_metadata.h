// What an output keeps of its source beyond pixels and colour profile: the
// companion's --metadata and --keep-dates. The window keeps neither.
//
// Pure functions but for sourceTimes, which asks the file system; any thread.
#pragma once

#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "batch/picture_outcome.h"

namespace pixmoor::batch {

enum class ExifChoice {
  none,            // the output carries no EXIF (the window's and the default)
  keep,            // the source's, fitted to the output (metadata/exif_editor.h)
  keepWithoutGps,  // the same without its GPS directory
};

struct MetadataChoice {
  ExifChoice exif = ExifChoice::none;
  // The output bears the source's access and modification times.
  bool keepDates = false;
};

struct FittedExif {
  std::vector<std::uint8_t> block;  // what the output carries; empty when nothing
  ExifCarried carried = ExifCarried::none;
  std::optional<PictureWarning> warning;  // why a block the source has is left out
};

// The source's EXIF block `source` as an output of `width` x `height`
// written by `encoder` carries it under `choice`.
FittedExif fitExif(std::span<const std::uint8_t> source, ExifChoice choice, int width, int height,
                   std::uint32_t encoder);

// The access and modification times of the file at `path` (links followed),
// read before the picture is: a read would move its access time.
std::optional<std::array<struct timespec, 2>> sourceTimes(const std::string& path);

}  // namespace pixmoor::batch
