#include "companion/console_view.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include "batch/status_texts.h"
#include "companion/console_signals.h"
#include "companion/printable.h"

namespace pixmoor::companion {
namespace {

constexpr int kBarCells = 20;
constexpr int kDefaultColumns = 80;

std::string duration(double seconds) {
  const auto whole = static_cast<long long>(seconds + 0.5);
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  }
  return text;
}

int terminalColumns(std::FILE* stream) {
  winsize size{};
  if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return kDefaultColumns;
}

}  // namespace

std::string terminalLine(std::int32_t remaining, std::int32_t total, const std::string& outputPath,
                         double elapsedSeconds, int columns) {
  const std::int32_t done = total > remaining ? total - remaining : 0;
  const int filled = total > 0 ? static_cast<int>(static_cast<std::int64_t>(done) * kBarCells / total) : 0;
  std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(kBarCells - filled), '-') + "]  ";
  if (done > 0 && elapsedSeconds > 0) {
    const double rate = done / elapsedSeconds;
    char text[32];
    std::snprintf(text, sizeof text, "%.1f/s  ", rate);
    line += text;
    line += duration(remaining / rate) + " left  ";
  } else {
    line += "--/s  --:-- left  ";
  }
  line += batch::progressText(remaining, total, outputPath, batch::ProgressName::whole);
  // Characters, not bytes: UTF-8 continuation bytes take no column.
  std::size_t at = 0;
  for (int shown = 0; at < line.size(); ++at) {
    if ((static_cast<unsigned char>(line[at]) & 0xC0) == 0x80) continue;
    if (++shown > columns - 1) break;
  }
  line.resize(at);
  return line;
}

ConsoleView::ConsoleView(std::FILE* stream, bool quiet)
    : stream_(stream), quiet_(quiet), terminal_(::isatty(::fileno(stream)) == 1) {}

void ConsoleView::print(const std::string& text) {
  if (quiet_ || text == last_) return;
  last_ = text;
  lineOpen_ = batch::print(stream_, terminal_ ? "\r" + text + "\x1b[K" : text + "\n") && terminal_;
}

void ConsoleView::showStatus(const std::string& text) {
  const std::lock_guard lock(mutex_);
  print(text);
}

void ConsoleView::showProgress(std::int32_t remaining, std::int32_t total, const std::string& outputPath) {
  const std::lock_guard lock(mutex_);
  // The name is a file's: escaped, it can neither forge a line nor send
  // the terminal a control sequence.
  const std::string name = printable(outputPath);
  if (!terminal_) {
    print(batch::progressText(remaining, total, name, batch::ProgressName::whole));
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (!started_) started_ = now;
  const std::chrono::duration<double> elapsed = now - *started_;
  print(terminalLine(remaining, total, name, elapsed.count(), terminalColumns(stream_)));
}

void ConsoleView::finishLine() {
  const std::lock_guard lock(mutex_);
  if (lineOpen_) batch::print(stream_, "\n");
  lineOpen_ = false;
}

}  // namespace pixmoor::companion
