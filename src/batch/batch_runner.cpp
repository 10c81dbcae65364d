#include "batch/batch_runner.h"

#include <algorithm>

#include "batch/intake.h"
#include "batch/output_rules.h"

namespace pixmoor::batch {

BatchRunner::BatchRunner(BatchView& view, SharedSettings& settings, BatchTexts texts,
                         std::atomic<std::int32_t>& busy)
    : view_(view), settings_(settings), texts_(std::move(texts)), busy_(busy) {}

namespace {
// How long Stop waits for the worker before it answers anyway.
constexpr std::chrono::milliseconds kStopWait{200};
}  // namespace

BatchRunner::~BatchRunner() {
  // Ending the program: the picture in progress is abandoned (its temporary
  // file removed), nothing more is shown, and both threads are joined.
  finish(std::chrono::milliseconds::zero());
  joinThreads();
}

bool BatchRunner::finish(std::chrono::milliseconds deadline) {
  silent_.store(true);
  {
    const std::lock_guard lock(stateMutex_);
    if (workerRunning_.load()) {
      stop_.store(true);
      stopPictures(true);  // ending the program waits for no save
      busy_.store(0);
    }
  }
  flightChanged_.notify_all();
  wake_.notify_all();
  if (!threadsEnded(deadline)) return false;
  joinThreads();
  return true;
}

DropResult BatchRunner::handleDrop(const std::vector<std::string>& paths, settings::Settings& settings) {
  // One batch at a time: the list never changes under a running worker.
  if (workerRunning_.load()) return DropResult::ignoredWhileRunning;

  busy_.store(0);
  settings.prefix = settings::outputPrefix(settings.prefix);  // the sources are replaced
  settings_.publish(settings);

  joinThreads();  // the threads of a batch that already ended, before the job changes
  job_ = intakeDrop(paths, FolderDepth::ownPictures, options_.formats);
  batchTotal_.store(static_cast<std::int32_t>(job_.size()));
  if (job_.empty()) return DropResult::nothingToDo;
  startBatch();
  return DropResult::started;
}

void BatchRunner::startBatch() {
  if (workerRunning_.load() || job_.empty()) return;
  joinThreads();

  stop_.store(false);
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

  silent_.store(false);
  memoryBudget_ = budgetOverride_.value_or(image::machineMemoryBudget());
  {
    const std::lock_guard lock(stateMutex_);
    stopAnswered_ = false;
    flight_ = Flight{};
    flight_.threads =
        static_cast<int>(std::clamp<std::size_t>(job_.size(), 1, static_cast<std::size_t>(budgetThreads())));
    flight_.share = memoryBudget_ / static_cast<std::uint64_t>(flight_.threads);
    // Pictures taken ahead of the one whose turn it is: enough that the
    // other threads go on past a slow picture, few enough (and their encoded
    // bytes within one share of the budget) that memory stays bounded.
    PoolSchedule::Limits limits;
    limits.ahead = 4 * static_cast<std::size_t>(flight_.threads);
    limits.heldBytes = flight_.share;
    limits.listOrder = flight_.threads == 1;
    flight_.schedule = PoolSchedule(job_.size(), limits);
    flight_.outputs.assign(job_.size(), std::string());
    flight_.settingsOf.assign(job_.size(), nullptr);
    flight_.named.assign(job_.size(), 0);
    flight_.saveCancel = std::make_unique<image::CancelFlag[]>(job_.size());
  }
  current_.store(0);

  workerRunning_.store(true);
  {
    const std::lock_guard lock(endMutex_);
    threadsRunning_ = 2;
  }
  progressThread_ = std::thread([this] {
    runProgress();
    threadEnded();
  });
  workerThread_ = std::thread([this] {
    runWorker();
    threadEnded();
  });
}

void BatchRunner::stopBatch() {
  {
    const std::lock_guard lock(stateMutex_);
    // Once the worker has passed its last picture the batch is completing:
    // its own end steps and the completion text follow, Stop has nothing to end.
    if (!workerRunning_.load()) return;
    stop_.store(true);
    // A save is abandoned only when it is the picture in progress, or after it.
    stopPictures(false);
  }
  busy_.store(0);
  flightChanged_.notify_all();
  wake_.notify_all();
  const bool ended = threadsEnded(kStopWait);
  if (ended) joinThreads();

  // Once the worker has ended, remaining counts the picture it abandoned, so
  // the difference is exactly the pictures finished. Before, it is the count
  // so far, and the worker corrects it should a save still complete.
  std::int32_t total = 0;
  std::int32_t done = 0;
  bool workerDone = false;
  {
    const std::lock_guard lock(stateMutex_);
    total = batchTotal_.load();
    done = total - remaining_.load();
    workerDone = !workerRunning_.load();
    if (!workerDone) {
      stopAnswered_ = true;
      stopShownDone_ = done;
    }
  }
  view_.showStatus(stopText(texts_, done, total));
  view_.showBatchControls(false);
  view_.playCue(600);
  if (workerDone) {
    batchTotal_.store(0);
    remaining_.store(0);
  }
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

bool BatchRunner::waitUntilIdle(std::chrono::milliseconds deadline) {
  if (!threadsEnded(deadline)) return false;
  joinThreads();
  return true;
}

std::vector<PictureFailure> BatchRunner::failures() const {
  std::vector<PictureFailure> known;
  std::vector<std::size_t> indices;
  {
    const std::lock_guard lock(failuresMutex_);
    known = failures_;
    indices = failureIndices_;
  }
  if (!workerRunning_.load() || !stop_.load()) return known;
  // A stopped worker that has not ended yet: what it is on and what follows
  // will produce no file.
  std::vector<PictureFailure> merged;
  std::size_t next = 0;
  for (std::size_t index = 0; index < job_.size(); ++index) {
    if (next < indices.size() && indices[next] == index) {
      merged.push_back(known[next++]);
    } else if (index >= current_.load()) {
      merged.push_back(PictureFailure{job_[index], FailureReason::stopped});
    }
  }
  return merged;
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

bool BatchRunner::threadsEnded(std::chrono::milliseconds deadline) {
  std::unique_lock lock(endMutex_);
  return ended_.wait_for(lock, deadline, [this] { return threadsRunning_ == 0; });
}

void BatchRunner::threadEnded() {
  {
    const std::lock_guard lock(endMutex_);
    --threadsRunning_;
  }
  ended_.notify_all();
}

void BatchRunner::joinThreads() {
  if (workerThread_.joinable()) workerThread_.join();
  if (progressThread_.joinable()) progressThread_.join();
}

}  // namespace pixmoor::batch
