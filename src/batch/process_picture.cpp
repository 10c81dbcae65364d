#include "batch/process_picture.h"

#include <sys/stat.h>

#include "batch/output_path.h"
#include "batch/output_rules.h"
#include "batch/size_rules.h"
#include "image/resample.h"

namespace pixmoor::batch {
namespace {

FailureReason saveFailure(image::SaveStatus status) {
  switch (status) {
    case image::SaveStatus::cancelled:
      return FailureReason::stopped;
    case image::SaveStatus::wouldReplaceAnother:
      return FailureReason::wouldReplaceAnother;
    case image::SaveStatus::writeProtected:
      return FailureReason::writeProtected;
    case image::SaveStatus::folderNotWritable:
      return FailureReason::folderNotWritable;
    case image::SaveStatus::notAFile:
      return FailureReason::notAFile;
    case image::SaveStatus::refused:
      return FailureReason::linkRefused;
    case image::SaveStatus::nameTooLong:
      return FailureReason::nameTooLong;
    case image::SaveStatus::diskFull:
      return FailureReason::diskFull;
    case image::SaveStatus::outOfMemory:
      return FailureReason::tooLargeForMemory;
    case image::SaveStatus::setAsideNotReplaced:
      return FailureReason::trashedNotReplaced;
    case image::SaveStatus::saved:
    case image::SaveStatus::badRequest:
    case image::SaveStatus::noEncoder:
    case image::SaveStatus::cannotCreate:
    case image::SaveStatus::writeFailed:
      break;
  }
  return FailureReason::writeFailed;
}

}  // namespace

FailureReason loadFailure(image::LoadStatus status) {
  switch (status) {
    case image::LoadStatus::unreadable:
      return FailureReason::unreadable;
    case image::LoadStatus::unknownFormat:
      return FailureReason::unknownFormat;
    case image::LoadStatus::unsupported:
      return FailureReason::unsupported;
    case image::LoadStatus::tooLargeForMemory:
      return FailureReason::tooLargeForMemory;
    case image::LoadStatus::cancelled:
      return FailureReason::stopped;
    case image::LoadStatus::damaged:
      return FailureReason::damaged;
    case image::LoadStatus::loaded:
      break;
  }
  return FailureReason::unknownFormat;
}

files::ReplaceRule replaceRuleFor(const std::string& sourcePath, const settings::Settings& settings) {
  files::ReplaceRule rule;
  // Judged where the output's name leads (output_rules.h). A source that
  // vanishes before it is read matches no file (inode 0).
  if (settings::outputPrefix(settings.prefix).empty())
    rule.onlyReplacing = replaceableWithoutPrefix(sourcePath, outputPath(sourcePath, settings), settings);
  return rule;
}

FailureReason checkOutput(const std::string& outputPath, const files::ReplaceRule& rule) {
  const files::ReplaceStatus status = files::checkReplacement(outputPath, rule);
  return status == files::ReplaceStatus::replaced ? FailureReason::none
                                                  : saveFailure(image::saveStatusOf(status));
}

bool resampleFits(std::uint64_t rasterBytes, int targetWidth, int targetHeight, std::uint64_t budget) {
  return rasterBytes + 2 * image::rasterBytes(targetWidth, targetHeight, 32) <= budget;
}

image::ReduceTo reductionFor(const settings::Settings& settings) {
  return [settings](int w, int h) -> std::optional<image::PictureSize> {
    if (settings.format == settings::OutputFormat::unknown) return std::nullopt;
    const TargetSize target = targetSize(w, h, settings);
    if (!target.writesPicture()) return std::nullopt;
    return image::PictureSize{target.width, target.height};
  };
}

PreparedPicture preparePicture(const std::string& sourcePath, const settings::Settings& settings,
                               const OutputPathSink& publishOutputPath, const image::CancelFlag* cancel,
                               std::optional<std::uint64_t> memoryBudget, image::FormatSet formats,
                               const MetadataChoice& metadata) {
  PreparedPicture prepared;
  PictureOutcome& outcome = prepared.outcome;

  const std::string prefix = settings::outputPrefix(settings.prefix);
  // Without a prefix the output may replace its own source and nothing else.
  prepared.replaceRule = replaceRuleFor(sourcePath, settings);
  if (metadata.keepDates) prepared.replaceRule.times = sourceTimes(sourcePath);

  const std::uint64_t budget = memoryBudget.value_or(image::machineMemoryBudget());
  // Once the header is read: the size the picture will be resampled to, so
  // that a reader which can reduce it while decoding does so (the same
  // pixels as resampling it whole below, holding rows instead of a picture).
  const image::ReduceTo reduce = reductionFor(settings);
  image::LoadedPicture loaded = image::loadPicture(sourcePath, {{budget, cancel}, &reduce, formats});
  image::DecodedPicture& picture = loaded.picture;
  const int width = picture.source.width;
  const int height = picture.source.height;
  if (loaded.loaded()) {
    outcome.sourceWidth = width;
    outcome.sourceHeight = height;
  }

  // The name is shown even for a picture that then fails.
  outcome.outputPath = outputPath(sourcePath, settings);
  if (publishOutputPath) publishOutputPath(outcome.outputPath);

  if (!loaded.loaded()) {
    outcome.reason = loadFailure(loaded.status);
    return prepared;
  }
  if (image::cancelled(cancel)) {
    outcome.reason = FailureReason::stopped;
    return prepared;
  }
  // Without a prefix the output replaces its source: never with a picture of
  // part of its data, nor of data that changed under the read (a download
  // still being written, whose complete picture would then never exist).
  // With a prefix the source stays, and the output says what it lacks;
  // unless not a row of it decoded, when it would be nothing but fill.
  if (loaded.changedWhileRead) {
    if (prefix.empty()) {
      outcome.reason = FailureReason::changedWhileRead;
      return prepared;
    }
    outcome.warnings.push_back(PictureWarning::changedWhileRead);
  }
  if (picture.partial && (prefix.empty() || picture.nothingDecoded)) {
    outcome.reason = FailureReason::incomplete;
    return prepared;
  }

  const TargetSize target = targetSize(width, height, settings);
  if (!target.writesPicture()) {
    outcome.reason = FailureReason::noSize;
    return prepared;
  }
  outcome.outputWidth = target.width;
  outcome.outputHeight = target.height;

  std::uint32_t encoder = 0;
  int quality = 0;
  switch (settings.format) {
    case settings::OutputFormat::jpeg:
      encoder = image::kJpegEncoder;
      quality = settings.quality;
      break;
    case settings::OutputFormat::png:
      encoder = image::kPngEncoder;
      quality = kPngQuality;
      break;
    case settings::OutputFormat::webp:
      encoder = image::kWebpEncoder;
      quality = settings.quality;
      break;
    case settings::OutputFormat::webpLossless:
      encoder = image::kWebpLosslessEncoder;
      quality = settings.quality;
      break;
    case settings::OutputFormat::avif:
      encoder = image::kAvifEncoder;
      quality = settings.quality;
      break;
    case settings::OutputFormat::unknown:
      outcome.reason = FailureReason::noOutputFormat;
      return prepared;
  }

  std::unique_ptr<image::Raster> raster = std::move(picture.raster);
  if (target.width != raster->width || target.height != raster->height) {
    if (!resampleFits(raster->sizeBytes(), target.width, target.height, budget)) {
      outcome.reason = FailureReason::tooLargeForMemory;
      return prepared;
    }
    // Icons are shown, never resampled.
    if (!picture.isIcon) raster = image::resampledCopy(*raster, target.width, target.height, cancel);
    if (picture.isIcon || raster == nullptr) {
      outcome.reason = image::cancelled(cancel) ? FailureReason::stopped : FailureReason::resampleFailed;
      return prepared;
    }
  }
  if (picture.isIcon || raster->data() == nullptr) {
    outcome.reason = FailureReason::writeFailed;  // nothing the encoders take
    return prepared;
  }
  if (picture.partial) outcome.warnings.insert(outcome.warnings.begin(), PictureWarning::truncated);
  FittedExif exif = fitExif(picture.exif, metadata.exif, target.width, target.height, encoder);
  if (exif.warning) outcome.warnings.push_back(*exif.warning);
  outcome.exif = exif.carried;
  prepared.exif = std::move(exif.block);
  prepared.sourceDepth = picture.sourceDepth;
  prepared.iccProfile = std::move(picture.iccProfile);
  prepared.raster = std::move(raster);
  prepared.encoder = encoder;
  prepared.quality = quality;
  return prepared;
}

namespace {

// Writes through `save` under the picture's replace rule, telling a refusal
// to set the old file aside apart from the policy's own.
template <typename Save>
FailureReason writeWith(const PreparedPicture& picture, std::uint64_t* bytes, const Save& save) {
  files::ReplaceRule rule = picture.replaceRule;
  bool notSetAside = false;
  if (rule.setAside) {
    rule.setAside = [&notSetAside, setAside = picture.replaceRule.setAside](const std::string& spare,
                                                                            const std::string& name) {
      files::SetAside aside = setAside(spare, name);
      notSetAside = !aside.kept;
      return aside;
    };
  }
  const image::SaveStatus saved = save(rule);
  if (saved != image::SaveStatus::saved) return notSetAside ? FailureReason::notTrashed : saveFailure(saved);
  struct stat written {};
  if (bytes != nullptr && ::stat(picture.outcome.outputPath.c_str(), &written) == 0)
    *bytes = static_cast<std::uint64_t>(written.st_size);
  return FailureReason::none;
}

}  // namespace

FailureReason writePreparedPicture(const PreparedPicture& picture, const image::CancelFlag* cancel,
                                   std::uint64_t* bytes) {
  if (!picture.outcome.written()) return picture.outcome.reason;
  if (picture.raster == nullptr) return FailureReason::writeFailed;
  return writeWith(picture, bytes, [&](const files::ReplaceRule& rule) {
    return image::saveRaster(*picture.raster, picture.sourceDepth, picture.outcome.outputPath,
                             picture.encoder, picture.quality, -1, cancel, picture.iccProfile, rule,
                             picture.exif);
  });
}

FailureReason writeEncodedPicture(const PreparedPicture& picture, std::span<const std::uint8_t> encoded,
                                  const image::CancelFlag* cancel, std::uint64_t* bytes) {
  if (!picture.outcome.written()) return picture.outcome.reason;
  return writeWith(picture, bytes, [&](const files::ReplaceRule& rule) {
    return image::saveEncoded(encoded, picture.outcome.outputPath, cancel, rule);
  });
}

FailureReason encodePreparedPicture(const PreparedPicture& picture, std::vector<std::uint8_t>& bytes,
                                    const image::CancelFlag* cancel) {
  bytes.clear();
  if (!picture.outcome.written()) return picture.outcome.reason;
  if (picture.raster == nullptr) return FailureReason::writeFailed;
  const image::SaveStatus encoded =
      image::encodeRaster(*picture.raster, picture.sourceDepth, picture.encoder, picture.quality, -1, bytes,
                          cancel, picture.iccProfile, picture.exif);
  return encoded == image::SaveStatus::saved ? FailureReason::none : saveFailure(encoded);
}

PictureOutcome processPicture(const std::string& sourcePath, const settings::Settings& settings,
                              const OutputPathSink& publishOutputPath, const image::CancelFlag* cancel,
                              std::optional<std::uint64_t> memoryBudget, image::FormatSet formats,
                              const MetadataChoice& metadata) {
  const PreparedPicture prepared =
      preparePicture(sourcePath, settings, publishOutputPath, cancel, memoryBudget, formats, metadata);
  PictureOutcome outcome = prepared.outcome;
  outcome.reason = writePreparedPicture(prepared, cancel, &outcome.outputBytes);
  return outcome;
}

}  // namespace pixmoor::batch
