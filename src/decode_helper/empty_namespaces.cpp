#include "decode_helper/empty_namespaces.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace pixmoor::decode_helper {
namespace {

bool writeFile(const char* path, const std::string& text) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return ::close(fd) == 0 && written;
}

// The same user and group inside as outside: files keep their owners, and
// no other id exists in there.
bool mapOwnIds(uid_t uid, gid_t gid) {
  return writeFile("/proc/self/setgroups", "deny") &&
         writeFile("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") &&
         writeFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1");
}

// An empty tmpfs becomes the root (pivot_root onto itself, the old root
// detached), then read-only.
bool emptyRoot() {
  constexpr unsigned long kNothingToRun = MS_NOSUID | MS_NODEV | MS_NOEXEC;
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
  if (::mount("pixmoor-empty", "/tmp", "tmpfs", kNothingToRun, "size=4k,nr_inodes=2,mode=0555") != 0)
    return false;
  if (::chdir("/tmp") != 0 || ::syscall(SYS_pivot_root, ".", ".") != 0) return false;
  if (::umount2(".", MNT_DETACH) != 0 || ::chdir("/") != 0) return false;
  return ::mount(nullptr, "/", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY | kNothingToRun, nullptr) == 0;
}

// What the namespace's user could do (mount, and so on) it no longer may.
bool dropCapabilities() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
  return ::syscall(SYS_capset, &header, none) == 0;
}

}  // namespace

bool enterEmptyNamespaces() {
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET) != 0) return false;
  return mapOwnIds(uid, gid) && emptyRoot() && dropCapabilities();
}

}  // namespace pixmoor::decode_helper
