// The worker thread of a batch: every path of the BatchJob in turn.
//
// Outputs are written exactly as one picture after another would write
// them, but the save of one picture (on a helper thread) may run while the
// next picture is read and resampled. The save of a picture always ends
// before the next save starts, and before the next picture is read when
// that picture could be the file being written (same path or same name),
// so a later picture never reads a half-made output or an earlier state of
// it. Only the small resampled raster waits for its save, so memory stays
// about one picture's worth.
#include <system_error>
#include <thread>

#include "batch/batch_runner.h"
#include "batch/process_picture.h"

namespace pixmoor::batch {
namespace {

std::string_view fileName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// True when reading `source` might see the file that `output` names. Names
// are compared rather than resolved paths: "a.jpg" and "./a.jpg" are the same
// file, and a false alarm only costs the overlap.
bool mayBeSameFile(const std::string& output, const std::string& source) {
  return output == source || fileName(output) == fileName(source);
}

}  // namespace

void BatchRunner::runWorker() {
  remaining_.store(batchTotal_.load());
  const OutputPathSink publish = [this](const std::string& path) { publishOutputPath(path); };

  // The save in flight, if any.
  std::thread saver;
  PreparedPicture saving;
  std::size_t savingIndex = 0;
  FailureReason savedReason = FailureReason::none;
  bool stoppedInSave = false;
  auto account = [&] {
    saving = PreparedPicture{};  // frees the raster
    if (savedReason == FailureReason::stopped) {
      stoppedInSave = true;  // abandoned: not counted
      return;
    }
    if (savedReason != FailureReason::none) recordFailure(savingIndex, savedReason);
    remaining_.fetch_sub(1);
  };
  auto finishSave = [&] {
    if (!saver.joinable()) return;
    saver.join();
    account();
  };

  std::size_t index = 0;
  for (; index < job_.size(); ++index) {
    if (stop_.load()) break;  // no further picture after Stop
    if (saver.joinable() && mayBeSameFile(saving.outcome.outputPath, job_[index])) finishSave();
    // One consistent copy of the settings per picture: a change made in the
    // window applies from the next picture on.
    const std::shared_ptr<const settings::Settings> snapshot = settings_.snapshot();
    PreparedPicture prepared = preparePicture(store_, job_[index], *snapshot, publish, &stop_);
    if (prepared.outcome.reason == FailureReason::stopped) break;  // abandoned: not counted
    if (!prepared.outcome.written()) {
      recordFailure(index, prepared.outcome.reason);
      remaining_.fetch_sub(1);  // every path counts, whatever became of its picture
      continue;
    }
    finishSave();
    if (stoppedInSave) break;
    saving = std::move(prepared);
    savingIndex = index;
    try {
      saver = std::thread([this, &saving, &savedReason] { savedReason = writePreparedPicture(saving, &stop_); });
    } catch (const std::system_error&) {
      // No thread to be had: write it here, as one picture after another.
      savedReason = writePreparedPicture(saving, &stop_);
      account();
      if (stoppedInSave) {
        ++index;  // that picture is accounted for below
        break;
      }
    }
  }
  finishSave();

  {
    const std::lock_guard lock(stateMutex_);
    if (stop_.load()) {
      // Stopped: stopBatch (or the destructor) writes what follows. No file
      // came of a save that was abandoned, nor of any picture from the one
      // in progress on.
      if (stoppedInSave) recordFailure(savingIndex, FailureReason::stopped);
      for (std::size_t rest = index; rest < job_.size(); ++rest) {
        if (!(stoppedInSave && rest == savingIndex)) recordFailure(rest, FailureReason::stopped);
      }
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
