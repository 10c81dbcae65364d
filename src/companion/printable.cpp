#include "companion/printable.h"

#include <cstdio>

#include "companion/json_report.h"

namespace pixmoor::companion {
namespace {

void appendHex(std::string& out, unsigned char byte) {
  char hex[5];
  std::snprintf(hex, sizeof hex, "\\x%02X", byte);
  out += hex;
}

bool c0OrDelete(unsigned char byte) {
  return byte < 0x20 || byte == 0x7F;
}

}  // namespace

std::string printable(const std::string& text) {
  std::string out;
  std::string_view rest = text;
  while (!rest.empty()) {
    const auto lead = static_cast<unsigned char>(rest.front());
    const std::size_t length = utf8SequenceLength(rest);
    if (lead == '\n') {
      out += "\\n";
    } else if (length == 0) {
      // A byte of another encoding; 0x80 to 0x9F alone is a C1 control to a terminal.
      if (lead >= 0x80 && lead <= 0x9F) {
        appendHex(out, lead);
      } else {
        out.push_back(rest.front());
      }
    } else if (length == 1 ? c0OrDelete(lead) : lead == 0xC2 && static_cast<unsigned char>(rest[1]) <= 0x9F) {
      for (std::size_t i = 0; i < length; ++i) appendHex(out, static_cast<unsigned char>(rest[i]));
    } else {
      out += rest.substr(0, length);
    }
    rest.remove_prefix(length == 0 ? 1 : length);
  }
  return out;
}

}  // namespace pixmoor::companion
