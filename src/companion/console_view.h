// What a running batch shows in a terminal or a log: the status texts of the
// window as lines. Off a terminal each new text is one plain line, the
// window's texts (but for the output's name, shown whole); on a terminal
// the progress is one line rewritten in place, with a bar, the pictures per
// second and the time left.
//
// The batch's progress and worker threads call the view; a lock keeps their
// lines whole. Writes to the stream it is given (standard output, or
// standard error when that holds the JSON report).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "batch/batch_view.h"

namespace pixmoor::companion {

// The live line: "[#####---------------]  3.1/s  0:09 left  12/40 - prefix_a.jpg"
// (done = total - remaining; rate and time left from `elapsedSeconds`, "--"
// until a picture is done), cut to `columns` - 1 characters so that it never
// wraps.
std::string terminalLine(std::int32_t remaining, std::int32_t total, const std::string& outputPath,
                         double elapsedSeconds, int columns);

class ConsoleView : public batch::BatchView {
 public:
  ConsoleView(std::FILE* stream, bool quiet);

  void showStatus(const std::string& text) override;
  void showProgress(std::int32_t remaining, std::int32_t total, const std::string& outputPath) override;
  void showBatchControls(bool) override {}
  void playCue(int) override {}

  // Ends the live line so that what follows starts on a line of its own.
  void finishLine();

 private:
  void print(const std::string& text);  // under the lock

  std::mutex mutex_;
  std::FILE* const stream_;
  const bool quiet_;
  const bool terminal_;
  bool lineOpen_ = false;
  std::string last_;
  std::optional<std::chrono::steady_clock::time_point> started_;
};

}  // namespace pixmoor::companion
