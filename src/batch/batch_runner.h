// BatchRunner: one batch at a time, from the drop to the completion text.
//
// Owns the BatchJob, the worker and progress threads, the batch counters,
// the path of the picture in progress and the stop flag. The worker runs a
// small pool (itself and helpers, within the batch's budget of threads, see
// RunOptions::workers): each picture is read, reduced and encoded on
// whichever of them takes it, as picture values of that thread's own (nothing
// of it is shared with the interface thread), and the results are written
// strictly in list order, by whichever pool thread finishes the picture
// before (a thread whose picture is ready early goes on to the next one).
// Which picture a thread takes, when its read may begin, who finishes it and
// what a Stop abandons are PoolSchedule's rules (pool_schedule.h), which the
// pool threads drive under one mutex; the picture whose turn it is can
// always be taken, so a batch always ends. `busy` belongs to the
// application state and is shared by reference.
//
// Threads: handleDrop, startBatch, stopBatch, waitUntilIdle, failures and
// the destructor are called from one thread (the interface thread). The
// worker and progress threads call the BatchView; the view hands those calls
// over to its own thread. The counters are atomics; currentOutputPath is
// replaced whole under a lock.
//
// Outputs and counts are exactly those of one picture after another: a
// picture is read only once every earlier output it could be is written
// (files::couldBeSameFile), and pictures are finished (written, or counted
// as failed) strictly in list order.
//
// Stop is cooperative: no further picture is started and the one in
// progress is abandoned (the stop flag reaches reading, resampling, encoding
// and saving, whose temporary file is removed; the target stays untouched),
// with every later one. A picture already encoded (its bytes waiting or being
// written) while a later picture is being read belongs to a picture that
// one-after-another processing would have finished: its write completes and
// counts. One still being encoded is the picture in progress. Pictures are counted in list order as
// each is finished (a save the moment it ends), so the stop text, written
// once the worker has ended, counts exactly the pictures finished.
// Stop never waits long on the worker: it waits at most 200 ms for it (a
// picture in progress answers a Stop within about 100 ms), then writes the
// stop text with the pictures finished so far; should the worker end later
// with another count (a save that completed), it writes the text again.
// A worker stuck in the kernel (a read on a hung network mount) is left
// behind: no new batch starts until it has ended.
// The destructor ends a running batch the same way, without any text, and
// joins both threads, however long that takes; an owner that cannot wait
// calls finish first and, when it answers false, ends the process instead.
//
// Every picture of a batch is held to the memory budget taken when the
// batch starts (image/memory_budget.h), or the one the owner set: the pool
// shares it, and a picture that does not fit its share waits until it is
// the only one being read, then has the whole budget.
//
// Implemented in batch_runner.cpp (drops, start, Stop, the end of a batch),
// batch_worker.cpp (the pool of workers and the list-order finishing) and
// batch_progress.cpp (the progress thread and the status texts it sends).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "batch/batch_view.h"
#include "batch/output_choice.h"
#include "batch/output_metadata.h"
#include "batch/picture_outcome.h"
#include "batch/pool_schedule.h"
#include "batch/shared_settings.h"
#include "batch/status_texts.h"
#include "files/replace_file.h"
#include "image/memory_budget.h"
#include "image/picture_format.h"
#include "image/raster.h"
#include "image/thread_budget.h"
#include "settings/settings.h"

