// The window side of a batch: status texts, the Stop button and the cue.
//
// The batch calls this view from its worker and progress threads; texts and
// show/hide requests are queued to the interface thread (the window's
// thread) and never wait for it. The cue plays on the calling thread, as
// the batch asks. `batchEnded` runs on the interface thread each time the
// controls of a batch are put back (its end, or Stop), after them.
#pragma once

#include <functional>
#include <string>

#include "batch/batch_view.h"

namespace pixmoor::app {

class MainWindow;

class WindowBatchView final : public batch::BatchView {
 public:
  WindowBatchView(MainWindow& window, std::function<void(int)> playCue, std::function<void()> batchEnded)
      : window_(window), playCue_(std::move(playCue)), batchEnded_(std::move(batchEnded)) {}

  void showStatus(const std::string& text) override;
  void showBatchControls(bool running) override;
  void playCue(int milliseconds) override;

 private:
  MainWindow& window_;
  std::function<void(int)> playCue_;
  std::function<void()> batchEnded_;
};

}  // namespace pixmoor::app
