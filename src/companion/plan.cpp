#include "companion/plan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "batch/output_formats.h"
#include "batch/output_path.h"
#include "batch/process_picture.h"
#include "batch/size_rules.h"
#include "codecs/header_probe.h"
#include "companion/printable.h"
#include "companion/trash_folder.h"
#include "encoders/encode.h"
#include "files/link_target.h"
#include "files/same_file.h"

namespace pixmoor::companion {
namespace {

using batch::FailureReason;

std::optional<std::uint64_t> sizeOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

// Where an output lands however its path is spelt ("a.jpg", "./a.jpg", a
// link to the folder): the identity of its folder, links followed, and its name.
std::string landing(const std::string& output) {
  const std::string path = files::followLinks(output).path;
  const auto folder = files::identityOf(files::folderOf(path));
  if (!folder) return path;
  return std::to_string(folder->device) + ":" + std::to_string(folder->inode) + "/" + files::nameOf(path);
}

}  // namespace

Planner::Planner(const settings::Settings& settings, bool exact, bool trashOriginals,
                 const image::CancelFlag* cancel)
    : settings_(settings),
      prefix_(settings::outputPrefix(settings.prefix)),
      exact_(exact),
      trashOriginals_(trashOriginals),
      cancel_(cancel),
      reduce_(batch::reductionFor(settings)),
      limits_(image::machineDecodeLimits()) {}

void Planner::chooseOutputs(const batch::OutputChoice& choice) {
  choice_ = choice;
  reduce_ = batch::reductionFor(settings_, choice.size);
}

void Planner::keepSourcesOf(const std::vector<std::string>& job) {
  runFiles_ = std::make_unique<batch::RunFiles>(job);
}

PlannedPicture Planner::plan(const std::string& source) {
  PlannedPicture planned;
  planned.source = source;
  planned.sourceBytes = sizeOf(source);
  if (exact_) {
    planExactly(planned);
  } else {
    planFromHeader(planned);
  }
  if (planned.outcome.written()) judgeOutputName(planned);
  if (planned.outcome.written()) {
    planned_.insert(landing(planned.outcome.outputPath));
  } else {
    planned.outputBytes.reset();
  }
  return planned;
}

// The pipeline's own steps and order, on the header's size.
void Planner::planFromHeader(PlannedPicture& planned) {
  batch::PictureOutcome& outcome = planned.outcome;
  outcome.outputPath = batch::outputPath(planned.source, settings_, choice_);
  // The reader and the limits of the run: the same refusals, the same budget.
  const image::PictureHeader header =
      image::probePictureFile(planned.source, {limits_, &reduce_, image::FormatSet::companion});
  if (header.status != image::LoadStatus::loaded) {
    outcome.reason = batch::loadFailure(header.status);
    return;
  }
  outcome.sourceWidth = header.width;
  outcome.sourceHeight = header.height;
  const batch::TargetSize target = batch::targetSize(header.width, header.height, settings_, choice_.size);
  if (!target.writesPicture()) {
    outcome.reason = FailureReason::noSize;
    return;
  }
  if (batch::leftAlreadySmall(choice_, target.width == header.width && target.height == header.height,
                              outcome.outputPath == planned.source, planned.sourceBytes.value_or(0))) {
    outcome.reason = FailureReason::alreadySmall;
    return;
  }
  outcome.outputWidth = target.width;
  outcome.outputHeight = target.height;
  const batch::OutputFormatRow* format = batch::outputFormatRow(settings_.format);
  if (format == nullptr) {
    outcome.reason = FailureReason::noOutputFormat;
    return;
  }
  if (!batch::sidesFit(*format, target.width, target.height)) {
    outcome.reason = FailureReason::tooLargeForFormat;
    return;
  }
  const std::uint32_t encoder = format->encoder;
  const batch::FittedExif exif =
      batch::fitExif(header.exif, metadata_.exif, target.width, target.height, encoder);
  outcome.exif = exif.carried;
  if (exif.warning) outcome.warnings.push_back(*exif.warning);
  if (header.isIcon) {
    // Icons are never resized, nor given to an encoder.
    const bool resized = target.width != header.width || target.height != header.height;
    outcome.reason = resized ? FailureReason::resampleFailed : FailureReason::writeFailed;
  } else if (!header.reduced && (target.width != header.width || target.height != header.height) &&
             !batch::resampleFits(image::rasterBytes(header.width, header.height, header.rasterDepth),
                                  target.width, target.height, limits_.memoryBudget)) {
    outcome.reason = FailureReason::tooLargeForMemory;
  }
}

void Planner::planExactly(PlannedPicture& planned) {
  batch::PreparedPicture prepared =
      batch::preparePicture(planned.source, settings_, nullptr, cancel_, std::nullopt,
                            image::FormatSet::companion, metadata_, choice_);
  if (!prepared.outcome.written()) {
    planned.outcome = prepared.outcome;
    return;
  }
  const FailureReason encoded = batch::encodePreparedPicture(prepared, bytes_, cancel_);
  planned.outcome = prepared.outcome;  // with the quality and size a byte limit chose
  planned.outcome.reason = encoded;
  if (planned.outcome.written()) planned.outputBytes = bytes_.size();
}

namespace {

// Whether the output's missing folder would be made: the nearest folder
// above it that exists lets us make one. none when it exists already.
std::optional<FailureReason> folderToMake(const std::string& output) {
  std::string folder = files::folderOf(output);
  struct stat info {};
  // A file where a folder must be is named as the run names it.
  if (::stat(folder.c_str(), &info) == 0)
    return S_ISDIR(info.st_mode) ? std::nullopt : std::optional(FailureReason::notAFile);
  while (::stat(folder.c_str(), &info) != 0) {
    if (errno == ENOTDIR) return FailureReason::notAFile;
    if (errno != ENOENT) return FailureReason::folderNotWritable;
    const std::string above = files::folderOf(folder);
    if (above == folder) return FailureReason::writeFailed;
    folder = above;
  }
  if (!S_ISDIR(info.st_mode)) return FailureReason::notAFile;
  return ::access(folder.c_str(), W_OK | X_OK) == 0 ? FailureReason::none : FailureReason::folderNotWritable;
}

bool nameHoldsAnything(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace

bool Planner::runKeeps(const std::string& source, const std::string& path) const {
  if (!runFiles_) return false;
  if (planned_.count(landing(path)) != 0) return true;
  const auto held = files::identityOf(path);
  return held && runFiles_->keeps(source, *held);
}

void Planner::judgeOutputName(PlannedPicture& planned) {
  batch::PictureOutcome& outcome = planned.outcome;
  const bool replacesSource = prefix_.empty() && choice_.folder.empty();
  // Skip and rename never replace: a name taken, by a file or by an output
  // planned before, is left (exists) or passed for the next numbered one.
  if (choice_.ifExists != batch::IfExists::replace) {
    const auto taken = [&](const std::string& path) {
      return nameHoldsAnything(path) || planned_.count(landing(path)) != 0;
    };
    const std::string first = outcome.outputPath;
    for (int n = 1; taken(outcome.outputPath); ++n) {
      if (choice_.ifExists == batch::IfExists::skip) {
        planned.state = OutputState::exists;
        outcome.reason = runKeeps(planned.source, outcome.outputPath) ? FailureReason::wouldReplaceAnother
                                                                      : FailureReason::exists;
        return;
      }
      if (n > batch::kMostNumberedNames) {
        planned.state = OutputState::exists;
        outcome.outputPath = first;
        outcome.reason = FailureReason::exists;
        return;
      }
      outcome.outputPath = batch::numberedPath(first, n);
    }
  }
  const std::string& output = outcome.outputPath;
  const auto outputIdentity = files::identityOf(output);
  const auto sourceIdentity = files::identityOf(planned.source);
  if (outputIdentity && sourceIdentity && *outputIdentity == *sourceIdentity) {
    planned.state = OutputState::source;
    // Through a link, only a file whose own name is this output's; in an
    // output folder, never.
    if (!replacesSource ||
        !(batch::replaceableWithoutPrefix(planned.source, output, settings_) == *outputIdentity))
      outcome.reason = FailureReason::wouldReplaceAnother;
  } else if (outputIdentity || planned_.count(landing(output)) != 0) {
    planned.state = OutputState::exists;
    // Without a prefix an output replaces its own source and nothing else.
    if (replacesSource) outcome.reason = FailureReason::wouldReplaceAnother;
  } else {
    planned.state = OutputState::fresh;
  }
  // The run's own files: another source, or an output planned before.
  if (runFiles_ && (planned_.count(landing(output)) != 0 ||
                    (outputIdentity && runFiles_->keeps(planned.source, *outputIdentity))))
    outcome.reason = FailureReason::wouldReplaceAnother;
  // The write's own checks, short of writing; a folder still to be made
  // holds nothing to check but whether it can be made.
  if (outcome.written()) {
    const auto made = choice_.folder.empty() ? std::nullopt : folderToMake(output);
    if (made) {
      outcome.reason = *made;
    } else {
      batch::OutputChoice writing = choice_;
      writing.ifExists = batch::IfExists::replace;  // the name was judged above
      outcome.reason = batch::checkOutput(output, batch::replaceRuleFor(planned.source, settings_, writing));
    }
  }
  // The original replaced goes to the Trash just before the output takes its name.
  if (outcome.written() && trashOriginals_ && outputIdentity) {
    if (auto refusal = trashRefusal(files::followLinks(output).path)) {
      outcome.reason = FailureReason::notTrashed;
      planned.trashRefusal = std::move(*refusal);
    }
  }
}

std::string planLine(const PlannedPicture& planned, bool trashOriginals,
                     const batch::MetadataChoice& metadata) {
  const batch::PictureOutcome& outcome = planned.outcome;
  std::string line = printable(planned.source) + ": ";
  if (outcome.leftAlone()) return line + "left: " + std::string(batch::failureReasonText(outcome.reason));
  if (!outcome.written()) {
    line += "no file: " + std::string(batch::failureReasonText(outcome.reason));
    if (!planned.trashRefusal.empty()) line += ": " + printable(planned.trashRefusal);
    return line;
  }
  line += std::to_string(outcome.sourceWidth) + "x" + std::to_string(outcome.sourceHeight) + " -> " +
          std::to_string(outcome.outputWidth) + "x" + std::to_string(outcome.outputHeight) + ", ";
  if (planned.outputBytes) {
    line += (planned.sourceBytes ? std::to_string(*planned.sourceBytes) : std::string("?")) + " -> " +
            std::to_string(*planned.outputBytes) + " bytes, ";
  }
  if (outcome.quality >= 0) line += "quality " + std::to_string(outcome.quality) + ", ";
  line += printable(outcome.outputPath);
  switch (planned.state) {
    case OutputState::fresh:
      line += " (new)";
      break;
    case OutputState::exists:
      line += " (exists: replaced)";
      break;
    case OutputState::source:
      line +=
          trashOriginals ? " (the source: replaced, the original to the Trash)" : " (the source: replaced)";
      break;
    case OutputState::unknown:
      break;
  }
  if (metadata.exif != batch::ExifChoice::none)
    line += ", metadata: " + std::string(batch::exifCarriedText(outcome.exif));
  if (metadata.keepDates) line += ", dates kept";
  for (const batch::PictureWarning warning : outcome.warnings)
    line += ", " + std::string(batch::warningText(warning));
  return line;
}

}  // namespace pixmoor::companion
