// Running a program under ptrace to end it at a chosen step, for tests of
// what kill -9 leaves behind: no timing, every step reachable.
//
// The steps counted are the system calls that change a name in the file
// system (a file created, linked, renamed or removed, a folder made or
// removed), since only those change what a later look at the folders sees;
// the others are counted too, for kills anywhere in between. The program is
// killed with SIGKILL on entry to the chosen call, before it runs. Only the
// calls after the program's exec are counted, in every thread. Linux only.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace pixmoor::testing {

// Where to end the program: before its `nameChange`-th call that changes a
// name, or before its `call`-th system call of any kind (0: not on that count).
struct KillPoint {
  int nameChange = 0;
  int call = 0;
};

struct TracedRun {
  bool started = false;  // the program was traced from its exec on
  bool killed = false;   // ended at the kill point
  int status = -1;       // the exit status when it ended by itself, 128 + the signal otherwise
  int nameChanges = 0;   // the calls that change a name, those that ran
  int calls = 0;         // every system call, those that ran
};

inline bool changesAName(const __ptrace_syscall_info& info) {
  const auto creates = [](std::uint64_t flags) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
  };
  switch (static_cast<long>(info.entry.nr)) {
#ifdef SYS_open
    case SYS_open:
      return creates(info.entry.args[1]);
#endif
    case SYS_openat:
      return creates(info.entry.args[2]);
#ifdef SYS_link
    case SYS_link:
#endif
#ifdef SYS_rename
    case SYS_rename:
#endif
#ifdef SYS_renameat
    case SYS_renameat:
#endif
#ifdef SYS_unlink
    case SYS_unlink:
#endif
#ifdef SYS_mkdir
    case SYS_mkdir:
#endif
#ifdef SYS_rmdir
    case SYS_rmdir:
#endif
    case SYS_linkat:
    case SYS_renameat2:
    case SYS_unlinkat:
    case SYS_mkdirat:
      return true;
    default:
      return false;
  }
}

// Forks, lets the child be traced, and runs `exec` in it (which sets up its
// files and execs the program). Waits until the program ends or is killed
// at `killAt`.
inline TracedRun runTraced(const std::function<void()>& exec, KillPoint killAt) {
  TracedRun run;
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return run;
  if (pid == 0) {
    if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) ::_exit(126);
    ::raise(SIGSTOP);
    exec();
    ::_exit(127);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) return run;
  const long options = PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACECLONE | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL;
  ::ptrace(PTRACE_SETOPTIONS, pid, nullptr, reinterpret_cast<void*>(options));
  ::ptrace(PTRACE_SYSCALL, pid, nullptr, nullptr);
  for (;;) {
    const pid_t task = ::waitpid(-1, &status, __WALL);
    if (task < 0) break;
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
      if (task != pid) continue;
      run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (!WIFSTOPPED(status)) continue;
    const int signal = WSTOPSIG(status);
    int deliver = 0;
    if (signal == (SIGTRAP | 0x80)) {
      __ptrace_syscall_info info{};
      if (run.started && ::ptrace(PTRACE_GET_SYSCALL_INFO, task, sizeof info, &info) > 0 &&
          info.op == PTRACE_SYSCALL_INFO_ENTRY) {
        const bool nameChange = changesAName(info);
        if ((nameChange && run.nameChanges + 1 == killAt.nameChange) || run.calls + 1 == killAt.call) {
          ::kill(pid, SIGKILL);
          run.killed = true;
          continue;  // the tasks now end, the leader last
        }
        run.nameChanges += nameChange;
        ++run.calls;
      }
    } else if (signal == SIGTRAP && (status >> 16) == PTRACE_EVENT_EXEC) {
      run.started = true;
    } else if (signal != SIGTRAP && signal != SIGSTOP) {
      deliver = signal;  // the program's own signals; a new thread's first stop is not one
    }
    ::ptrace(PTRACE_SYSCALL, task, nullptr, reinterpret_cast<void*>(static_cast<long>(deliver)));
  }
  return run;
}

}  // namespace pixmoor::testing
