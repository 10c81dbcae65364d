// The progress thread of a batch: the status line every 100 ms, then the
// completion text.
#include <chrono>

#include "batch/batch_runner.h"

namespace pixmoor::batch {

void BatchView::showProgress(std::int32_t remaining, std::int32_t total, const std::string& outputPath) {
  showStatus(progressText(remaining, total, outputPath));
}

void BatchRunner::runProgress() {
  using namespace std::chrono_literals;
  // The body runs at least once, also when the worker is already done.
  do {
    if (stop_.load() || silent_.load()) return;
    view_.showProgress(remaining_.load(), shownTotal_.load(), currentOutputPath());
    std::unique_lock lock(wakeMutex_);
    wake_.wait_for(lock, 100ms, [this] { return stop_.load() || busy_.load() == 0; });
  } while (busy_.load() != 0);

  // After Stop no completion text follows: stopBatch writes the stop count.
  if (stop_.load() || silent_.load()) return;
  view_.showStatus(completionText(texts_, shownTotal_.load()));
  shownTotal_.store(0);
  remaining_.store(0);
}

}  // namespace pixmoor::batch
