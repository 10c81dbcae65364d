#include "decode_helper/confinement.h"

#include <fcntl.h>
#include <sched.h>
#include <seccomp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <limits>

#include "sandbox/helper_program.h"

namespace pixmoor::decode_helper {
namespace {

// The descriptors of a helper (the spawner puts them there).
constexpr scmp_datum_t kRequestFd = image::kHelperRequestFd;
constexpr scmp_datum_t kReplyFd = image::kHelperReplyFd;
constexpr scmp_datum_t kErrorFd = image::kHelperErrorFd;
constexpr scmp_datum_t kPictureFd = image::kHelperPictureFd;

// A build under the sanitizers (PIXMOOR_SANITIZE, PIXMOOR_TSAN): their runtimes check
// whether memory is readable by writing it into a pipe of their own.
#if defined(PIXMOOR_SANITIZED_HELPER)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

#if defined(__x86_64__) || defined(__aarch64__)
constexpr bool kKnownArchitecture = true;
#else
constexpr bool kKnownArchitecture = false;
#endif

// AddressSanitizer and ThreadSanitizer reserve terabytes of shadow memory up
// front: an address-space limit would fail their own allocations.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kShadowMemory = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kShadowMemory = true;
#else
constexpr bool kShadowMemory = false;
#endif
#else
constexpr bool kShadowMemory = false;
#endif

// What the process maps now: its code, its libraries and the stack, from
// /proc/self/statm; 0 where there is no /proc.
std::uint64_t statmBytes() {
  std::FILE* statm = std::fopen("/proc/self/statm", "re");
  if (statm == nullptr) return 0;
  unsigned long long pages = 0;
  const bool read = std::fscanf(statm, "%llu", &pages) == 1;
  std::fclose(statm);
  return read ? pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) : 0;
}

std::uint64_t rememberedBytes = 0;  // the spawner's, before it gave up /proc

// What the process maps before it reads anything (read before the filter
// forbids it; a fork in an empty root has the spawner's figure).
std::uint64_t mappedBytes() {
  const std::uint64_t now = statmBytes();
  return now != 0 ? now : rememberedBytes;
}

// Sets both limits of `resource` to `wanted`, or to the hard limit the
// process inherited when that is lower (raising it would fail: `ulimit -v`).
bool limitAtMost(int resource, rlim_t wanted) {
  rlimit inherited{};
  if (::getrlimit(resource, &inherited) != 0) return false;
  const rlim_t limit = inherited.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, inherited.rlim_max);
  const rlimit value{limit, limit};
  return ::setrlimit(resource, &value) == 0;
}

bool limitAddressSpace(std::uint64_t memoryBudget) {
  if (kShadowMemory) return true;
  const std::uint64_t mapped = mappedBytes();
  if (mapped == 0) return false;
  const std::uint64_t room = mapped + kAddressSpaceAllowance;
  const rlim_t limit =
      memoryBudget > std::numeric_limits<rlim_t>::max() - room ? RLIM_INFINITY : memoryBudget + room;
  return limitAtMost(RLIMIT_AS, limit);
}

bool limitCpuTime(std::uint32_t seconds) {
  if (seconds == 0) return true;
  // SIGXCPU at the soft limit ends the process; SIGKILL a second later.
  rlimit inherited{};
  if (::getrlimit(RLIMIT_CPU, &inherited) != 0) return false;
  rlimit value{seconds, rlim_t{seconds} + 1};
  if (inherited.rlim_max != RLIM_INFINITY && inherited.rlim_max < value.rlim_max)
    value = {std::min(value.rlim_cur, inherited.rlim_max), inherited.rlim_max};
  return ::setrlimit(RLIMIT_CPU, &value) == 0;
}

// No file written, even should a descriptor to one be smuggled in, and no
// core file left in a folder of the user's (nor a memory image of the
// process to any debugger or /proc reader).
bool forbidFilesAndCores() {
  const rlimit none{0, 0};
  return ::setrlimit(RLIMIT_FSIZE, &none) == 0 && ::setrlimit(RLIMIT_CORE, &none) == 0 &&
         ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
}

