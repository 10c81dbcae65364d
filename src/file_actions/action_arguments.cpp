#include "file_actions/action_arguments.h"

namespace pixmoor::file_actions {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percentDecoded(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool escape = text[i] == '%' && i + 2 < text.size();
    const int high = escape ? hexValue(text[i + 1]) : -1;
    const int low = escape ? hexValue(text[i + 2]) : -1;
    if (high >= 0 && low >= 0) {
      bytes.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    } else {
      bytes.push_back(text[i]);
    }
  }
  return bytes;
}

}  // namespace

std::string chosenPath(std::string_view argument, std::string_view here) {
  constexpr std::string_view kScheme = "file:";
  if (argument.starts_with(kScheme)) {
    std::string_view rest = argument.substr(kScheme.size());
    bool local = true;
    if (rest.starts_with("//")) {
      rest.remove_prefix(2);
      const std::size_t slash = rest.find('/');
      const std::string_view host = rest.substr(0, slash);
      local = slash != std::string_view::npos && (host.empty() || host == "localhost");
      if (local) rest.remove_prefix(slash);
    }
    if (local && rest.starts_with('/')) return percentDecoded(rest.substr(0, rest.find_first_of("?#")));
  }
  if (argument.starts_with('/')) return std::string(argument);
  return std::string(here) + "/" + std::string(argument);
}

}  // namespace pixmoor::file_actions
