#include "companion/console_signals.h"

#include <signal.h>

#include <atomic>

namespace pixmoor::batch {
namespace {

volatile sig_atomic_t signalled = 0;
void onStopSignal(int) {
  signalled = 1;
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
  for (const int number : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(number, &stop, nullptr);
}

bool stopSignalled() {
  return signalled != 0;
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
