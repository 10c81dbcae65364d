// The worker thread of a batch: every path of the BatchJob in turn.
#include "batch/batch_runner.h"
#include "batch/process_picture.h"

namespace pixmoor::batch {

void BatchRunner::runWorker() {
  remaining_.store(batchTotal_.load());
  const OutputPathSink publish = [this](const std::string& path) { publishOutputPath(path); };

  std::size_t index = 0;
  for (; index < job_.size(); ++index) {
    if (stop_.load()) break;  // no further picture after Stop
    // One consistent copy of the settings per picture: a change made in the
    // window applies from the next picture on.
    const std::shared_ptr<const settings::Settings> snapshot = settings_.snapshot();
    const PictureOutcome outcome = processPicture(store_, job_[index], *snapshot, publish, &stop_);
    if (outcome.reason == FailureReason::stopped) break;  // abandoned: not counted
    if (!outcome.written()) recordFailure(job_[index], outcome.reason);
    remaining_.fetch_sub(1);  // every path counts, whatever became of its picture
  }

  {
    const std::lock_guard lock(stateMutex_);
    if (stop_.load()) {
      // Stopped: stopBatch (or the destructor) writes what follows.
      for (std::size_t rest = index; rest < job_.size(); ++rest) recordFailure(job_[rest], FailureReason::stopped);
      workerRunning_.store(false);
      return;
    }
    workerRunning_.store(false);  // from here on Stop has nothing to end
  }

  batchTotal_.store(0);
  if (!silent_.load()) view_.showBatchControls(false);
  busy_.store(0);
  wake_.notify_all();
  if (!silent_.load()) view_.playCue(600);
}

}  // namespace pixmoor::batch