namespace pixmoor::batch {

// What became of one picture of a batch.
struct PictureReport {
  std::size_t index = 0;  // its place in the BatchJob
  std::string sourcePath;
  PictureOutcome outcome;     // reason stopped, and nothing else, for a picture a Stop left
  double milliseconds = 0.0;  // from the start of its read to the end of its save
};

// How the next batches run; the window keeps the defaults.
struct RunOptions {
  // Told every picture of a batch once, in list order: from the pool thread
  // that finished it, the moment it is finished, then the pictures a Stop
  // left, as stopped. Calls never overlap; they must not block long.
  std::function<void(const PictureReport&)> observer;
  // Sets aside the file an output is about to replace (files::ReplaceRule);
  // a refusal leaves the picture unwritten, as notTrashed.
  files::SetAsideStep setAside;
  // false: one thread does everything, each picture written before the
  // next is read, so that the pictures' own work stays on one thread.
  bool overlapSaves = true;
  // For tests only (the program leaves it empty): called on the pool thread
  // when the turn of picture `index` has come, before anything of its save
  // begins, so that a test can hold the batch exactly there and Stop it.
  std::function<void(std::size_t index)> beforeSave;
  // The batch's budget of threads (with overlapSaves): 0 takes the cores
  // this process may run on, at most 4 (image::defaultThreads; one picture
  // at a time on one core, where a second one would only double the memory
  // held). As many pictures are worked on at once, no more than the batch
  // has, and a resampling splits its rows only over the threads they leave
  // idle (image/thread_budget.h): never more threads at work than this.
  int workers = 0;
  // Whose file names the drop takes and whose readers read the pictures.
  image::FormatSet formats = image::FormatSet::window;
  // An output never replaces another source of the batch, nor a file an
  // earlier picture of it wrote (output_rules.h, RunFiles): refused as
  // wouldReplaceAnother. The window keeps false: a later picture writes last.
  bool keepRunFiles = false;
  // What each output keeps of its source beyond pixels and profile (the
  // companion's --metadata and --keep-dates; the window keeps nothing more).
  MetadataChoice metadata;
  // The companion's size rule, output folder, rule for an existing output
  // and byte limit (output_choice.h); the window keeps the defaults.
  OutputChoice output;
};

enum class DropResult {
  started,              // the drop gave pictures; a batch now runs
  nothingToDo,          // no accepted picture: nothing started, nothing shown
  ignoredWhileRunning,  // a batch was running: the drop changed nothing
};

class RunFiles;

class BatchRunner {
 public:
  // `view` and `settings` must outlive the runner.
  BatchRunner(BatchView& view, SharedSettings& settings, BatchTexts texts, std::atomic<std::int32_t>& busy);
  ~BatchRunner();
  BatchRunner(const BatchRunner&) = delete;
  BatchRunner& operator=(const BatchRunner&) = delete;

  // The drop handling: ignored while a batch runs. Otherwise busy = 0, a
  // prefix of "0" becomes the empty prefix in `settings` (which are then
  // published), the intake builds the BatchJob from `paths` (in drop order),
  // and a batch starts when it holds at least one path.
  DropResult handleDrop(const std::vector<std::string>& paths, settings::Settings& settings);

  // Starts the worker and progress threads on the current BatchJob. Does
  // nothing when a batch runs or the job is empty. Threads of a batch that
  // already ended are joined first; the previous batch's output path is
  // forgotten.
  void startBatch();

  // Ends a running batch as described above, then writes the stop text,
  // restores the controls and plays the 600 ms cue on the calling thread.
  // Does nothing when no batch is running (also once the worker has passed
  // its last picture).
  void stopBatch();

  // Takes effect from the next batch on; only while no batch runs.
  void setRunOptions(RunOptions options);

  // Ends a running batch as the destructor does (no texts, the save in
  // flight abandoned too) and waits at most `deadline` for both threads.
  // True when they have ended and are joined (also when none ran).
  bool finish(std::chrono::milliseconds deadline);

  // The memory budget of each later batch, in bytes; nullopt (the default)
  // takes the machine's budget when each batch starts.
  void setMemoryBudget(std::optional<std::uint64_t> bytes) { budgetOverride_ = bytes; }

  // True from startBatch until the worker has finished its last picture or
  // the batch was stopped.
  bool running() const;

  // Blocks until the worker and progress threads of the latest batch have
  // ended (the completion text written) and joins them.
  void waitUntilIdle();
  // The same, for at most `deadline`: true when they have ended and are joined.
  bool waitUntilIdle(std::chrono::milliseconds deadline);

  // The BatchJob of the latest drop.
  const std::vector<std::string>& job() const { return job_; }

  // Pictures of the latest batch that produced no file (but those left as
  // asked: alreadySmall, exists), in list order. Also
  // lists, as stopped, the pictures a Stop left unprocessed. Valid once the
  // batch has ended (after waitUntilIdle or stopBatch); while a stopped
  // worker is still stuck, the picture it is reading and every later one
  // are listed as stopped.
  std::vector<PictureFailure> failures() const;

