#include "encoders/temp_output.h"

#include <new>
#include <stdexcept>

namespace pixmoor::image {

std::unique_ptr<FileOutput> TempOutput::create(const std::string& path, files::ReplaceStatus* status,
                                               const files::ReplaceRule& rule) {
  files::OpenedReplacement opened = files::FileReplacement::create(path, rule);
  if (status != nullptr) *status = opened.status;
  if (!opened.file) return nullptr;
  return std::make_unique<FileOutput>(std::move(opened.file));
}

bool MemoryOutput::write(const void* data, std::size_t size) {
  if (failed_) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  try {
    bytes_.insert(bytes_.end(), bytes, bytes + size);
  } catch (const std::bad_alloc&) {
    failed_ = true;
  } catch (const std::length_error&) {
    failed_ = true;
  }
  return !failed_;
}

}  // namespace pixmoor::image