// Conditions on a call's first and third arguments, as libseccomp's
// SCMP_A0() and SCMP_A2() build them but without their C compound literal.
constexpr scmp_arg_cmp argument0(scmp_compare op, scmp_datum_t value, scmp_datum_t second = 0) {
  return scmp_arg_cmp{0, op, value, second};
}
constexpr scmp_arg_cmp argument2(scmp_compare op, scmp_datum_t value, scmp_datum_t second = 0) {
  return scmp_arg_cmp{2, op, value, second};
}

class Filter {
 public:
  Filter() : context_(seccomp_init(SCMP_ACT_KILL_PROCESS)) {}
  ~Filter() {
    if (context_ != nullptr) seccomp_release(context_);
  }
  Filter(const Filter&) = delete;
  Filter& operator=(const Filter&) = delete;

  void allow(int call) { add(SCMP_ACT_ALLOW, call, 0, nullptr); }
  void allowIf(int call, scmp_arg_cmp condition) { add(SCMP_ACT_ALLOW, call, 1, &condition); }
  void allowIfBoth(int call, scmp_arg_cmp first, scmp_arg_cmp second) {
    const scmp_arg_cmp both[] = {first, second};
    add(SCMP_ACT_ALLOW, call, 2, both);
  }
  void refuse(int call, int error) {
    add(SCMP_ACT_ERRNO(static_cast<std::uint32_t>(error)), call, 0, nullptr);
  }
  void refuseIf(int call, int error, scmp_arg_cmp condition) {
    add(SCMP_ACT_ERRNO(static_cast<std::uint32_t>(error)), call, 1, &condition);
  }
  // A call of another architecture (int 0x80 on x86-64) ends the whole
  // process, not only its thread, which would leave the others waiting.
  void killOtherArchitectures() {
    if (context_ == nullptr ||
        seccomp_attr_set(context_, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS) != 0)
      ok_ = false;
  }
  bool load() { return ok_ && context_ != nullptr && seccomp_load(context_) == 0; }
  bool exportText(int fd) { return ok_ && context_ != nullptr && seccomp_export_pfc(context_, fd) == 0; }

 private:
  void add(std::uint32_t action, int call, unsigned conditions, const scmp_arg_cmp* condition) {
    // A call this machine's kernel headers do not know is simply not there.
    if (call < 0) return;
    if (context_ == nullptr || seccomp_rule_add_array(context_, action, call, conditions, condition) != 0)
      ok_ = false;
  }

  scmp_filter_ctx context_;
  bool ok_ = true;
};

