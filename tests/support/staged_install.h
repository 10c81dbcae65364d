// The project as `cmake --install` lays it out, staged under a scratch
// DESTDIR, for the tests of what the desktop runs: the menu entry's command
// and the file managers' actions, with the paths written in their files.
//
// The including test defines PIXMOOR_BUILD_DIR, PIXMOOR_CMAKE and
// PIXMOOR_INSTALL_PREFIX. One thread; a failed staging is an empty root.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "support/temp_folder.h"

#if !defined(PIXMOOR_BUILD_DIR) || !defined(PIXMOOR_CMAKE) || !defined(PIXMOOR_INSTALL_PREFIX)
#error "the staged installation needs PIXMOOR_BUILD_DIR, PIXMOOR_CMAKE and PIXMOOR_INSTALL_PREFIX"
#endif

namespace pixmoor::testing {

class StagedInstall {
 public:
  StagedInstall() {
    const std::string command = "DESTDIR='" + folder_.path().string() +
                                "' '" PIXMOOR_CMAKE "' --install '" PIXMOOR_BUILD_DIR "' >/dev/null";
    const int status = std::system(command.c_str());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) root_ = folder_.path().string();
  }
  bool ok() const { return !root_.empty(); }
  // An installed path as the installed files name it (/usr/local/...), here.
  std::string staged(const std::string& installedPath) const { return root_ + installedPath; }
  std::string installed(const std::string& underPrefix) const {
    return std::string(PIXMOOR_INSTALL_PREFIX) + "/" + underPrefix;
  }

  // The value of `key` in the first group of a desktop-style file that has it.
  static std::string keyOf(const std::string& file, const std::string& key) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    }
    return {};
  }

 private:
  TempFolder folder_;
  std::string root_;
};

}  // namespace pixmoor::testing
