// BatchView: what a running batch asks of whoever shows it.
//
// The window, the command-line companion and the tests implement it. The
// batch calls it from its worker and progress threads (and stopBatch from
// the interface thread), so an implementation that owns widgets must hand
// each call over to its own thread (the window queues them to the interface
// thread) and must not block the caller for long. A call from a batch
// thread must never wait for the interface thread: that thread may itself
// be waiting for the batch threads to end (Stop, a new drop, shutdown).
// Calls arrive in the order the batch makes them; the view outlives the
// BatchRunner that uses it.
#pragma once

#include <cstdint>
#include <string>

namespace pixmoor::batch {

class BatchView {
 public:
  virtual ~BatchView() = default;

  // The one-line status display gets `text` (UTF-8), replacing what it held.
  virtual void showStatus(const std::string& text) = 0;

  // The progress of a running batch, every 100 ms: `remaining` of `total`
  // pictures left, the one in progress written to `outputPath`. By default
  // the status line shows progressText (batch/status_texts.h).
  virtual void showProgress(std::int32_t remaining, std::int32_t total, const std::string& outputPath);

  // true: a batch runs; the Stop button is shown and the information area
  // hidden. false: the reverse.
  virtual void showBatchControls(bool running) = 0;

  // The sound cue, played for `milliseconds` (600 at the end of a batch and
  // after Stop). A view without sound returns at once.
  virtual void playCue(int milliseconds) = 0;
};

}  // namespace pixmoor::batch
