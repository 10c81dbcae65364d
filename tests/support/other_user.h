// Running part of a test as an ordinary user, so that permissions apply even
// when the suite runs as the superuser (as CI does).
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace pixmoor::testing {

// The unprivileged user the superuser turns into ("nobody").
inline constexpr uid_t kOtherUser = 65534;
inline constexpr gid_t kOtherGroup = 65534;

// Only the superuser can make files of another user, or become one.
inline bool canActAsAnotherUser() {
  return ::geteuid() == 0;
}

// Runs `body` in a forked child: as kOtherUser when we are the superuser,
// as ourselves otherwise. Answers what `body` returned, 125 when the child
// could not drop its privileges, -1 when it did not end normally. Files the
// child must reach need modes that let kOtherUser in.
inline int runAsOrdinaryUser(const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(kOtherGroup) != 0 || ::setuid(kOtherUser) != 0)) {
      ::_exit(125);
    }
    ::_exit(body());
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Whether runAsOrdinaryUser's user may run `program`: a clone under a folder
// only its owner may enter (a home of mode 700) keeps it out, and a test
// that runs the program as that user can then only skip.
inline bool ordinaryUserCanRun(const char* program) {
  return runAsOrdinaryUser([program] { return ::access(program, X_OK) == 0 ? 0 : 1; }) == 0;
}

#define PIXMOOR_SKIP_UNLESS_ORDINARY_USER_CAN_RUN(program)                                   \
  if (!::pixmoor::testing::ordinaryUserCanRun(program))                                      \
  GTEST_SKIP() << "user " << ::pixmoor::testing::kOtherUser << " cannot reach " << (program) \
               << ": a folder above it lets only its owner in"

}  // namespace pixmoor::testing
