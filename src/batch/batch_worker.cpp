// The worker thread of a batch and its pool: every path of the BatchJob.
//
// The worker and its helpers (the pool: as many threads as the batch's
// budget of threads has and the batch has pictures, each a member of that
// budget until it has no picture left, so that a resampling takes only the
// threads the others leave idle) each take a picture, read and reduce it
// and encode it into memory. Which picture a thread takes, when its read may
// begin, who finishes it and what a Stop abandons is PoolSchedule's to say
// (pool_schedule.h): the threads call it under stateMutex_, wait on
// flightChanged_ while it says to wait, and wake the others after each
// change. The loop here does the work between those calls, outside the
// mutex: the file sizes its choice wants, each picture's settings and
// output name (given in list order, whatever order the pictures are taken
// in), whether a source could be the output of an earlier picture not yet
// finished (files/same_file.h), the read, the encoding and the save, and it
// keeps the encoded bytes of the pictures handed over.
//
// So outputs and counts are exactly those of one picture after another:
// pictures are finished (written, or counted as failed) strictly in list
// order, one at a time, each counted the moment it is, so the status line
// drops then; a picture ready before its turn is handed over, and the
// thread that finishes the picture before it finishes it too, while the
// thread that made it takes another picture, so no thread waits on a slow
// picture before its own; a later picture never reads a half-made output or
// an earlier state of it. Each thread reads one picture at a time, reduced
// as it is decoded; the pictures waiting for their turn hold only their
// encoded bytes, and few of them are taken ahead of the turn, so memory
// stays bounded; the picture whose turn it is is never held back by those
// limits, so the batch always ends.
//
// Stop keeps the one-after-another view too: once a later picture is being
// read, a picture before it already encoded is a finished picture there, so
// its write completes and counts; the first picture that is not such a save
// (one still being encoded included) is the picture in progress and is
// abandoned, and then neither it nor any picture after it counts. With a single thread (pixmoor-batch --jobs
// 1) each picture is encoded straight into its file before the next one is read.
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
#include "image/thread_budget.h"

