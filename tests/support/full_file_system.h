// Running part of a test on a file system that is full, so that a write
// fails as it does on a full disk (ENOSPC), not through an injected fault.
//
// The body runs in a forked child that takes a mount namespace of its own
// and mounts a small tmpfs over a folder; the mount lives only as long as
// the child, so nothing is left to clean up whatever the body does. Mounting
// needs the superuser (as CI runs); without it the answer is kCannotMount.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>

namespace pixmoor::testing {

inline constexpr int kCannotMount = 124;

// In the child: mounts a 64 KiB tmpfs over `folder` (which must exist), runs
// `prepare` to put the files the body needs there, fills the space that is
// left with one more file, then answers what `body` answers. -1 when the
// child did not end normally.
inline int runOnFullFileSystem(const std::string& folder, const std::function<void()>& prepare,
                               const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    // Private propagation first: the mount must not reach the parent's view.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("pixmoor-full", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0777") != 0) {
      ::_exit(kCannotMount);
    }
    prepare();
    const std::string filler = folder + "/filler";
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) ::_exit(kCannotMount);
    const char block[512] = {};
    for (;;) {
      const ssize_t put = ::write(fd, block, sizeof block);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) break;
    }
    ::close(fd);
    ::_exit(body());
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace pixmoor::testing
