#include "image/helper_spawner.h"

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
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <span>

#include "image/descriptor_passing.h"

namespace pixmoor::image {
namespace {

constexpr const char* kHelperName = "pixmoor-decode";
// A fork and a pidfd take well under a millisecond; a spawner silent this
// long is stuck (stopped, or its fork died before it could answer).
constexpr int kAnswerWaitMs = 10'000;

class Spawner;
Spawner& spawner();

class Spawner {
 public:
  SpawnedHelper spawn(const std::string& program, int requestFd, int replyFd, int pictureFd) {
    const std::lock_guard lock(mutex_);
    if (program != program_) stop();
    SpawnedHelper helper;
    // A spawner that died since the last picture gets one more try.
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (socket_ < 0 && (helper.error = start(program)) != 0) return helper;
      helper = ask(requestFd, replyFd, pictureFd);
      if (helper.pidfd >= 0 || helper.error == ENOMEM || helper.error == EAGAIN) return helper;
      stop();
    }
    return helper;
  }

  // At the program's exit: the spawner, told by its socket's end, kills and
  // reaps the helpers still running and ends; reaped here, it brings their
  // CPU time and peak into this process's (what `time` shows). A thread
  // still starting a helper is not waited for.
  void finish() {
    const std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock() || socket_ < 0) return;
    ::close(socket_);
    socket_ = -1;
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }

 private:
  // The errno of a failed start; 0 once the spawner runs.
  int start(const std::string& program) {
    std::array<int, 2> pair{-1, -1};
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair.data()) != 0) return errno;
    posix_spawn_file_actions_t files;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&files);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_adddup2(&files, pair[1], 0);
    // Not the companion's output: a reader of it would wait for the spawner too.
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&files, 3);
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
    char* const arguments[] = {const_cast<char*>(kHelperName), const_cast<char*>(kSpawnerArgument), nullptr};
    char* const environment[] = {nullptr};
    pid_t pid = -1;
    const int error = posix_spawn(&pid, program.c_str(), &files, &attributes, arguments, environment);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    ::close(pair[1]);
    if (error != 0) {
      ::close(pair[0]);
      return error;
    }
    program_ = program;
    pid_ = pid;
    socket_ = pair[0];
    static const bool waitedAtExit = std::atexit([] { spawner().finish(); }) == 0;
    (void)waitedAtExit;
    return 0;
  }

  void stop() {
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    pid_ = -1;
    program_.clear();
  }

  SpawnedHelper ask(int requestFd, int replyFd, int pictureFd) {
    const int given[] = {requestFd, replyFd, pictureFd};
    if (!sendWithDescriptors(socket_, std::span(&kSpawnRequest, 1), given)) return {.error = errno};
    return answer();
  }

  SpawnedHelper answer() {
    SpawnedHelper helper{.error = EPROTO};
    pollfd wait{socket_, POLLIN, 0};
    int ready = 0;
    while ((ready = ::poll(&wait, 1, kAnswerWaitMs)) < 0 && errno == EINTR) {
    }
    if (ready <= 0) return helper;
    SpawnAnswer said;
    ReceivedMessage message =
        receiveWithDescriptors(socket_, {reinterpret_cast<std::uint8_t*>(&said), sizeof said}, 1);
    const bool whole = message.whole && message.bytes == sizeof said;
    if (whole && said.error == 0 && said.pid > 0 && message.descriptors.size() == 1)
      return {.pid = said.pid, .pidfd = message.descriptors.front()};
    for (const int fd : message.descriptors) ::close(fd);
    if (whole && said.error > 0) helper.error = said.error;
    return helper;
  }

  std::mutex mutex_;
  std::string program_;
  pid_t pid_ = -1;
  int socket_ = -1;
};

// Never destroyed: a worker may still start a helper while the program
// exits, and the exit closes the socket, which ends the spawner.
Spawner& spawner() {
  static Spawner* const instance = new Spawner;
  return *instance;
}

}  // namespace

SpawnedHelper spawnHelper(const std::string& program, int requestFd, int replyFd, int pictureFd) {
  return spawner().spawn(program, requestFd, replyFd, pictureFd);
}

void endHelper(SpawnedHelper& helper) {
  if (helper.pidfd < 0) return;
  ::pidfd_send_signal(helper.pidfd, SIGKILL, nullptr, 0);
  // Readable once the process has ended.
  pollfd ended{helper.pidfd, POLLIN, 0};
  while (::poll(&ended, 1, -1) < 0 && errno == EINTR) {
  }
  ::close(helper.pidfd);
  helper = {};
}

}  // namespace pixmoor::image