namespace pixmoor::batch {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

int BatchRunner::budgetThreads() const {
  if (!options_.overlapSaves) return 1;
  return options_.workers > 0 ? options_.workers : image::defaultThreads();
}

// A picture encoded before its turn, left to the thread that finishes the
// picture before it.
struct BatchRunner::ReadyPicture {
  PreparedPicture prepared;
  std::vector<std::uint8_t> encoded;
  FailureReason reason = FailureReason::none;
  Clock::time_point started;
};

struct BatchRunner::Handover {
  std::map<std::size_t, ReadyPicture> ready;  // under stateMutex_
};

void BatchRunner::stopPictures(bool all) {
  if (flight_.saveCancel == nullptr) return;
  for (const std::size_t p : flight_.schedule.stop(all)) flight_.saveCancel[p].store(true);
}

void BatchRunner::runWorker() {
  remaining_.store(batchTotal_.load());
  // The batch's threads: the pool's, and a resampling's helpers from those
  // the pool leaves idle.
  image::ThreadBudget threads(budgetThreads());
  runFiles_ = options_.keepRunFiles ? std::make_unique<RunFiles>(job_) : nullptr;
  Handover handover;
  std::vector<std::thread> helpers;
  // Every pool thread's seat is taken before any starts: the first picture
  // must not borrow the threads of pool threads still starting.
  threads.reserveMembers(flight_.threads);
  try {
    for (int i = 1; i < flight_.threads; ++i) {
      helpers.emplace_back([this, &threads, &handover] { runPictures(threads, handover); });
    }
  } catch (const std::system_error&) {
    // Fewer threads than planned: those running share the pictures.
    threads.giveBack(flight_.threads - 1 - static_cast<int>(helpers.size()));
  }
  runPictures(threads, handover);
  for (std::thread& helper : helpers) helper.join();

  std::vector<std::size_t> left;  // pictures a Stop left without a file
  bool stopped = false;
  {
    const std::lock_guard lock(stateMutex_);
    stopped = stop_.load();
    if (stopped) {
      // Stopped: stopBatch (or the destructor) writes what follows. No file
      // came of the picture in progress nor of any picture after it.
      for (std::size_t rest = flight_.schedule.turn(); rest < job_.size(); ++rest) left.push_back(rest);
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

void BatchRunner::runPictures(image::ThreadBudget& threads, Handover& handover) {
  // One of the batch's threads until it has no picture left: then its
  // resampling threads go to the pictures still under way.
  const image::ThreadBudgetMember member(threads, /*reserved=*/true);
  Flight& f = flight_;
  PoolSchedule& schedule = f.schedule;
  const bool direct = f.threads == 1;
  std::unique_lock lock(stateMutex_);
  // Every change of the schedule may let another thread go on.
  const auto changed = [this] { flightChanged_.notify_all(); };

  for (;;) {
    // The file sizes the next choice wants, looked up outside the lock (a
    // stat can hang on a network mount).
    if (const PoolSchedule::Span sizes = schedule.sizesWanted(); sizes.begin < sizes.end) {
      lock.unlock();
      std::vector<std::uint64_t> found;
      for (std::size_t q = sizes.begin; q < sizes.end; ++q) {
        struct stat about {};
        found.push_back(::stat(job_[q].c_str(), &about) == 0 ? static_cast<std::uint64_t>(about.st_size) : 0);
      }
      lock.lock();
      for (std::size_t q = sizes.begin; q < sizes.end; ++q) schedule.setSize(q, found[q - sizes.begin]);
    }
    flightChanged_.wait(lock, [&] { return schedule.nextTake().what != PoolSchedule::Take::wait; });
    const PoolSchedule::Taken taken = schedule.take();
    if (taken.what != PoolSchedule::Take::picture) return;
    const std::size_t p = taken.picture;
    // One consistent copy of the settings per picture, taken in list order
    // (up to this one, whatever order the pictures are taken in): a change
    // made in the window applies from some picture on, to every later one.
    const std::shared_ptr<const settings::Settings> current = settings_.snapshot();
    for (; f.settled <= p; ++f.settled) {
      f.settingsOf[f.settled] = current;
      f.outputs[f.settled] = outputPath(job_[f.settled], *current, options_.output);
    }
    const std::shared_ptr<const settings::Settings> snapshot = f.settingsOf[p];
    std::vector<std::pair<std::size_t, std::string>> unwritten;
    for (std::size_t i = schedule.turn(); i < p; ++i) unwritten.emplace_back(i, f.outputs[i]);
    lock.unlock();
    std::optional<std::size_t> writtenFirst;  // the latest earlier picture whose output this source could be
    for (const auto& [i, output] : unwritten) {
      if (files::couldBeSameFile(output, job_[p])) writtenFirst = i;
    }
    lock.lock();
    if (writtenFirst && !schedule.keepAfter(p, *writtenFirst)) {
      changed();
      continue;
    }
    flightChanged_.wait(lock, [&] { return schedule.mayBeginRead(p); });
    if (!schedule.beginRead(p)) return changed();
    f.settingsOf[p].reset();
    lock.unlock();

    ReadyPicture picture;
    picture.started = Clock::now();
    // The name is shown once the picture is read and it is the one in progress.
    const OutputPathSink publish = [this, p](const std::string& path) {
      const std::lock_guard guard(stateMutex_);
      flight_.named[p] = 1;
      if (flight_.schedule.turn() == p) publishOutputPath(path);
    };
    picture.prepared = preparePicture(job_[p], *snapshot, publish, &stop_, f.share, options_.formats,
                                      options_.metadata, options_.output);
    lock.lock();
    schedule.endRead(p);
    changed();
    if (picture.prepared.outcome.reason == FailureReason::tooLargeForMemory && f.share < memoryBudget_) {
      // Beyond its share: again, alone, with the whole budget, as one
      // picture after another would have it.
      schedule.wantWholeBudget();
      flightChanged_.wait(lock, [&] { return schedule.mayReadAlone(); });
      if (schedule.beginAloneRead()) {
        lock.unlock();
        picture.prepared = preparePicture(job_[p], *snapshot, publish, &stop_, memoryBudget_,
                                          options_.formats, options_.metadata, options_.output);
        lock.lock();
        schedule.endAloneRead();
      }
      changed();
    }
    // Ready only after Stop: the picture in progress, or after it.
    if (!schedule.pixelsReady(p)) return changed();
    image::CancelFlag& saveCancel = f.saveCancel[p];
    lock.unlock();

    picture.prepared.replaceRule.setAside = options_.setAside;
    if (runFiles_) {
      // Beside the output folder's own rule: its source is never replaced.
      picture.prepared.replaceRule.mustKeep =
          [keeper = runFiles_->keeperFor(job_[p]), own = std::move(picture.prepared.replaceRule.mustKeep)](
              const files::FileIdentity& held) { return keeper(held) || (own && own(held)); };
    }
    picture.reason = picture.prepared.outcome.reason;
    if ((!direct || picture.prepared.encodesFirst()) && picture.prepared.outcome.written()) {
      picture.reason = encodePreparedPicture(picture.prepared, picture.encoded, &saveCancel);
      picture.prepared.raster.reset();  // the bytes are all that is left to write
    }
    lock.lock();
    const PoolSchedule::Ready ready =
        schedule.bytesReady(p, picture.encoded.size(), picture.reason == FailureReason::stopped);
    if (ready == PoolSchedule::Ready::abandoned) return changed();
    if (ready == PoolSchedule::Ready::handedOver) {
      // Not its turn yet: the thread that finishes the picture before it
      // finishes this one too, and this thread takes the next picture.
      handover.ready.emplace(p, std::move(picture));
      continue;
    }
    // Its turn: finish it, then every picture handed over whose turn follows.
    for (std::size_t q = p;;) {
      lock.unlock();
      const bool finished = finishPicture(q, picture, direct);
      lock.lock();
      if (!finished) {
        schedule.abandon(q);
        return changed();
      }
      const std::optional<std::size_t> next = schedule.finished(q);
      current_.store(q + 1);
      if (q + 1 < job_.size() && f.named[q + 1] != 0) publishOutputPath(f.outputs[q + 1]);
      changed();
      if (!next) break;
      const auto handed = handover.ready.find(*next);
      picture = std::move(handed->second);
      handover.ready.erase(handed);
      q = *next;
    }
  }
}

bool BatchRunner::finishPicture(std::size_t p, ReadyPicture& picture, bool direct) {
  image::CancelFlag& saveCancel = flight_.saveCancel[p];  // the array stays put while the batch runs
  if (options_.beforeSave) options_.beforeSave(p);
  PictureOutcome outcome = picture.prepared.outcome;
  outcome.reason = picture.reason;
  if (outcome.written()) {
    outcome.reason =
        direct && !picture.prepared.encodesFirst()
            ? writePreparedPicture(picture.prepared, &saveCancel, &outcome.outputBytes, &outcome.outputPath)
            : writeEncodedPicture(picture.prepared, picture.encoded, &saveCancel, &outcome.outputBytes,
                                  &outcome.outputPath);
  }
  const Clock::time_point started = picture.started;
  picture = ReadyPicture{};  // frees the picture at once
  if (outcome.reason == FailureReason::stopped) return false;
  if (!outcome.written() && !outcome.leftAlone()) recordFailure(p, outcome.reason);
  if (outcome.written() && runFiles_) runFiles_->written(outcome.outputPath);
  if (options_.observer) {
    const std::chrono::duration<double, std::milli> spent = Clock::now() - started;
    options_.observer(PictureReport{p, job_[p], outcome, spent.count()});
  }
  remaining_.fetch_sub(1);  // every path counts, whatever became of its picture
  return true;
}

}  // namespace pixmoor::batch
