// Reading a Trash record (info/NAME.trashinfo) as a file manager does, to
// see where it would put its file back.
#pragma once

#include <sstream>
#include <string>

namespace pixmoor::testing {

// A recorded path with its %XX escapes undone.
inline std::string percentDecoded(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

// Where a record puts its file back, as it is written (absolute in the home
// Trash); empty when the record is not whole.
inline std::string restoredTo(const std::string& record) {
  std::istringstream in(record);
  std::string header, path, date;
  std::getline(in, header);
  std::getline(in, path);
  std::getline(in, date);
  if (header != "[Trash Info]" || path.rfind("Path=", 0) != 0 || date.rfind("DeletionDate=", 0) != 0)
    return {};
  return percentDecoded(path.substr(5));
}

}  // namespace pixmoor::testing
