#include "batch/batch_runner.h"

#include <algorithm>

#include "batch/intake.h"

namespace pixmoor::batch {

BatchRunner::BatchRunner(BatchView& view, SharedSettings& settings, BatchTexts texts,
                         std::atomic<std::int32_t>& busy)
    : view_(view), settings_(settings), texts_(std::move(texts)), busy_(busy) {}

BatchRunner::~BatchRunner() {
  // Ending the program: the picture in progress is abandoned (its temporary
  // file removed), nothing more is shown, and both threads are joined.
  silent_.store(true);
  {
    const std::lock_guard lock(stateMutex_);
    if (workerRunning_.load()) {
      stop_.store(true);
      saveCancel_.store(true);  // ending the program waits for no save
      busy_.store(0);
    }
  }
  wake_.notify_all();
  joinThreads();
}

DropResult BatchRunner::handleDrop(const std::vector<std::string>& paths, settings::Settings& settings) {
  // One batch at a time: the list never changes under a running worker.
  if (workerRunning_.load()) return DropResult::ignoredWhileRunning;

  busy_.store(0);
  if (settings.prefix == "0") settings.prefix.clear();  // "0" means no prefix: the sources are replaced
  settings_.publish(settings);

  joinThreads();  // the threads of a batch that already ended, before the job changes
  job_ = intakeDrop(paths);
  batchTotal_.store(static_cast<std::int32_t>(job_.size()));
  if (job_.empty()) return DropResult::nothingToDo;
  startBatch();
  return DropResult::started;
}

void BatchRunner::startBatch() {
  if (workerRunning_.load() || job_.empty()) return;
  joinThreads();

  stop_.store(false);
  saveCancel_.store(false);
  saveInForeground_.store(false);
  {
    const std::lock_guard lock(failuresMutex_);
    failures_.clear();
    failureIndices_.clear();
  }
  batchTotal_.store(static_cast<std::int32_t>(job_.size()));
  // The first status line names this batch's first picture, or nothing yet;
  // never the last picture of the batch before.
  publishOutputPath({});
  busy_.store(1);
  shownTotal_.store(batchTotal_.load());
  remaining_.store(batchTotal_.load());
  view_.showBatchControls(true);

  workerRunning_.store(true);
  progressThread_ = std::thread(&BatchRunner::runProgress, this);
  workerThread_ = std::thread(&BatchRunner::runWorker, this);
}

void BatchRunner::stopBatch() {
  {
    const std::lock_guard lock(stateMutex_);
    // Once the worker has passed its last picture the batch is completing:
    // its own end steps and the completion text follow, Stop has nothing to end.
    if (!workerRunning_.load()) return;
    stop_.store(true);
    // A save is abandoned only when it is the picture in progress.
    if (saveInForeground_.load()) saveCancel_.store(true);
  }
  busy_.store(0);
  wake_.notify_all();
  joinThreads();

  // The worker has ended: remaining counts the picture it abandoned, so the
  // difference is exactly the pictures finished.
  const std::int32_t total = batchTotal_.load();
  view_.showStatus(stopText(texts_, total - remaining_.load(), total));
  view_.showBatchControls(false);
  view_.playCue(600);
  batchTotal_.store(0);
  remaining_.store(0);
}

void BatchRunner::setRunOptions(RunOptions options) {
  if (workerRunning_.load()) return;
  joinThreads();  // a batch that already ended still reads the options it had
  options_ = std::move(options);
}

bool BatchRunner::running() const {
  return workerRunning_.load();
}

void BatchRunner::waitUntilIdle() {
  joinThreads();
}

std::vector<PictureFailure> BatchRunner::failures() const {
  const std::lock_guard lock(failuresMutex_);
  return failures_;
}

std::string BatchRunner::currentOutputPath() const {
  const std::lock_guard lock(pathMutex_);
  return currentOutputPath_;
}

void BatchRunner::publishOutputPath(const std::string& path) {
  std::string copy = path;  // built outside the lock; the swap inside is whole
  const std::lock_guard lock(pathMutex_);
  currentOutputPath_.swap(copy);
}

void BatchRunner::recordFailure(std::size_t index, FailureReason reason) {
  const std::lock_guard lock(failuresMutex_);
  const auto at = std::upper_bound(failureIndices_.begin(), failureIndices_.end(), index);
  const auto offset = at - failureIndices_.begin();
  failureIndices_.insert(at, index);
  failures_.insert(failures_.begin() + offset, PictureFailure{job_[index], reason});
}

void BatchRunner::joinThreads() {
  if (workerThread_.joinable()) workerThread_.join();
  if (progressThread_.joinable()) progressThread_.join();
}

}  // namespace pixmoor::batch
