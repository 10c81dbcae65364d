#include "platform/uri_list.h"

#include <strings.h>
#include <unistd.h>

#include <optional>

namespace pixmoor::platform {

namespace {

// Schemes and host names are ASCII.
bool sameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isThisMachine(std::string_view host) {
  if (host.empty() || sameIgnoringCase(host, "localhost")) return true;
  char name[256] = {};
  return ::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0' && sameIgnoringCase(host, name);
}

std::string percentDecoded(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
      bytes.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
      i += 2;
    } else {
      bytes.push_back(text[i]);
    }
  }
  return bytes;
}

// The path of one line, when it is a local file URL.
std::optional<std::string> localPath(std::string_view url) {
  constexpr std::string_view kScheme = "file:";
  if (url.size() < kScheme.size() || !sameIgnoringCase(url.substr(0, kScheme.size()), kScheme)) {
    return std::nullopt;
  }
  url.remove_prefix(kScheme.size());
  if (url.substr(0, 2) == "//") {
    url.remove_prefix(2);
    const std::size_t slash = url.find('/');
    const std::string_view host = url.substr(0, slash);
    if (slash == std::string_view::npos || !isThisMachine(host)) return std::nullopt;
    url.remove_prefix(slash);
  }
  if (url.empty() || url.front() != '/') return std::nullopt;
  // A query or fragment is no part of the name; a name holding "?" or "#"
  // has them escaped.
  url = url.substr(0, url.find_first_of("?#"));
  std::string path = percentDecoded(url);
  if (path.find('\0') != std::string::npos) return std::nullopt;
  return path;
}

}  // namespace

std::vector<std::string> localPathsOfUriList(std::string_view uriList) {
  std::vector<std::string> paths;
  while (!uriList.empty()) {
    const std::size_t end = uriList.find_first_of("\r\n");
    const std::string_view line = uriList.substr(0, end);
    uriList.remove_prefix(end == std::string_view::npos ? uriList.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    if (auto path = localPath(line)) paths.push_back(std::move(*path));
  }
  return paths;
}

}  // namespace pixmoor::platform