  // Counters shown on the status line (for the window's own use and tests).
  std::int32_t batchTotal() const { return batchTotal_.load(); }
  std::int32_t remaining() const { return remaining_.load(); }
  std::string currentOutputPath() const;

 private:
  struct ReadyPicture;
  struct Handover;
  void runWorker();
  // The threads of a batch under the current options.
  int budgetThreads() const;
  // One thread of the pool: takes the pictures the schedule hands it until
  // none is left.
  void runPictures(image::ThreadBudget& threads, Handover& handover);
  // Writes or counts picture `p` at its turn; false when a Stop abandoned it.
  bool finishPicture(std::size_t p, ReadyPicture& picture, bool direct);
  // Under stateMutex_: Stop reaches the schedule and abandons the saves it
  // names (`all`: every save).
  void stopPictures(bool all);
  void runProgress();
  void joinThreads();
  // Waits at most `deadline` for both threads to end; true when they have
  // (joining is then immediate).
  bool threadsEnded(std::chrono::milliseconds deadline);
  void threadEnded();
  void publishOutputPath(const std::string& path);
  // Keeps the failures in list order, whichever thread finishes first.
  void recordFailure(std::size_t index, FailureReason reason);

  BatchView& view_;
  SharedSettings& settings_;
  const BatchTexts texts_;
  std::atomic<std::int32_t>& busy_;
  RunOptions options_;  // replaced only while no worker runs
  // With keepRunFiles: the batch's sources and outputs, made by the worker
  // before the pool starts.
  std::unique_ptr<RunFiles> runFiles_;

  std::vector<std::string> job_;  // replaced only while no worker runs

  std::atomic<std::int32_t> batchTotal_{0};
  std::atomic<std::int32_t> shownTotal_{0};
  std::atomic<std::int32_t> remaining_{0};
  image::CancelFlag stop_{false};
  std::atomic<bool> silent_{false};         // the destructor: end without texts
  std::atomic<bool> workerRunning_{false};  // cleared when the worker passed its last picture
  std::atomic<std::size_t> current_{0};     // the first picture not finished
  std::optional<std::uint64_t> budgetOverride_;
  std::uint64_t memoryBudget_ = 0;  // of the running batch, taken at its start

  // Set when stopBatch wrote the stop text before the worker had ended
  // (under stateMutex_): the worker then writes it again if its count differs.
  bool stopAnswered_ = false;
  std::int32_t stopShownDone_ = 0;

  mutable std::mutex pathMutex_;
  std::string currentOutputPath_;

  mutable std::mutex failuresMutex_;
  std::vector<PictureFailure> failures_;
  std::vector<std::size_t> failureIndices_;  // position in job_ of each failure

  // The pictures between their start and their turn, under stateMutex_.
  struct Flight {
    PoolSchedule schedule;             // who takes, reads and finishes which picture
    int threads = 1;                   // pool threads of the batch
    std::uint64_t share = 0;           // each thread's share of the memory budget
    std::size_t settled = 0;           // pictures before it have their settings and output path
    std::vector<std::string> outputs;  // each settled picture's output path
    // Each settled picture's settings, until its read begins.
    std::vector<std::shared_ptr<const settings::Settings>> settingsOf;
    std::vector<char> named;                          // its name may be shown: its read has got that far
    std::unique_ptr<image::CancelFlag[]> saveCancel;  // abandons that picture's save
  };
  Flight flight_;

  std::mutex stateMutex_;                  // orders Stop against the worker's end; guards flight_
  std::condition_variable flightChanged_;  // a turn passed, a read ended, or Stop
  std::condition_variable wake_;           // ends the progress loop's waits early
  std::mutex wakeMutex_;

  std::mutex endMutex_;
  std::condition_variable ended_;  // a batch thread has reached its end
  int threadsRunning_ = 0;         // under endMutex_

  std::thread progressThread_;
  std::thread workerThread_;
};

}  // namespace pixmoor::batch
