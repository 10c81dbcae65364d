#include "settings/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <vector>

namespace pixmoor::settings {

namespace {

std::string resolveTarget(const std::string& path) {
  // Follow a link to the file it names; a missing file stays as given.
  std::vector<char> buffer(PATH_MAX + 1);
  if (::realpath(path.c_str(), buffer.data()) != nullptr) return buffer.data();
  return path;
}

std::string folderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// The umask is read from /proc rather than with umask(2), which would change
// it for a moment under the feet of other threads creating files.
mode_t modeForNewFile() {
  mode_t mask = 022;
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
      unsigned value = 0;
      if (std::sscanf(line, "Umask: %o", &value) == 1) {
        mask = static_cast<mode_t>(value);
        break;
      }
    }
    std::fclose(status);
  }
  return 0666 & ~mask;
}

}  // namespace

bool replaceFileAtomically(const std::string& path, std::string_view bytes) {
  if (path.empty()) return false;
  const std::string target = resolveTarget(path);

  struct stat existing {};
  mode_t mode = modeForNewFile();
  if (::stat(target.c_str(), &existing) == 0) {
    if (!S_ISREG(existing.st_mode)) return false;  // a folder or a device is never replaced
    mode = existing.st_mode & 07777;
  }

  std::string temp = folderOf(target) + "/." + baseNameOf(target) + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok && ::rename(temp.c_str(), target.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

}  // namespace pixmoor::settings
