#include "batch/intake.h"
#include "codecs/format_registry.h"

namespace pixmoor::batch {

std::string intakeExtension(std::string_view name) {
  std::string extension = ".";
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return extension;
  if (name.find('/', dot) != std::string_view::npos) return extension;
  // Only ASCII letters change: UTF-8 bytes of other letters are left alone.
  for (const char c : name.substr(dot + 1)) {
    extension.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  return extension;
}

bool acceptedExtension(std::string_view extension, image::FormatSet formats) {
  return image::acceptsExtension(extension, formats);
}

}  // namespace pixmoor::batch
