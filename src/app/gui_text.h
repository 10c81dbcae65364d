// UTF-8 texts of the program to and from Qt strings.
#pragma once

#include <QString>
#include <string>

namespace pixmoor::app {

inline QString qs(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace pixmoor::app
