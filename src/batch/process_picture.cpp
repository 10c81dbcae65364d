#include "batch/process_picture.h"

#include "batch/output_path.h"
#include "batch/size_rules.h"

namespace pixmoor::batch {
namespace {

using image::kWorkingPicture;

FailureReason loadFailure(image::LoadStatus status) {
  switch (status) {
    case image::LoadStatus::Unreadable: return FailureReason::unreadable;
    case image::LoadStatus::UnknownFormat: return FailureReason::unknownFormat;
    case image::LoadStatus::Unsupported: return FailureReason::unsupported;
    case image::LoadStatus::Loaded: break;
  }
  return FailureReason::unknownFormat;
}

FailureReason saveFailure(image::SaveStatus status) {
  return status == image::SaveStatus::Cancelled ? FailureReason::stopped : FailureReason::writeFailed;
}

// Releases picture 55 on every way out.
class WorkingPictureGuard {
 public:
  explicit WorkingPictureGuard(image::ImageStore& store) : store_(store) {}
  ~WorkingPictureGuard() { store_.release(kWorkingPicture); }
  WorkingPictureGuard(const WorkingPictureGuard&) = delete;
  WorkingPictureGuard& operator=(const WorkingPictureGuard&) = delete;

 private:
  image::ImageStore& store_;
};

}  // namespace

PictureOutcome processPicture(image::ImageStore& store, const std::string& sourcePath,
                              const settings::Settings& settings, const OutputPathSink& publishOutputPath,
                              const image::CancelFlag* cancel) {
  const WorkingPictureGuard guard(store);
  PictureOutcome outcome;

  image::LoadStatus loadStatus = image::LoadStatus::Unreadable;
  const bool loaded = store.loadFromFile(kWorkingPicture, sourcePath, &loadStatus) != 0;
  const int width = store.imageWidth(kWorkingPicture);
  const int height = store.imageHeight(kWorkingPicture);

  // The name is shown even for a picture that then fails.
  outcome.outputPath = outputPath(sourcePath, settings.prefix, settings.format);
  if (publishOutputPath) publishOutputPath(outcome.outputPath);

  if (!loaded) {
    outcome.reason = loadFailure(loadStatus);
    return outcome;
  }
  if (image::cancelled(cancel)) {
    outcome.reason = FailureReason::stopped;
    return outcome;
  }

  const TargetSize target = targetSize(width, height, settings);
  if (!target.writesPicture()) {
    outcome.reason = FailureReason::noSize;
    return outcome;
  }

  std::uint32_t encoder = 0;
  int quality = 0;
  if (settings.format == "JPG") {
    encoder = image::kJpegEncoder;
    quality = settings.quality;
  } else if (settings.format == "PNG") {
    encoder = image::kPngEncoder;
    quality = kPngQuality;
  } else {
    outcome.reason = FailureReason::noOutputFormat;
    return outcome;
  }

  if (target.width != width || target.height != height) {
    if (store.resample(kWorkingPicture, target.width, target.height, image::ResampleMode::Smooth, cancel) == 0) {
      outcome.reason = image::cancelled(cancel) ? FailureReason::stopped : FailureReason::resampleFailed;
      return outcome;
    }
  }

  const image::SaveStatus saved = store.save(kWorkingPicture, outcome.outputPath, encoder, quality, -1, cancel);
  if (saved != image::SaveStatus::Saved) outcome.reason = saveFailure(saved);
  return outcome;
}

}  // namespace pixmoor::batch
