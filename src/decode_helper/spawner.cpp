#include "decode_helper/spawner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
// glibc 2.36 declares these without C linkage.
extern "C" {
#include <sys/pidfd.h>
}

#include <algorithm>
#include <array>
#include <cerrno>
#include <span>
#include <string_view>
#include <vector>

#include "image/descriptor_passing.h"
#include "image/helper_spawner.h"

namespace pixmoor::decode_helper {
namespace {

constexpr int kSocketFd = 0;
using Given = std::array<int, 3>;  // request pipe, reply pipe, picture

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

// The fork's side: becomes a helper started with `given`. Only returns
// the session's exit status.
int becomeHelper(const Given& given, pid_t spawner, ReaderOf readerOf) {
  ::signal(SIGCHLD, SIG_DFL);
  ::prctl(PR_SET_NAME, "pixmoor-decode");
  // Dies with the spawner; one that died already is not waited for.
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != spawner) return 2;
  ::setpgid(0, 0);
  const int self = ::pidfd_open(::getpid(), 0);
  const bool told = answer({::getpid(), self >= 0 ? 0 : errno}, self);
  if (self < 0 || !told) return 2;
  ::close(self);
  // Above the numbers they move to, so that no move is onto itself; then
  // nothing but them and the standard error stays open.
  Given moved{};
  for (std::size_t i = 0; i < given.size(); ++i) {
    moved[i] = ::fcntl(given[i], F_DUPFD, image::kHelperPictureFd + 1);
    if (moved[i] < 0) return 2;
  }
  if (::dup2(moved[0], image::kHelperRequestFd) < 0 || ::dup2(moved[1], image::kHelperReplyFd) < 0 ||
      ::dup2(moved[2], image::kHelperPictureFd) < 0)
    return 2;
  ::close_range(image::kHelperPictureFd + 1, ~0U, 0);
  return runDecodeSession(readerOf);
}

}  // namespace

int serveSpawns(ReaderOf readerOf) {
  ::prctl(PR_SET_NAME, "pixmoor-spawner");
  // SIGCHLD only wakes the wait for a request (ppoll), so that an ended
  // fork is reaped at once: its times and peak then count in the engine's.
  sigset_t childEnded, waiting;
  sigemptyset(&childEnded);
  sigaddset(&childEnded, SIGCHLD);
  ::sigprocmask(SIG_BLOCK, &childEnded, &waiting);
  struct sigaction wake {};
  wake.sa_handler = [](int) {};
  ::sigaction(SIGCHLD, &wake, nullptr);
  const pid_t self = ::getpid();
  std::vector<pid_t> running;
  Given given{};
  for (;;) {
    pid_t ended = 0;
    while ((ended = ::waitpid(-1, nullptr, WNOHANG)) > 0) std::erase(running, ended);
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
    closeAll(given);
    if (pid > 0) running.push_back(pid);
    // A started fork answers for itself.
    if (pid < 0 && !answer({0, error}, -1)) break;
  }
  // The engine has gone, and with it the pictures still decoding.
  for (const pid_t pid : running) ::kill(pid, SIGKILL);
  while (::waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
  }
  return 0;
}

int runHelperProgram(int argc, char** argv, ReaderOf readerOf) {
  if (argc == 2 && std::string_view(argv[1]) == image::kSpawnerArgument) return serveSpawns(readerOf);
  return runDecodeSession(readerOf);
}

}  // namespace pixmoor::decode_helper
