// pixmoor-batch: the resizer's batch for scripts, headless machines and
// benchmarks. Takes paths as a drop would, reads the settings of pref.qvl in
// the current folder, else the menu's (never writes it), lets options override them for this
// run, and prints the progress, the completion text and every picture that
// produced no file. It can also plan a run without writing (--dry-run),
// report each picture as JSON (--json) and send the originals it replaces
// to the Trash (--trash-originals). Every path it leaves out is named on
// standard error (and in the JSON report). Exit status: 0 all written, 1
// some not or a path left out, 2 usage error or nothing to do.
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "batch/batch_runner.h"
#include "batch/intake.h"
#include "codecs/format_registry.h"
#include "companion/console_signals.h"
#include "companion/console_view.h"
#include "companion/intake_rules.h"
#include "companion/json_report.h"
#include "companion/options.h"
#include "companion/plan.h"
#include "companion/printable.h"
#include "companion/run_settings.h"
#include "companion/trash.h"
#include "encoders/encode.h"
#include "files/replace_file.h"
#include "image/thread_budget.h"
#include "resample/resample.h"
#include "sandbox/spawner_client.h"
#include "settings/settings.h"
#include "texts/program_version.h"
#include "texts/ui_texts.h"

namespace {

using namespace pixmoor;
using companion::Options;

constexpr const char* kProgram = "pixmoor-batch";

// Messages may quote a name or a value given: escaped as every name is.
// How the decode helpers were confined, for the summary; said once on
// standard error when the kernel refused their namespaces.
std::optional<std::string> helperSandbox() {
  switch (image::helperSandbox()) {
    case image::HelperSandbox::namespacesAndSeccomp:
      return "namespaces+seccomp";
    case image::HelperSandbox::seccomp:
      batch::print(stderr,
                   "pixmoor-batch: this system refuses unprivileged user namespaces: the decode helpers were "
                   "confined by their seccomp filter alone\n");
      return "seccomp";
    case image::HelperSandbox::unknown:
      break;
  }
  return std::nullopt;
}

int usageError(const std::string& message) {
  std::fprintf(stderr, "%s: %s (see --help)\n", kProgram, companion::printable(message).c_str());
  return 2;
}

std::optional<std::uint64_t> fileSize(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The paths the intake left out, each on standard error (and as JSON).
void reportSkipped(const Options& options, const std::vector<batch::SkippedPath>& skipped) {
  for (const batch::SkippedPath& path : skipped) {
    if (options.json) batch::print(stdout, companion::skippedJson(path) + "\n");
    batch::print(stderr, companion::printable(path.path) + ": skipped, " +
                             std::string(batch::skipReasonText(path.reason)) + "\n");
  }
}

batch::MetadataChoice metadataOf(const companion::Options& options) {
  return {options.metadata, options.keepDates};
}

// --dry-run: one line per picture (and one JSON object with --json), then
// the totals. Nothing is written.
int runPlan(const Options& options, const settings::Settings& chosen, const batch::OutputChoice& output,
            const batch::Intake& intake, std::FILE* human) {
  const batch::BatchJob& job = intake.job;
  const auto start = std::chrono::steady_clock::now();
  // --jobs N: the plan's resizing uses N threads at most, as the batch would.
  image::ThreadBudget threads(options.jobs.value_or(image::defaultThreads()));
  const image::ThreadBudgetMember member(threads);
  companion::Planner planner(chosen, options.dryRun == companion::DryRun::exact, options.trashOriginals,
                             batch::stopSignalFlag());
  planner.keepSourcesOf(job);
  planner.keepMetadata(metadataOf(options));
  planner.chooseOutputs(output);
  companion::Summary summary;
  summary.dryRun = true;
  summary.skipped = intake.skipped.size();
  if (options.dryRun == companion::DryRun::exact) summary.outputBytes = 0;
  for (const std::string& source : job) {
    // After a signal the pictures left are not read: they are stopped, as in a run.
    companion::PlannedPicture planned;
    if (batch::stopSignalled()) {
      planned.source = source;
      planned.sourceBytes = fileSize(source);
      planned.outcome.reason = batch::FailureReason::stopped;
    } else {
      planned = planner.plan(source);
    }
    ++summary.pictures;
    summary.sourceBytes += planned.sourceBytes.value_or(0);
    if (planned.outcome.written()) {
      ++summary.written;
      if (summary.outputBytes) *summary.outputBytes += planned.outputBytes.value_or(0);
    } else if (planned.outcome.leftAlone()) {
      ++summary.left;
    } else if (planned.outcome.reason == batch::FailureReason::stopped) {
      ++summary.stopped;
    } else {
      ++summary.failed;
    }
    if (options.json) {
      companion::PictureLine line{source,        planned.outcome,     true,
                                  planned.state, planned.sourceBytes, planned.outputBytes,
                                  std::nullopt};
      batch::print(stdout, companion::pictureJson(line) + "\n");
    }
    if (!options.quiet || !planned.outcome.written())
      batch::print(human, companion::planLine(planned, options.trashOriginals, metadataOf(options)) + "\n");
  }
  summary.exitStatus = summary.failed == 0 && summary.stopped == 0 && intake.failingSkips() == 0 ? 0 : 1;
  summary.milliseconds = millisecondsSince(start);
  summary.sandbox = helperSandbox();
  if (!options.quiet) {
    std::string totals = "Plan: " + std::to_string(summary.pictures) + " pictures, " +
                         std::to_string(summary.written) + " to write, " +
                         (summary.left > 0 ? std::to_string(summary.left) + " left as they are, " : "") +
                         std::to_string(summary.failed + summary.stopped) + " without a file";
    if (summary.stopped > 0) totals += " (" + std::to_string(summary.stopped) + " stopped)";
    totals += "; " + std::to_string(summary.sourceBytes) + " bytes before";
    if (summary.outputBytes) totals += ", " + std::to_string(*summary.outputBytes) + " after";
    batch::print(human, totals + "\n");
  }
  if (options.json) batch::print(stdout, companion::summaryJson(summary) + "\n");
  return summary.exitStatus;
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything is read: a signal from now on stops the work with its
  // report, and a closed output ends printing, in every mode.
  batch::installConsoleSignals();
  Options options;
  if (const auto error = companion::parseArguments(argc, argv, options)) return usageError(*error);
  if (options.help) {
    std::fputs(companion::helpText().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("%s %s\n", kProgram, std::string(texts::kVersionText).c_str());
    return 0;
  }
  if (options.paths.empty()) return usageError("no PATH given");

  const companion::SettingsFile file = companion::readSettingsFile(
      options, companion::menuSettingsFile(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")));
  if (file.usageError) return usageError(*file.usageError);
  if (file.warning) std::fprintf(stderr, "%s: %s\n", kProgram, companion::printable(*file.warning).c_str());
  const companion::RunSettings runSettings = companion::chooseRunSettings(
      options, file.settings,
      companion::localeLanguage(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG")));
  if (runSettings.usageError) return usageError(*runSettings.usageError);
  // A name that is taken by something other than a folder holds no output;
  // said now rather than as a failed write for every picture.
  std::error_code notThere;
  if (options.outputDir && std::filesystem::exists(*options.outputDir, notThere) &&
      !std::filesystem::is_directory(*options.outputDir, notThere))
    return usageError("--output-dir '" + *options.outputDir + "' is not a folder");
  settings::Settings chosen = runSettings.settings;
  batch::OutputChoice output = runSettings.output;
  // One folder walked: its tree is mirrored under the output folder.
  if (options.paths.size() == 1 && batch::isFolder(options.paths.front()))
    output.tree = options.paths.front();

  image::registerJpegDecoder();
  image::registerPngDecoder();
  image::registerJpegEncoder();
  image::registerPngEncoder();
  image::registerWebpEncoder();
  image::registerAvifEncoder();

  const texts::UiTexts texts =
      texts::BuildUiTexts(runSettings.language, texts::kTitleBase, texts::kVersionText, "\n",
                          companion::kDefaultDesktopWidth, companion::kDefaultDesktopHeight, "");

  const batch::Intake intake = batch::takeDrop(
      options.paths,
      companion::companionIntakeRules(options, std::getenv("XDG_DATA_HOME"), std::getenv("HOME")));
  const batch::BatchJob& job = intake.job;
  reportSkipped(options, intake.skipped);
  if (job.empty()) {
    std::fprintf(stderr, "%s: no picture to process\n", kProgram);
    if (options.json) {
      companion::Summary summary;
      summary.dryRun = options.dryRun != companion::DryRun::off;
      summary.skipped = intake.skipped.size();
      summary.exitStatus = 2;
      batch::print(stdout, companion::summaryJson(summary) + "\n");
    }
    return 2;
  }
  // With --json the report has standard output to itself.
  std::FILE* const human = options.json ? stderr : stdout;
  if (options.dryRun != companion::DryRun::off) return runPlan(options, chosen, output, intake, human);

  companion::ConsoleView view(human, options.quiet);
  batch::SharedSettings shared(chosen);
  std::atomic<std::int32_t> busy{0};
  batch::BatchRunner runner(view, shared, batch::batchTextsFrom(texts), busy);

  const auto start = std::chrono::steady_clock::now();
  batch::RunOptions run;
  // N jobs: a budget of N threads for the batch; one job: the pictures' own
  // work, saves included, on one thread.
  run.overlapSaves = !options.jobs || *options.jobs > 1;
  if (options.jobs) run.workers = *options.jobs;
  run.formats = image::FormatSet::companion;
  // An output never replaces another source of the run, nor an output an
  // earlier picture wrote: the first of several sources of one name writes it.
  run.keepRunFiles = true;
  run.metadata = metadataOf(options);
  run.output = output;
  std::mutex reportMutex;
  companion::Summary summary;
  summary.skipped = intake.skipped.size();
  std::vector<std::optional<std::uint64_t>> sourceSizes;
  if (options.json) {
    summary.outputBytes = 0;
    for (const std::string& source : job) sourceSizes.push_back(fileSize(source));
    run.observer = [&](const batch::PictureReport& report) {
      const std::lock_guard lock(reportMutex);
      const bool written = report.outcome.written();
      const auto sourceBytes = report.index < sourceSizes.size() ? sourceSizes[report.index] : std::nullopt;
      companion::PictureLine line{report.sourcePath,
                                  report.outcome,
                                  false,
                                  companion::OutputState::unknown,
                                  sourceBytes,
                                  written ? std::optional(report.outcome.outputBytes) : std::nullopt,
                                  report.milliseconds};
      batch::print(stdout, companion::pictureJson(line) + "\n");
      ++summary.pictures;
      summary.sourceBytes += sourceBytes.value_or(0);
      if (written) {
        ++summary.written;
        *summary.outputBytes += report.outcome.outputBytes;
      } else if (report.outcome.leftAlone()) {
        ++summary.left;
      } else if (report.outcome.reason == batch::FailureReason::stopped) {
        ++summary.stopped;
      } else {
        ++summary.failed;
      }
    };
  }
  // Pictures written with a warning, and those left as asked, are listed
  // after those without a file.
  std::vector<batch::PictureReport> warned;
  run.observer = [&warned, &reportMutex, json = std::move(run.observer)](const batch::PictureReport& report) {
    if ((report.outcome.written() && !report.outcome.warnings.empty()) || report.outcome.leftAlone()) {
      const std::lock_guard lock(reportMutex);
      warned.push_back(report);
    }
    if (json) json(report);
  };
  std::map<std::string, std::string> trashRefusals;  // file -> the Trash's own words
  if (options.trashOriginals) {
    // The spare is a hidden second name of the original; the Trash records
    // the original's own name, where a file manager puts it back.
    run.setAside = [&](const std::string& spare, const std::string& name) {
      const companion::TrashResult result = companion::moveToTrash(spare, name);
      if (!result.moved) {
        const std::lock_guard lock(reportMutex);
        trashRefusals[name] = result.message;
        return files::SetAside{};
      }
      return files::SetAside{true, [entry = result.entry] { return companion::removeFromTrash(entry); }};
    };
  }
  runner.setRunOptions(std::move(run));

  if (runner.handleDrop(job, chosen) != batch::DropResult::started) {
    std::fprintf(stderr, "%s: no picture to process\n", kProgram);
    return 2;
  }
  // Ctrl+C stops as the Stop button does: the picture in progress is
  // abandoned without a partial file, and the stop count is printed.
  while (runner.running()) {
    if (batch::stopSignalled()) {
      runner.stopBatch();
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // A thread stuck in the kernel (a hung network mount) is not waited for.
  const bool ended = runner.waitUntilIdle(batch::kConsoleEndWait);
  view.finishLine();

  const std::vector<batch::PictureFailure> failures = runner.failures();
  for (const batch::PictureFailure& failure : failures) {
    std::string reason(batch::failureReasonText(failure.reason));
    if (const auto said = trashRefusals.find(failure.sourcePath); said != trashRefusals.end())
      reason += ": " + companion::printable(said->second);
    batch::print(stderr, companion::printable(failure.sourcePath) + ": " + reason + "\n");
  }
  {
    const std::lock_guard lock(reportMutex);
    for (const batch::PictureReport& report : warned) {
      if (report.outcome.leftAlone())
        batch::print(stderr, companion::printable(report.sourcePath) + ": left, " +
                                 std::string(batch::failureReasonText(report.outcome.reason)) + "\n");
      for (const batch::PictureWarning warning : report.outcome.warnings)
        batch::print(stderr, companion::printable(report.sourcePath) + ": written, " +
                                 std::string(batch::warningText(warning)) + "\n");
    }
  }
  const int status = failures.empty() && intake.failingSkips() == 0 ? 0 : 1;
  summary.sandbox = helperSandbox();
  if (options.json) {
    summary.exitStatus = status;
    summary.milliseconds = millisecondsSince(start);
    batch::print(stdout, companion::summaryJson(summary) + "\n");
  }
  if (!ended) std::_Exit(status);  // a thread stuck in the kernel is left behind
  return status;
}
