#include "companion/console_signals.h"

#include <signal.h>

#include <atomic>

namespace pixmoor::batch {
namespace {

// Lock-free, so the handler may set it; the readers poll it.
image::CancelFlag signalled{false};
static_assert(image::CancelFlag::is_always_lock_free);

void onStopSignal(int) {
  signalled.store(true, std::memory_order_relaxed);
}

std::atomic<bool> stdoutEnded{false};
std::atomic<bool> stderrEnded{false};
std::atomic<bool> otherEnded{false};

std::atomic<bool>& endedFlag(std::FILE* stream) {
  if (stream == stdout) return stdoutEnded;
  if (stream == stderr) return stderrEnded;
  return otherEnded;
}

}  // namespace

void installConsoleSignals() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);

  struct sigaction stop {};
  stop.sa_handler = onStopSignal;
  sigemptyset(&stop.sa_mask);
  // Interrupted reads and writes resume: stdio does not retry them itself.
  stop.sa_flags = SA_RESTART;
  sigset_t ours;
  sigemptyset(&ours);
  for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal the caller chose to ignore stays ignored (nohup, a
    // background job of a script).
    struct sigaction inherited {};
    if (::sigaction(number, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
    ::sigaction(number, &stop, nullptr);
    sigaddset(&ours, number);
  }
  // One that arrived before this, while the caller kept it blocked, is
  // answered now, as a Stop.
  ::sigprocmask(SIG_UNBLOCK, &ours, nullptr);
}

bool stopSignalled() {
  return signalled.load(std::memory_order_relaxed);
}

const image::CancelFlag* stopSignalFlag() {
  return &signalled;
}

bool print(std::FILE* stream, std::string_view text) {
  std::atomic<bool>& ended = endedFlag(stream);
  if (ended.load()) return false;
  const bool written =
      std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
  if (!written) ended.store(true);
  return written;
}

}  // namespace pixmoor::batch
