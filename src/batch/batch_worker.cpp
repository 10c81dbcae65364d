// The worker thread of a batch: every path of the BatchJob in turn.
//
// Outputs are written exactly as one picture after another would write
// them, but the save of one picture (on a helper thread) may run while the
// next picture is read and resampled. The save of a picture always ends
// before the next save starts, and before the next picture is read when
// that picture could be the file being written (one file by identity, or
// one name once links are followed; see files/same_file.h), so a later
// picture never reads a half-made output or an earlier state of it. Only
// the small resampled raster waits for its save, so memory stays about one
// picture's worth.
//
// Pictures are counted in list order, each the moment it is finished: a
// save as soon as it ends, on its own thread, so the status line drops then.
// Stop keeps the one-after-another view too: once the next picture is being
// read, the save before it is a finished picture there, so it completes and
// counts; only a save the worker is waiting on (the last picture, or one the
// next picture must wait for) is the picture in progress and may be
// abandoned, and then neither it nor any picture after it counts.
#include <chrono>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "batch/batch_runner.h"
#include "batch/process_picture.h"
#include "files/same_file.h"

namespace pixmoor::batch {

void BatchRunner::runWorker() {
  remaining_.store(batchTotal_.load());
  const OutputPathSink publish = [this](const std::string& path) { publishOutputPath(path); };
  using Clock = std::chrono::steady_clock;
  const auto report = [this](std::size_t index, const PictureOutcome& outcome, Clock::time_point started) {
    if (!options_.observer) return;
    const std::chrono::duration<double, std::milli> spent = Clock::now() - started;
    options_.observer(PictureReport{index, job_[index], outcome, spent.count()});
  };

  // The save in flight, if any, and the picture it abandoned on Stop.
  std::thread saver;
  std::string savingOutput;
  std::optional<std::size_t> abandoned;
  const auto save = [this, &abandoned, &report](PreparedPicture& picture, std::size_t index,
                                                Clock::time_point started) {
    PictureOutcome outcome = picture.outcome;
    outcome.reason = writePreparedPicture(picture, &saveCancel_, &outcome.outputBytes);
    picture = PreparedPicture{};  // frees the raster at once
    if (outcome.reason == FailureReason::stopped) {
      abandoned = index;
      return;
    }
    if (outcome.reason != FailureReason::none) recordFailure(index, outcome.reason);
    report(index, outcome, started);
    remaining_.fetch_sub(1);
  };
  const auto finishSave = [&saver] {
    if (saver.joinable()) saver.join();
  };
  // Waiting on the save with no other picture begun: it is the picture in
  // progress, which Stop may abandon (stopBatch checks the same flags in
  // the other order, so a Stop racing with this is never missed).
  const auto awaitSave = [&] {
    if (!saver.joinable()) return;
    saveInForeground_.store(true);
    if (stop_.load()) saveCancel_.store(true);
    saver.join();
    saveInForeground_.store(false);
  };

  std::size_t index = 0;
  for (; index < job_.size(); ++index) {
    if (stop_.load()) break;  // no further picture after Stop
    current_.store(index);
    if (saver.joinable() && files::couldBeSameFile(savingOutput, job_[index])) {
      awaitSave();
      if (abandoned) break;
    }
    // One consistent copy of the settings per picture: a change made in the
    // window applies from the next picture on.
    const std::shared_ptr<const settings::Settings> snapshot = settings_.snapshot();
    const Clock::time_point started = Clock::now();
    PreparedPicture prepared = preparePicture(store_, job_[index], *snapshot, publish, &stop_, memoryBudget_);
    finishSave();  // the picture before counts first
    if (prepared.outcome.reason == FailureReason::stopped || abandoned) break;  // not counted
    if (!prepared.outcome.written()) {
      recordFailure(index, prepared.outcome.reason);
      report(index, prepared.outcome, started);
      remaining_.fetch_sub(1);  // every path counts, whatever became of its picture
      continue;
    }
    savingOutput = prepared.outcome.outputPath;
    prepared.replaceRule.setAside = options_.setAside;
    auto picture = std::make_shared<PreparedPicture>(std::move(prepared));
    bool alongside = false;
    if (options_.overlapSaves) {
      try {
        saver = std::thread([&save, picture, index, started] { save(*picture, index, started); });
        alongside = true;
      } catch (const std::system_error&) {
        // No thread to be had: write it here, as one picture after another.
      }
    }
    if (!alongside) {
      saveInForeground_.store(true);
      if (stop_.load()) saveCancel_.store(true);
      save(*picture, index, started);
      saveInForeground_.store(false);
      if (abandoned) break;
    }
  }
  awaitSave();  // the last picture's save, or the one a Stop came before

  std::vector<std::size_t> left;  // pictures a Stop left without a file
  bool stopped = false;
  {
    const std::lock_guard lock(stateMutex_);
    stopped = stop_.load();
    if (stopped) {
      // Stopped: stopBatch (or the destructor) writes what follows. No file
      // came of a save that was abandoned, nor of any picture from the one
      // in progress on.
      if (abandoned) left.push_back(*abandoned);
      for (std::size_t rest = index; rest < job_.size(); ++rest) {
        if (rest != abandoned) left.push_back(rest);
      }
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

}  // namespace pixmoor::batch
