#include "batch/output_path.h"

namespace pixmoor::batch {

std::string outputPath(const std::string& source, const std::string& prefix, const std::string& format) {
  const std::size_t slash = source.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;

  std::string candidate = source.substr(0, nameStart);
  candidate += prefix;
  candidate += source.substr(nameStart);

  // The extension is cut from the whole candidate: a prefix holding a "/"
  // moves the name into a subfolder, and a dot before that "/" is no
  // extension. Without any extension nothing is cut.
  const std::size_t dot = candidate.rfind('.');
  if (dot != std::string::npos && candidate.find('/', dot) == std::string::npos) candidate.resize(dot);

  candidate.push_back('.');
  for (const char c : format) {
    candidate.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  return candidate;
}

}  // namespace pixmoor::batch
