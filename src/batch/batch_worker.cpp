// The worker thread of a batch and its pool: every path of the BatchJob.
//
// The worker and its helpers (one thread per core, see poolSize) each take
// a picture, read and reduce it and encode it into memory. They take the
// next picture of the list, unless a picture a little further on (among
// those that may be taken ahead of the turn) is a file at least twice as
// large: that one goes first, so that a large picture near the end of the
// list is not read alone while the other threads have nothing left to do.
// Settings and output names are still given to the pictures in list order.
// Pictures are finished (written, or counted as failed) strictly in list
// order, one at a time, so outputs and counts are exactly those of one
// picture after another: a picture ready before its turn is handed over,
// and the thread that finishes the picture before it finishes it too, while
// the thread that made it takes another picture, so no thread waits on a
// slow picture before its own. A picture is not read while an earlier
// picture not yet finished could write the file it is (one file by
// identity, or one name once links are followed; see files/same_file.h), so
// a later picture never reads a half-made output or an earlier state of it.
// Each thread reads one picture at a time, reduced as it is decoded; the
// pictures waiting for their turn hold only their encoded bytes, and few of
// them are taken ahead of the turn, so memory stays bounded.
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
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "batch/batch_runner.h"
#include "batch/output_path.h"
#include "batch/output_rules.h"
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

// A picture encoded before its turn, left to the thread that finishes the
// picture before it.
struct BatchRunner::ReadyPicture {
  PreparedPicture prepared;
  std::vector<std::uint8_t> encoded;
  FailureReason reason = FailureReason::none;
  Clock::time_point started;
};

struct BatchRunner::Handover {
  // Under stateMutex_.
  std::map<std::size_t, ReadyPicture> ready;
  std::uint64_t bytes = 0;  // their encoded bytes
};

void BatchRunner::abandonSaves(bool all) {
  Flight& f = flight_;
  if (f.saveCancel == nullptr) return;
  // Saves before the picture in progress belong to finished pictures; from
  // it on, nothing is saved.
  bool inProgressReached = all;
  for (std::size_t p = f.turn; p < f.claimEnd; ++p) {
    const bool finishedThere = f.saving[p] != 0 && f.latestRead && *f.latestRead > p;
    if (!finishedThere) inProgressReached = true;
    if (inProgressReached && f.saving[p] != 0) f.saveCancel[p].store(true);
  }
}

