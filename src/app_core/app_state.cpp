#include "app_core/app_state.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

namespace pixmoor::app {

std::string withTrailingSlash(const std::string& folder) {
  if (folder.empty() || folder.back() == '/') return folder;
  return folder + '/';
}

std::string currentFolder() {
  // Paths on Linux may be longer than any fixed buffer: grow until it fits.
  std::vector<char> buffer(256);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() > (1u << 20)) return {};
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

void RequestQuit(AppState& state) {
  state.quitRequested = true;
}

}  // namespace pixmoor::app
