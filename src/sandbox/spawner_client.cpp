#include "sandbox/spawner_client.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
// glibc 2.36 declares these without C linkage.
extern "C" {
#include <sys/pidfd.h>
}

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "sandbox/descriptor_passing.h"

namespace pixmoor::image {
namespace {

// A fork and a pidfd take well under a millisecond; a spawner silent this
// long is stuck (stopped, or its fork died before it could answer).
constexpr int kAnswerWaitMs = 10'000;
// How often a wait for the spawner looks at the cancel flag.
constexpr int kWaitSliceMs = 20;
// A spawner reaps an ended helper at once; one that has not told this
// long after is stuck, and the ending stays unknown.
constexpr int kEndingWaitMs = 5'000;
// Huge pages for glibc's malloc (transparent ones in the kernel's "madvise"
// mode): the decoder's buffers then fault in by 2 MiB rather than by 4 KiB.
// A tunable set in the engine's own environment is the user's, and is kept.
constexpr const char* kHugePages = "GLIBC_TUNABLES=glibc.malloc.hugetlb=1";

void closeBoth(std::array<int, 2>& pipe) {
  for (int& fd : pipe) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

class SpawnerClient;
SpawnerClient& spawnerClient();

// One started spawner and the helpers it forked that have not ended yet.
struct Instance {
  std::uint64_t id = 0;
  std::string program;
  pid_t pid = -1;
  int socket = -1;
  int helpers = 0;

  bool running() const { return socket >= 0; }
};

class SpawnerClient {
 public:
  SpawnedHelper spawn(const std::string& program, int requestFd, int replyFd, int pictureFd,
                      const CancelFlag* cancel) {
    // Another thread asks the spawner: wait for it, looking at the cancel
    // flag. (Not a timed mutex: ThreadSanitizer cannot see its timed lock.)
    std::unique_lock lock(mutex_, std::defer_lock);
    while (!lock.try_lock()) {
      if (cancelled(cancel)) return {.error = ECANCELED};
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (current_.running() && program != current_.program) retire();
    SpawnedHelper helper;
    std::array<int, 2> status{-1, -1};
    if (::pipe2(status.data(), O_CLOEXEC) != 0) return {.error = errno};
    // A spawner that died since the last picture gets one more try.
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (!current_.running() && (helper.error = start(program, cancel)) != 0) break;
      helper = ask({requestFd, replyFd, pictureFd, status[1]}, cancel);
      if (helper.pidfd >= 0) {
        ::close(status[1]);
        helper.statusFd = status[0];
        helper.spawner = current_.id;
        ++current_.helpers;
        return helper;
      }
      if (helper.error == ENOMEM || helper.error == EAGAIN) break;
      // Cancelled in the middle of an answer: the spawner's next message
      // would be this one's, so it is replaced.
      kill();
      if (helper.error == ECANCELED) break;
    }
    closeBoth(status);
    return helper;
  }

  // A helper of spawner `id` ended; `retireIt`: that spawner forks no more.
  void ended(std::uint64_t id, bool retireIt) {
    const std::lock_guard lock(mutex_);
    if (current_.running() && current_.id == id) {
      --current_.helpers;
      if (retireIt) retire();
    } else {
      for (Instance& old : retired_) {
        if (old.id == id) --old.helpers;
      }
    }
    endIdle();
  }

  // At the program's exit: each spawner, told by its socket's end, kills
  // and reaps the helpers still running and ends; reaped here, it brings
  // their CPU time and peak into this process's (what `time` shows). A
  // thread still starting a helper is not waited for.
  void finish() {
    const std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) return;
    retire();
    for (Instance& old : retired_) old.helpers = 0;
    endIdle(Ending::byItsSocket);
  }

 private:
  // The errno of a failed start; 0 once the spawner runs.
  int start(const std::string& program, const CancelFlag* cancel) {
    std::array<int, 2> pair{-1, -1};
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair.data()) != 0) return errno;
    posix_spawn_file_actions_t files;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&files);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_adddup2(&files, pair[1], kSpawnerSocketFd);
    // Not the companion's output (a reader of it would wait for the
    // spawner too), nor its error: a hostile picture's voice goes nowhere.
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&files, 3);
    // Not the folder the user works in (a mount point it would keep busy).
    posix_spawn_file_actions_addchdir_np(&files, "/");
    // Every signal at its default and none blocked (the companion ignores
    // SIGPIPE and may block others); its own process group, so that a
    // Ctrl+C at the terminal reaches the engine, which decides, not a helper.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    char* const arguments[] = {const_cast<char*>(kHelperProgramName), const_cast<char*>(kSpawnerArgument),
                               nullptr};
    const std::string tunables = std::getenv("GLIBC_TUNABLES") != nullptr
                                     ? std::string("GLIBC_TUNABLES=") + std::getenv("GLIBC_TUNABLES")
                                     : std::string(kHugePages);
    char* const environment[] = {const_cast<char*>(tunables.c_str()), nullptr};
    pid_t pid = -1;
    const int error = posix_spawn(&pid, program.c_str(), &files, &attributes, arguments, environment);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    ::close(pair[1]);
    if (error != 0) {
      ::close(pair[0]);
      return error;
    }
    current_ = {.id = ++started_, .program = program, .pid = pid, .socket = pair[0]};
    if (!readHello(cancel)) {
      kill();
      return EPROTO;
    }
    static const bool waitedAtExit = std::atexit([] { spawnerClient().finish(); }) == 0;
    (void)waitedAtExit;
    return 0;
  }

  // The spawner's first message: how it confines its helpers.
  bool readHello(const CancelFlag* cancel) {
    if (waitForSpawner(cancel) != 0) return false;
    std::uint8_t kind = 0;
    const ReceivedMessage message = receiveWithDescriptors(current_.socket, {&kind, 1}, 0);
    if (!message.whole || message.bytes != 1) return false;
    if (kind == kConfinedByNamespaces) {
      sandbox_ = HelperSandbox::namespacesAndSeccomp;
    } else if (kind == kConfinedBySeccomp) {
      sandbox_ = HelperSandbox::seccomp;
    } else {
      return false;
    }
    return true;
  }

 public:
  HelperSandbox sandbox() const { return sandbox_; }

 private:
  // The current spawner forks no more; it ends once its helpers have.
  void retire() {
    if (current_.running()) retired_.push_back(current_);
    current_ = {};
  }

  // Closing its socket ends a spawner, which kills and reaps what it still
  // runs. One whose helpers have all ended is killed as well: stopped or
  // stuck, it would hold the thread that waits for it.
  enum class Ending { byItsSocket, killed };
  void endIdle(Ending ending = Ending::killed) {
    std::erase_if(retired_, [ending](const Instance& old) {
      if (old.helpers > 0) return false;
      ::close(old.socket);
      if (ending == Ending::killed) ::kill(old.pid, SIGKILL);
      while (::waitpid(old.pid, nullptr, 0) < 0 && errno == EINTR) {
      }
      return true;
    });
  }

  // A spawner that failed to answer: its helpers die with it.
  void kill() {
    if (current_.socket >= 0) ::close(current_.socket);
    if (current_.pid > 0) {
      ::kill(current_.pid, SIGKILL);
      while (::waitpid(current_.pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    current_ = {};
  }

  SpawnedHelper ask(const std::array<int, kSpawnDescriptors>& given, const CancelFlag* cancel) {
    if (!sendWithDescriptors(current_.socket, std::span(&kSpawnRequest, 1), given)) return {.error = errno};
    return answer(cancel);
  }

  // Waits for the socket to be readable, in slices: 0 when it is, else an errno.
  int waitForSpawner(const CancelFlag* cancel) {
    for (int waited = 0; waited < kAnswerWaitMs; waited += kWaitSliceMs) {
      if (cancelled(cancel)) return ECANCELED;
      pollfd wait{current_.socket, POLLIN, 0};
      const int ready = ::poll(&wait, 1, kWaitSliceMs);
      if (ready > 0) return 0;
      if (ready < 0 && errno != EINTR) return EPROTO;
    }
    return EPROTO;
  }

  SpawnedHelper answer(const CancelFlag* cancel) {
    SpawnedHelper helper{.error = EPROTO};
    if (const int error = waitForSpawner(cancel); error != 0) return {.error = error};
    SpawnAnswer said;
    ReceivedMessage message =
        receiveWithDescriptors(current_.socket, {reinterpret_cast<std::uint8_t*>(&said), sizeof said}, 1);
    const bool whole = message.whole && message.bytes == sizeof said;
    if (whole && said.error == 0 && said.pid > 0 && message.descriptors.size() == 1)
      return {.pid = said.pid, .pidfd = message.descriptors.front()};
    for (const int fd : message.descriptors) ::close(fd);
    if (whole && said.error > 0) helper.error = said.error;
    return helper;
  }

  std::mutex mutex_;
  Instance current_;
  std::vector<Instance> retired_;
  std::uint64_t started_ = 0;
  std::atomic<HelperSandbox> sandbox_{HelperSandbox::unknown};
};

// Never destroyed: a worker may still start a helper while the program
// exits, and the exit closes the socket, which ends the spawner.
SpawnerClient& spawnerClient() {
  static SpawnerClient* const instance = new SpawnerClient;
  return *instance;
}

// What the spawner wrote once it reaped the helper.
HelperEnding endingOf(int statusFd, const CancelFlag* cancel) {
  HelperEnding ending;
  int ready = 0;
  for (int waited = 0; ready <= 0 && waited < kEndingWaitMs && !cancelled(cancel); waited += kWaitSliceMs) {
    pollfd told{statusFd, POLLIN, 0};
    ready = ::poll(&told, 1, kWaitSliceMs);
  }
  std::int32_t status = 0;
  ssize_t got = -1;
  if (ready > 0) {
    while ((got = ::read(statusFd, &status, sizeof status)) < 0 && errno == EINTR) {
    }
  }
  if (got == sizeof status) ending = {.known = true, .waitStatus = status};
  return ending;
}

}  // namespace

SpawnedHelper spawnHelper(const std::string& program, int requestFd, int replyFd, int pictureFd,
                          const CancelFlag* cancel) {
  return spawnerClient().spawn(program, requestFd, replyFd, pictureFd, cancel);
}

HelperSandbox helperSandbox() {
  return spawnerClient().sandbox();
}

HelperEnding endHelper(SpawnedHelper& helper, const CancelFlag* cancel) {
  if (helper.pidfd < 0) return {};
  ::pidfd_send_signal(helper.pidfd, SIGKILL, nullptr, 0);
  // Readable once the process has ended.
  pollfd ended{helper.pidfd, POLLIN, 0};
  while (::poll(&ended, 1, -1) < 0 && errno == EINTR) {
  }
  ::close(helper.pidfd);
  const HelperEnding ending = endingOf(helper.statusFd, cancel);
  ::close(helper.statusFd);
  spawnerClient().ended(helper.spawner, ending.byItsOwnSignal());
  helper = {};
  return ending;
}

}  // namespace pixmoor::image
