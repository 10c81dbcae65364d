#include "isolated_readers/foreign_readers.h"

#include <utility>

#include "isolated_readers/avif_reader.h"
#include "isolated_readers/gif_reader.h"
#include "isolated_readers/heif_reader.h"
#include "isolated_readers/tiff_reader.h"
#include "isolated_readers/webp_reader.h"

namespace pixmoor::foreign {
namespace {

// One row per format, named as in the format registry.
constexpr std::pair<std::string_view, image::FormatReader> kReaders[] = {
    {"GIF", readGif}, {"WebP", readWebp}, {"TIFF", readTiff}, {"HEIF", readHeif}, {"AVIF", readAvif},
};

}  // namespace

image::FormatReader foreignReader(std::string_view name) {
  for (const auto& [format, reader] : kReaders) {
    if (format == name) return reader;
  }
  return nullptr;
}

}  // namespace pixmoor::foreign
