// Runs a program with some system calls refused (EPERM), as a machine whose
// policy forbids them would: `pixmoor-refuse-calls CALL... -- PROGRAM ARGS`.
// "seccomp" also refuses prctl(PR_SET_SECCOMP), the older way to a filter.
// A test tool, never installed.
#include <seccomp.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  int first = 1;
  while (first < argc && std::strcmp(argv[first], "--") != 0) ++first;
  if (first + 1 >= argc) {
    std::fprintf(stderr, "usage: %s CALL... -- PROGRAM [ARGUMENT...]\n", argv[0]);
    return 2;
  }
  scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
  if (filter == nullptr) return 2;
  for (int i = 1; i < first; ++i) {
    const int call = seccomp_syscall_resolve_name(argv[i]);
    if (call == __NR_SCMP_ERROR || seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), call, 0) != 0) {
      std::fprintf(stderr, "%s: no such call: %s\n", argv[0], argv[i]);
      return 2;
    }
    if (std::strcmp(argv[i], "seccomp") == 0 &&
        seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(prctl), 1,
                         SCMP_A0(SCMP_CMP_EQ, PR_SET_SECCOMP)) != 0)
      return 2;
  }
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || seccomp_load(filter) != 0) {
    std::perror("seccomp");
    return 2;
  }
  seccomp_release(filter);
  ::execvp(argv[first + 1], argv + first + 1);
  std::perror(argv[first + 1]);
  return 127;
}
