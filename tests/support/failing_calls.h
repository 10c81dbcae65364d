// Making chosen system calls fail, for failures the file system seldom
// gives on demand (a rename refused after everything before it worked, a
// file system without hard links): a seccomp filter that answers those calls
// with an error number instead of running them.
//
// The filter binds the calling process for good, and whatever it execs:
// install it in a forked child only. Linux on x86-64 and AArch64.
#pragma once

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pixmoor::testing {

#if defined(__x86_64__)
inline constexpr std::uint32_t kNativeAudit = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
inline constexpr std::uint32_t kNativeAudit = AUDIT_ARCH_AARCH64;
#else
inline constexpr std::uint32_t kNativeAudit = 0;
#endif

// One call to fail: every call of number `call`, or only those whose
// argument `argument` (0 to 5) equals `value` (compared on its low 32 bits).
struct FailingCall {
  long call = -1;
  int argument = -1;
  std::uint32_t value = 0;
};

// Every way a plain rename reaches the kernel (renameat2 without flags
// included); renameat2 with flags, such as RENAME_NOREPLACE, still runs.
inline std::vector<FailingCall> plainRenames() {
  std::vector<FailingCall> calls{{SYS_renameat2, 4, 0}};
#ifdef SYS_rename
  calls.push_back({SYS_rename});
#endif
#ifdef SYS_renameat
  calls.push_back({SYS_renameat});
#endif
  return calls;
}

// Every way to make a hard link.
inline std::vector<FailingCall> hardLinks() {
  std::vector<FailingCall> calls{{SYS_linkat}};
#ifdef SYS_link
  calls.push_back({SYS_link});
#endif
  return calls;
}

// Installs the filter in this process: the calls fail with `error`. False
// where no filter could be installed (another architecture, no seccomp).
inline bool failCalls(const std::vector<FailingCall>& calls, int error) {
  if (kNativeAudit == 0) return false;
  const auto load = [](std::uint32_t offset) {
    return sock_filter BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offset);
  };
  // On a match the next instruction, otherwise `skip` further.
  const auto jumpIfEqual = [](std::uint32_t value, std::uint8_t skip) {
    return sock_filter BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, 0, skip);
  };
  const auto answer = [](std::uint32_t what) { return sock_filter BPF_STMT(BPF_RET | BPF_K, what); };
  const auto fail = answer(SECCOMP_RET_ERRNO | (static_cast<std::uint32_t>(error) & SECCOMP_RET_DATA));
  // Calls of another architecture's numbering pass untouched.
  std::vector<sock_filter> program{load(offsetof(seccomp_data, arch)),
                                   sock_filter BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kNativeAudit, 1, 0),
                                   answer(SECCOMP_RET_ALLOW)};
  for (const FailingCall& call : calls) {
    program.push_back(load(offsetof(seccomp_data, nr)));
    if (call.argument < 0) {
      program.push_back(jumpIfEqual(static_cast<std::uint32_t>(call.call), 1));
      program.push_back(fail);
    } else {
      program.push_back(jumpIfEqual(static_cast<std::uint32_t>(call.call), 3));
      program.push_back(load(offsetof(seccomp_data, args) + 8 * static_cast<std::uint32_t>(call.argument)));
      program.push_back(jumpIfEqual(call.value, 1));
      program.push_back(fail);
    }
  }
  program.push_back(answer(SECCOMP_RET_ALLOW));
  const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) == 0;
}

}  // namespace pixmoor::testing
