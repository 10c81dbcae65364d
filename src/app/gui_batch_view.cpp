#include "app/gui_batch_view.h"

#include "app/gui_main_window.h"
#include "app/gui_numbers.h"
#include "platform/interface_thread.h"

namespace pixmoor::app {

void WindowBatchView::showStatus(const std::string& text) {
  MainWindow* window = &window_;
  platform::postToInterface(window, [window, text] { window->setStatus(text); });
}

void WindowBatchView::showBatchControls(bool running) {
  MainWindow* window = &window_;
  platform::postToInterface(window, [window, running, ended = batchEnded_] {
    if (QWidget* stop = window->control(control::stopButton)) stop->setVisible(running);
    if (QWidget* info = window->control(control::infoArea)) info->setVisible(!running);
    if (!running && ended) ended();
  });
}

void WindowBatchView::playCue(int milliseconds) {
  if (playCue_) playCue_(milliseconds);
}

}  // namespace pixmoor::app
