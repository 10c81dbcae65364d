#include "decode_helper/spawner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
// glibc 2.36 declares these without C linkage.
extern "C" {
#include <sys/pidfd.h>
}

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <map>
#include <span>
#include <string_view>
#include <vector>

#include "decode_helper/confinement.h"
#include "decode_helper/empty_namespaces.h"
#include "sandbox/descriptor_passing.h"
#include "sandbox/helper_program.h"

namespace pixmoor::decode_helper {
namespace {

constexpr int kSocketFd = image::kSpawnerSocketFd;
// Request pipe, reply pipe, picture: the helper's; the status pipe stays
// here, to tell the engine how the helper ended once it is reaped.
using Given = std::array<int, image::kSpawnDescriptors>;
constexpr std::size_t kStatusPipe = image::kSpawnStatusPipe;

void closeAll(const Given& given) {
  for (const int fd : given) {
    if (fd >= 0) ::close(fd);
  }
}

// The next request's descriptors: true with all three; false once the
// engine has gone. A malformed request leaves `given` holding -1s.
bool receive(Given& given) {
  given.fill(-1);
  std::uint8_t byte = 0;
  const image::ReceivedMessage message = image::receiveWithDescriptors(kSocketFd, {&byte, 1}, given.size());
  if (message.bytes == 0) return false;
  if (message.whole && byte == image::kSpawnRequest && message.descriptors.size() == given.size()) {
    std::copy(message.descriptors.begin(), message.descriptors.end(), given.begin());
  } else {
    for (const int fd : message.descriptors) ::close(fd);
  }
  return true;
}

bool answer(const image::SpawnAnswer& said, int pidfd) {
  const std::span<const int> descriptors =
      pidfd >= 0 ? std::span<const int>(&pidfd, 1) : std::span<const int>();
  return image::sendWithDescriptors(kSocketFd, {reinterpret_cast<const std::uint8_t*>(&said), sizeof said},
                                    descriptors);
}

// Closes every descriptor from `first` up: close_range (Linux 5.9), else
// one by one up to the descriptor limit.
bool closeFrom(int first) {
  if (::close_range(static_cast<unsigned>(first), ~0U, 0) == 0) return true;
  rlimit open{};
  if (::getrlimit(RLIMIT_NOFILE, &open) != 0) return false;
  const rlim_t last = open.rlim_cur == RLIM_INFINITY ? rlim_t{1} << 20 : open.rlim_cur;
  for (rlim_t fd = static_cast<rlim_t>(first); fd < last; ++fd) ::close(static_cast<int>(fd));
  return true;
}

// Tells the engine how a helper ended: its wait status, then the end of the pipe.
void tellEnding(int statusFd, int waitStatus) {
  const std::int32_t said = waitStatus;
  while (::write(statusFd, &said, sizeof said) < 0 && errno == EINTR) {
  }
  ::close(statusFd);
}

// The fork's side: becomes a helper started with `given`. Only returns
// the session's exit status.
int becomeHelper(const Given& given, pid_t spawner, ReaderOf readerOf) {
  ::signal(SIGCHLD, SIG_DFL);
  ::signal(SIGPIPE, SIG_DFL);
  ::prctl(PR_SET_NAME, image::kHelperProgramName);
  // Dies with the spawner; one that died already is not waited for.
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != spawner) return 2;
  ::setpgid(0, 0);
  const int self = ::pidfd_open(::getpid(), 0);
  const bool told = answer({::getpid(), self >= 0 ? 0 : errno}, self);
  if (self < 0 || !told) return 2;
  ::close(self);
  // Above the numbers they move to, so that no move is onto itself; then
  // nothing but them and the standard error stays open.
  std::array<int, 3> moved{};
  for (std::size_t i = 0; i < moved.size(); ++i) {
    moved[i] = ::fcntl(given[i], F_DUPFD, image::kHelperPictureFd + 1);
    if (moved[i] < 0) return 2;
  }
  if (::dup2(moved[0], image::kHelperRequestFd) < 0 || ::dup2(moved[1], image::kHelperReplyFd) < 0 ||
      ::dup2(moved[2], image::kHelperPictureFd) < 0)
    return 2;
  if (!closeFrom(image::kHelperPictureFd + 1)) return 2;
  return runDecodeSession(readerOf);
}

}  // namespace

int serveSpawns(ReaderOf readerOf) {
  ::prctl(PR_SET_NAME, "pixmoor-spawner");
  // An engine that stopped waiting for a helper's status has closed its
  // end: the write fails, and the spawner goes on.
  ::signal(SIGPIPE, SIG_IGN);
  // SIGCHLD only wakes the wait for a request (ppoll), so that an ended
  // fork is reaped at once: its times and peak then count in the engine's.
  sigset_t childEnded, waiting;
  sigemptyset(&childEnded);
  sigaddset(&childEnded, SIGCHLD);
  ::sigprocmask(SIG_BLOCK, &childEnded, &waiting);
  struct sigaction wake {};
  wake.sa_handler = [](int) {};
  ::sigaction(SIGCHLD, &wake, nullptr);
  // Before the namespaces leave /proc behind.
  rememberMappedBytes();
  const std::uint8_t confined =
      enterEmptyNamespaces() ? image::kConfinedByNamespaces : image::kConfinedBySeccomp;
  if (!image::sendWithDescriptors(kSocketFd, {&confined, 1}, {})) return 0;
  const pid_t self = ::getpid();
  std::map<pid_t, int> running;  // each helper's status pipe
  Given given{};
  for (;;) {
    pid_t ended = 0;
    int waitStatus = 0;
    while ((ended = ::waitpid(-1, &waitStatus, WNOHANG)) > 0) {
      if (const auto helper = running.find(ended); helper != running.end()) {
        tellEnding(helper->second, waitStatus);
        running.erase(helper);
      }
    }
    pollfd request{kSocketFd, POLLIN, 0};
    if (::ppoll(&request, 1, nullptr, &waiting) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (!receive(given)) break;
    if (given[0] < 0) {
      if (!answer({0, EPROTO}, -1)) break;
      continue;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::sigprocmask(SIG_SETMASK, &waiting, nullptr);
      ::_exit(becomeHelper(given, self, readerOf));
    }
    const int error = errno;
    if (pid > 0) {
      running[pid] = given[kStatusPipe];
      given[kStatusPipe] = -1;
    }
    closeAll(given);
    // A started fork answers for itself.
    if (pid < 0 && !answer({0, error}, -1)) break;
  }
  // The engine has gone, and with it the pictures still decoding.
  for (const auto& [pid, statusFd] : running) ::kill(pid, SIGKILL);
  pid_t ended = 0;
  int waitStatus = 0;
  while ((ended = ::waitpid(-1, &waitStatus, 0)) > 0 || errno == EINTR) {
    if (const auto helper = running.find(ended); ended > 0 && helper != running.end()) {
      tellEnding(helper->second, waitStatus);
      running.erase(helper);
    }
  }
  return 0;
}

int runHelperProgram(int argc, char** argv, ReaderOf readerOf) {
  if (argc == 2 && std::string_view(argv[1]) == image::kSpawnerArgument) return serveSpawns(readerOf);
  return runDecodeSession(readerOf);
}

}  // namespace pixmoor::decode_helper
