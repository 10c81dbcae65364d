#include "platform_core/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace pixmoor::platform {

namespace {

// The instance name holds blanks and dots ("Pixmoor 2011 v1.4.1"); a slash
// would make it a path, so only that is replaced.
std::string fileNameFor(const std::string& instanceName) {
  std::string name;
  for (char c : instanceName) name += (c == '/') ? '_' : c;
  return name + ".lock";
}

std::string runtimeFolder() {
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && xdg[0] == '/') {
    struct stat st {};
    if (::stat(xdg, &st) == 0 && S_ISDIR(st.st_mode)) return xdg;
  }
  // A folder of our own under /tmp, private to this user.
  std::string folder = "/tmp/pixmoor-" + std::to_string(::getuid());
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return {};
  return folder;
}

}  // namespace

std::string instanceLockPath(const std::string& instanceName) {
  const std::string folder = runtimeFolder();
  if (folder.empty()) return {};
  return folder + "/" + fileNameFor(instanceName);
}

InstanceLock::~InstanceLock() {
  release();
}

void InstanceLock::release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

InstanceCheck InstanceLock::acquire(const std::string& instanceName) {
  if (fd_ >= 0) return InstanceCheck::first;
  const std::string path = instanceLockPath(instanceName);
  if (path.empty()) return InstanceCheck::unprotected;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return InstanceCheck::unprotected;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    return error == EWOULDBLOCK ? InstanceCheck::alreadyRunning : InstanceCheck::unprotected;
  }
  fd_ = fd;
  return InstanceCheck::first;
}

}  // namespace pixmoor::platform