void BatchRunner::runWorker() {
  remaining_.store(batchTotal_.load());
  runFiles_ = options_.keepRunFiles ? std::make_unique<RunFiles>(job_) : nullptr;
  const int workers = poolSize(options_, job_.size());
  Handover handover;
  std::vector<std::thread> helpers;
  try {
    for (int i = 1; i < workers; ++i) {
      helpers.emplace_back([this, workers, &handover] { runPictures(workers, handover); });
    }
  } catch (const std::system_error&) {
    // Fewer threads than planned: those running share the pictures.
  }
  runPictures(workers, handover);
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

void BatchRunner::runPictures(int workers, Handover& handover) {
  const bool direct = workers == 1;
  const std::uint64_t share = memoryBudget_ / static_cast<std::uint64_t>(workers);
  // Pictures taken ahead of the one whose turn it is: enough that the
  // other threads go on past a slow picture, few enough (and their encoded
  // bytes within one share of the budget) that memory stays bounded.
  const std::size_t ahead = 4 * static_cast<std::size_t>(workers);
  Flight& f = flight_;
  std::unique_lock lock(stateMutex_);
  // A picture that will not be finished: no later one counts either.
  const auto abandon = [&](std::size_t p) {
    f.abandoned = std::min(f.abandoned.value_or(p), p);
    flightChanged_.notify_all();
  };

  // The file sizes of the pictures that may be taken next, looked up
  // outside the lock (a stat can hang on a network mount).
  const auto lookUpSizes = [&] {
    const std::size_t end = std::min(job_.size(), f.turn + ahead);
    if (direct || f.sized >= end) return;
    const std::size_t from = std::max(f.sized, f.firstUnclaimed);
    f.sized = end;
    lock.unlock();
    std::vector<std::uint64_t> found;
    for (std::size_t q = from; q < end; ++q) {
      struct stat about {};
      found.push_back(::stat(job_[q].c_str(), &about) == 0 ? static_cast<std::uint64_t>(about.st_size) : 0);
    }
    lock.lock();
    std::copy(found.begin(), found.end(), f.sizes.begin() + static_cast<std::ptrdiff_t>(from));
  };
  // The next picture of the list, or a file at least twice its size among
  // those that may be taken ahead (the largest of them).
  const auto choose = [&] {
    const std::size_t next = f.firstUnclaimed;
    if (direct) return next;
    std::size_t largest = next;
    for (std::size_t q = next + 1; q < std::min(job_.size(), f.turn + ahead); ++q) {
      if (f.claimed[q] == 0 && f.inListOrder[q] == 0 && f.sizes[q] > f.sizes[largest]) largest = q;
    }
    return f.sizes[largest] >= 2 * f.sizes[next] ? largest : next;
  };

  for (;;) {
    lookUpSizes();
    flightChanged_.wait(lock, [&] {
      return stop_.load() || f.firstUnclaimed >= job_.size() ||
             (f.firstUnclaimed < f.turn + ahead && (handover.ready.empty() || handover.bytes < share));
    });
    if (stop_.load() || f.firstUnclaimed >= job_.size()) return;
    const std::size_t p = choose();
    f.claimed[p] = 1;
    f.claimEnd = std::max(f.claimEnd, p + 1);
    while (f.firstUnclaimed < job_.size() && f.claimed[f.firstUnclaimed] != 0) ++f.firstUnclaimed;
    // One consistent copy of the settings per picture, taken in list order
    // (up to this one, whatever order the pictures are taken in): a change
    // made in the window applies from some picture on, to every later one.
    const std::shared_ptr<const settings::Settings> current = settings_.snapshot();
    for (; f.settled <= p; ++f.settled) {
      f.settingsOf[f.settled] = current;
      f.outputs[f.settled] = outputPath(job_[f.settled], *current);
    }
    const std::shared_ptr<const settings::Settings> snapshot = f.settingsOf[p];
    std::vector<std::pair<std::size_t, std::string>> unwritten;
    for (std::size_t i = f.turn; i < p; ++i) unwritten.emplace_back(i, f.outputs[i]);
    lock.unlock();
    std::optional<std::size_t> writtenFirst;  // the latest earlier picture whose output this source could be
    for (const auto& [i, output] : unwritten) {
      if (files::couldBeSameFile(output, job_[p])) writtenFirst = i;
    }
    lock.lock();
    if (writtenFirst && f.turn <= *writtenFirst && f.firstUnclaimed < p) {
      // Taken ahead, it would wait on a picture no thread may have taken
      // yet: it is given back, to be taken in its place in the list.
      f.claimed[p] = 0;
      f.inListOrder[p] = 1;
      flightChanged_.notify_all();
      continue;
    }
    if (writtenFirst) flightChanged_.wait(lock, [&] { return stop_.load() || f.turn > *writtenFirst; });
    flightChanged_.wait(lock, [&] { return stop_.load() || f.aloneWanted == 0; });
    if (stop_.load()) return abandon(p);
    f.settingsOf[p].reset();
    f.latestRead = std::max(f.latestRead.value_or(p), p);
    ++f.reading;
    lock.unlock();

    ReadyPicture picture;
    picture.started = Clock::now();
    // The name is shown once the picture is read and it is the one in progress.
    const OutputPathSink publish = [this, p](const std::string& path) {
      const std::lock_guard guard(stateMutex_);
      flight_.readDone[p] = 1;
      if (flight_.turn == p) publishOutputPath(path);
    };
    picture.prepared = preparePicture(job_[p], *snapshot, publish, &stop_, share, options_.formats);
    lock.lock();
    --f.reading;
    flightChanged_.notify_all();
    if (picture.prepared.outcome.reason == FailureReason::tooLargeForMemory && share < memoryBudget_) {
      // Beyond its share: again, alone, with the whole budget, as one
      // picture after another would have it.
      ++f.aloneWanted;
      flightChanged_.wait(lock, [&] { return stop_.load() || f.reading == 0; });
      if (!stop_.load()) {
        ++f.reading;
        lock.unlock();
        picture.prepared =
            preparePicture(job_[p], *snapshot, publish, &stop_, memoryBudget_, options_.formats);
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

    picture.prepared.replaceRule.setAside = options_.setAside;
    if (runFiles_) picture.prepared.replaceRule.mustKeep = runFiles_->keeperFor(job_[p]);
    picture.reason = picture.prepared.outcome.reason;
    if (!direct && picture.prepared.outcome.written()) {
      picture.reason = encodePreparedPicture(picture.prepared, picture.encoded, &saveCancel);
      picture.prepared.raster.reset();  // the bytes are all that is left to write
    }
    lock.lock();
    if (picture.reason == FailureReason::stopped || (f.abandoned && *f.abandoned < p)) return abandon(p);
    if (f.turn != p) {
      // Not its turn yet: the thread that finishes the picture before it
      // finishes this one too, and this thread takes the next picture.
      handover.bytes += picture.encoded.size();
      handover.ready.emplace(p, std::move(picture));
      continue;
    }
    // Its turn: finish it, then every picture handed over whose turn follows.
    for (std::size_t q = p;;) {
      lock.unlock();
      if (!finishPicture(q, picture, direct)) {
        lock.lock();
        return abandon(q);
      }
      lock.lock();
      f.turn = q + 1;
      current_.store(q + 1);
      if (q + 1 < job_.size() && f.readDone[q + 1] != 0) publishOutputPath(f.outputs[q + 1]);
      flightChanged_.notify_all();
      const auto next = handover.ready.find(q + 1);
      if (next == handover.ready.end()) break;
      picture = std::move(next->second);
      handover.ready.erase(next);
      handover.bytes -= picture.encoded.size();
      q = q + 1;
    }
  }
}

bool BatchRunner::finishPicture(std::size_t p, ReadyPicture& picture, bool direct) {
  image::CancelFlag& saveCancel = flight_.saveCancel[p];  // the array stays put while the batch runs
  PictureOutcome outcome = picture.prepared.outcome;
  outcome.reason = picture.reason;
  if (outcome.written()) {
    outcome.reason =
        direct ? writePreparedPicture(picture.prepared, &saveCancel, &outcome.outputBytes)
               : writeEncodedPicture(picture.prepared, picture.encoded, &saveCancel, &outcome.outputBytes);
  }
  const Clock::time_point started = picture.started;
  picture = ReadyPicture{};  // frees the picture at once
  if (outcome.reason == FailureReason::stopped) return false;
  if (!outcome.written()) recordFailure(p, outcome.reason);
  if (outcome.written() && runFiles_) runFiles_->written(outcome.outputPath);
  if (options_.observer) {
    const std::chrono::duration<double, std::milli> spent = Clock::now() - started;
    options_.observer(PictureReport{p, job_[p], outcome, spent.count()});
  }
  remaining_.fetch_sub(1);  // every path counts, whatever became of its picture
  return true;
}

}  // namespace pixmoor::batch
