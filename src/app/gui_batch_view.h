// The window side of a batch: status texts, the Stop button and the cue.
//
// The batch calls this view from its worker and progress threads; texts and
// show/hide requests are queued to the interface thread (the window's
// thread) and never wait for it. The cue plays on the calling thread, as
// the batch asks.
#pragma once

#include <functional>
#include <string>

#include "batch/batch_view.h"

namespace pixmoor::app {

class MainWindow;

class WindowBatchView final : public batch::BatchView {
 public:
  WindowBatchView(MainWindow& window, std::function<void(int)> playCue)
      : window_(window), playCue_(std::move(playCue)) {}

  void showStatus(const std::string& text) override;
  void showBatchControls(bool running) override;
  void playCue(int milliseconds) override;

 private:
  MainWindow& window_;
  std::function<void(int)> playCue_;
};

}  // namespace pixmoor::app
