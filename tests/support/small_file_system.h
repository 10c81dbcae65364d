// A small file system of a test's own, for what only a real one shows (a
// full disk): a tmpfs mounted in a mount namespace of a forked child, so
// that the mount goes with the child however it ends and nothing outside
// it ever sees it. Needs the superuser (as CI runs); elsewhere the answer
// says the mount was impossible, for the test to skip.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

namespace pixmoor::testing {

inline constexpr int kNoMount = 200;

// Runs `body` in a child with a tmpfs of `size` (such as "256k") mounted at
// the folder `mountPoint`. Answers what `body` returned, kNoMount when no
// mount could be made, -1 when the child did not end normally.
inline int withSmallFileSystem(const std::string& mountPoint, const char* size,
                               const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    const std::string options = std::string("size=") + size;
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("pixmoor-test", mountPoint.c_str(), "tmpfs", 0, options.c_str()) != 0)
      ::_exit(kNoMount);
    ::_exit(body());
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Fills the file system that holds `folder` with a file "filler" until no
// byte is left, then gives `giveBack` bytes back. False when that failed.
inline bool fillUp(const std::string& folder, off_t giveBack) {
  const int filler = ::open((folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (filler < 0) return false;
  const std::string block(4096, 'x');
  off_t size = 0;
  for (ssize_t n; (n = ::write(filler, block.data(), block.size())) > 0;) size += n;
  const bool cut = size >= giveBack && ::ftruncate(filler, size - giveBack) == 0;
  return ::close(filler) == 0 && cut;
}

}  // namespace pixmoor::testing
