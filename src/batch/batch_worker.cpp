// The worker thread of a batch and its pool: every path of the BatchJob.
//
// The worker and its helpers (one thread per core, see poolSize) each take
// the next picture of the list, read and reduce it, encode it into memory
// and then wait for its turn: pictures are finished (written, or counted as
// failed) strictly in list order, so outputs and counts are exactly those of
// one picture after another. A picture is not read while an earlier
// picture not yet finished could write the file it is (one file by
// identity, or one name once links are followed; see files/same_file.h), so
// a later picture never reads a half-made output or an earlier state of it.
// Each thread holds one picture at a time, reduced as it is decoded, so
// memory stays a few rows and a few small pictures' worth.
//
// Pictures are counted in list order, each the moment it is finished, so
// the status line drops then. Stop keeps the one-after-another view too:
// once a later picture is being read, a save before it is a finished
// picture there, so it completes and counts; the first picture that is not
// such a save is the picture in progress and is abandoned, and then neither
// it nor any picture after it counts. With a single thread (pixmoor-batch
// --jobs 1) each picture is encoded straight into its file before the next
// one is read.
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "batch/batch_runner.h"
#include "batch/output_path.h"
#include "batch/process_picture.h"
#include "files/same_file.h"

namespace pixmoor::batch {
namespace {

using Clock = std::chrono::steady_clock;

// The CPUs this process may run on (taskset, a container's cpuset).
int usableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

int poolSize(const RunOptions& options, std::size_t pictures) {
  if (!options.overlapSaves) return 1;
  const int wanted = options.workers > 0 ? options.workers : std::clamp(usableCores(), 1, 4);
  return static_cast<int>(std::clamp<std::size_t>(pictures, 1, static_cast<std::size_t>(wanted)));
}

}  // namespace

void BatchRunner::abandonSaves(bool all) {
  Flight& f = flight_;
  if (f.saveCancel == nullptr) return;
  // Saves before the picture in progress belong to finished pictures; from
  // it on, nothing is saved.
  bool inProgressReached = all;
  for (std::size_t p = f.turn; p < f.nextClaim; ++p) {
    const bool finishedThere = f.saving[p] != 0 && f.latestRead && *f.latestRead > p;
    if (!finishedThere) inProgressReached = true;
    if (inProgressReached && f.saving[p] != 0) f.saveCancel[p].store(true);
  }
}

void BatchRunner::runWorker() {
  remaining_.store(batchTotal_.load());
  const int workers = poolSize(options_, job_.size());
  std::vector<std::thread> helpers;
  try {
    for (int i = 1; i < workers; ++i) helpers.emplace_back([this, workers] { runPictures(workers); });
  } catch (const std::system_error&) {
    // Fewer threads than planned: those running share the pictures.
  }
  runPictures(workers);
  for (std::thread& helper : helpers) helper.join();

  std::vector<std::size_t> left;  // pictures a Stop left without a file
  bool stopped = false;
  {
    const std::lock_guard lock(stateMutex_);
    stopped = stop_.load();
    if (stopped) {
      // Stopped: stopBatch (or the destructor) writes what follows. No file
      // came of the picture in progress nor of any picture after it.
      for (std::size_t rest = flight_.turn; rest < job_.size(); ++rest) left.push_back(rest);
      for (const std::size_t rest : left) recordFailure(rest, FailureReason::stopped);
      if (stopAnswered_) {
        // stopBatch answered before this end: its text stands unless a save
        // completed since, and the counters are this thread's to clear.
        const std::int32_t total = batchTotal_.load();
        const std::int32_t done = total - remaining_.load();
        if (done != stopShownDone_ && !silent_.load()) view_.showStatus(stopText(texts_, done, total));
        batchTotal_.store(0);
        remaining_.store(0);
      }
    }
    workerRunning_.store(false);  // from here on Stop has nothing to end
  }
  if (stopped) {
    for (const std::size_t rest : left) {
      PictureOutcome outcome;
      outcome.reason = FailureReason::stopped;
      if (options_.observer) options_.observer(PictureReport{rest, job_[rest], outcome, 0.0});
    }
    return;
  }

  batchTotal_.store(0);
  if (!silent_.load()) view_.showBatchControls(false);
  busy_.store(0);
  wake_.notify_all();
  if (!silent_.load()) view_.playCue(600);
}

void BatchRunner::runPictures(int workers) {
  image::ImageStore store;  // this thread's own: its picture 55 lives here
  const bool direct = workers == 1;
  const std::uint64_t share = memoryBudget_ / static_cast<std::uint64_t>(workers);
  std::vector<std::uint8_t> encoded;
  Flight& f = flight_;
  std::unique_lock lock(stateMutex_);
  // A picture that will not be finished: no later one counts either.
  const auto abandon = [&](std::size_t p) {
    f.abandoned = std::min(f.abandoned.value_or(p), p);
    flightChanged_.notify_all();
  };

  for (;;) {
    if (stop_.load() || f.nextClaim >= job_.size()) return;
    const std::size_t p = f.nextClaim++;
    // One consistent copy of the settings per picture, taken in list order:
    // a change made in the window applies from the next picture on.
    const std::shared_ptr<const settings::Settings> snapshot = settings_.snapshot();
    f.outputs[p] =
        outputPath(job_[p], snapshot->prefix == "0" ? std::string() : snapshot->prefix, snapshot->format);
    std::vector<std::pair<std::size_t, std::string>> unwritten;
    for (std::size_t i = f.turn; i < p; ++i) unwritten.emplace_back(i, f.outputs[i]);
    lock.unlock();
    std::optional<std::size_t> writtenFirst;  // the latest earlier picture whose output this source could be
    for (const auto& [i, output] : unwritten) {
      if (files::couldBeSameFile(output, job_[p])) writtenFirst = i;
    }
    lock.lock();
    if (writtenFirst) flightChanged_.wait(lock, [&] { return stop_.load() || f.turn > *writtenFirst; });
    flightChanged_.wait(lock, [&] { return stop_.load() || f.aloneWanted == 0; });
    if (stop_.load()) return abandon(p);
    f.latestRead = std::max(f.latestRead.value_or(p), p);
    ++f.reading;
    lock.unlock();

    const Clock::time_point started = Clock::now();
    // The name is shown once the picture is read and it is the one in progress.
    const OutputPathSink publish = [this, p](const std::string& path) {
      const std::lock_guard guard(stateMutex_);
      flight_.readDone[p] = 1;
      if (flight_.turn == p) publishOutputPath(path);
    };
    PreparedPicture prepared = preparePicture(store, job_[p], *snapshot, publish, &stop_, share);
    lock.lock();
    --f.reading;
    flightChanged_.notify_all();
    if (prepared.outcome.reason == FailureReason::tooLargeForMemory && share < memoryBudget_) {
      // Beyond its share: again, alone, with the whole budget, as one
      // picture after another would have it.
      ++f.aloneWanted;
      flightChanged_.wait(lock, [&] { return stop_.load() || f.reading == 0; });
      if (!stop_.load()) {
        ++f.reading;
        lock.unlock();
        prepared = preparePicture(store, job_[p], *snapshot, publish, &stop_, memoryBudget_);
        lock.lock();
        --f.reading;
      }
      --f.aloneWanted;
      flightChanged_.notify_all();
    }
    // Ready only after Stop: the picture in progress, or after it.
    if (stop_.load()) return abandon(p);
    f.saving[p] = 1;
    image::CancelFlag& saveCancel = f.saveCancel[p];
    lock.unlock();

    prepared.replaceRule.setAside = options_.setAside;
    FailureReason reason = prepared.outcome.reason;
    if (!direct && prepared.outcome.written()) {
      reason = encodePreparedPicture(prepared, encoded, &saveCancel);
      prepared.raster.reset();  // the bytes are all that is left to write
    }
    lock.lock();
    if (reason == FailureReason::stopped) return abandon(p);
    flightChanged_.wait(lock, [&] { return f.turn == p || (f.abandoned && *f.abandoned < p); });
    if (f.turn != p) return abandon(p);
    lock.unlock();

    PictureOutcome outcome = prepared.outcome;
    outcome.reason = reason;
    if (outcome.written()) {
      outcome.reason = direct ? writePreparedPicture(prepared, &saveCancel, &outcome.outputBytes)
                              : writeEncodedPicture(prepared, encoded, &saveCancel, &outcome.outputBytes);
    }
    prepared = PreparedPicture{};  // frees the picture at once
    if (outcome.reason == FailureReason::stopped) {
      lock.lock();
      return abandon(p);
    }
    if (!outcome.written()) recordFailure(p, outcome.reason);
    if (options_.observer) {
      const std::chrono::duration<double, std::milli> spent = Clock::now() - started;
      options_.observer(PictureReport{p, job_[p], outcome, spent.count()});
    }
    remaining_.fetch_sub(1);  // every path counts, whatever became of its picture
    lock.lock();
    f.turn = p + 1;
    current_.store(p + 1);
    if (p + 1 < job_.size() && f.readDone[p + 1] != 0) publishOutputPath(f.outputs[p + 1]);
    flightChanged_.notify_all();
  }
}

}  // namespace pixmoor::batch