void addRules(Filter& filter) {
  filter.killOtherArchitectures();
  // The pipes and the picture, and nothing else.
  for (const scmp_datum_t fd : {kRequestFd, kPictureFd})
    filter.allowIf(SCMP_SYS(read), argument0(SCMP_CMP_EQ, fd));
  filter.allowIf(SCMP_SYS(pread64), argument0(SCMP_CMP_EQ, kPictureFd));
  filter.allowIf(SCMP_SYS(lseek), argument0(SCMP_CMP_EQ, kPictureFd));
  // The sanitizers' runtimes write into a pipe of their own as well.
  filter.allowIf(SCMP_SYS(write),
                 kSanitized ? argument0(SCMP_CMP_NE, kErrorFd) : argument0(SCMP_CMP_EQ, kReplyFd));
  // Standard error is /dev/null; glibc's fatal messages (writev) go nowhere
  // and the abort that follows them is what the engine sees.
  for (const int call : {SCMP_SYS(write), SCMP_SYS(writev)})
    filter.refuseIf(call, EBADF, argument0(SCMP_CMP_EQ, kErrorFd));
  // Not even what a descriptor is: a stat of fd 3 with a name (AT_EMPTY_PATH
  // does not make the name empty) would be a stat of any path.
  for (const int call : {SCMP_SYS(fstat), SCMP_SYS(newfstatat)}) filter.refuse(call, EACCES);
  filter.allow(SCMP_SYS(close));
  // Memory, never executable.
  filter.allowIf(SCMP_SYS(mmap), argument2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0));
  filter.allowIf(SCMP_SYS(mprotect), argument2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0));
  for (const int call : {SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(brk), SCMP_SYS(madvise)})
    filter.allow(call);
  // Threads of this process (libde265 and dav1d decode on several), never
  // a new process; glibc falls back from clone3 to clone.
  filter.allowIf(SCMP_SYS(clone), argument0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD));
  filter.refuse(SCMP_SYS(clone3), ENOSYS);
  // dav1d names its worker threads.
  for (const scmp_datum_t option : {PR_SET_NAME, PR_GET_NAME})
    filter.allowIf(SCMP_SYS(prctl), argument0(SCMP_CMP_EQ, option));
  for (const int call : {SCMP_SYS(futex), SCMP_SYS(set_robust_list), SCMP_SYS(rseq), SCMP_SYS(sched_yield),
                         SCMP_SYS(sched_getaffinity), SCMP_SYS(getcpu), SCMP_SYS(gettid), SCMP_SYS(getpid),
                         SCMP_SYS(exit), SCMP_SYS(exit_group)})
    filter.allow(call);
  // Signals to itself only: abort, and the signal a thread is stopped with.
  filter.allowIf(SCMP_SYS(tgkill), argument0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(::getpid())));
  for (const int call :
       {SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigaction), SCMP_SYS(rt_sigreturn), SCMP_SYS(sigaltstack)})
    filter.allow(call);
  // Clocks, sleeps, random numbers, and limits read but never raised.
  for (const int call :
       {SCMP_SYS(clock_gettime), SCMP_SYS(clock_getres), SCMP_SYS(gettimeofday), SCMP_SYS(nanosleep),
        SCMP_SYS(clock_nanosleep), SCMP_SYS(getrandom), SCMP_SYS(sysinfo), SCMP_SYS(getrlimit)})
    filter.allow(call);
  // Its own limits only (pid 0 or its own), read but never set.
  for (const scmp_datum_t pid : {scmp_datum_t{0}, static_cast<scmp_datum_t>(::getpid())})
    filter.allowIfBoth(SCMP_SYS(prlimit64), argument0(SCMP_CMP_EQ, pid), argument2(SCMP_CMP_EQ, 0));
  // Looked up by name: refused, and the library carries on without it.
  for (const int call : {SCMP_SYS(open), SCMP_SYS(openat), SCMP_SYS(openat2), SCMP_SYS(creat), SCMP_SYS(stat),
                         SCMP_SYS(lstat), SCMP_SYS(statx), SCMP_SYS(access), SCMP_SYS(faccessat),
                         SCMP_SYS(faccessat2), SCMP_SYS(readlink), SCMP_SYS(readlinkat)})
    filter.refuse(call, EACCES);
  filter.refuse(SCMP_SYS(ioctl), ENOTTY);  // isatty on standard error
  if (kSanitized) {
    for (const int call : {SCMP_SYS(pipe2), SCMP_SYS(read)}) filter.allow(call);
  }
}

}  // namespace

bool confine(const Confinement& confinement) {
  // The rules name the calls of these two architectures; elsewhere nothing
  // is decoded rather than decoded under rules never tried there.
  if (!kKnownArchitecture) return false;
  // Ends with the process that started it, the spawner (its pipes would
  // end it too, but not while a library spins).
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) return false;
  if (!limitAddressSpace(confinement.memoryBudget) || !limitCpuTime(confinement.cpuSeconds) ||
      !forbidFilesAndCores())
    return false;
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
  Filter filter;
  addRules(filter);
  return filter.load();
}

void rememberMappedBytes() {
  rememberedBytes = statmBytes();
}

bool writeFilterText(int fd) {
  Filter filter;
  addRules(filter);
  return filter.exportText(fd);
}

}  // namespace pixmoor::decode_helper
