#include "batch/process_picture.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>

#include "batch/output_formats.h"
#include "batch/output_path.h"
#include "batch/output_rules.h"
#include "batch/size_rules.h"
#include "resample/resample.h"

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
    case image::SaveStatus::tooManyOpenFiles:
      return FailureReason::tooManyOpenFiles;
    case image::SaveStatus::outOfMemory:
      return FailureReason::tooLargeForMemory;
    case image::SaveStatus::setAsideNotReplaced:
      return FailureReason::trashedNotReplaced;
    case image::SaveStatus::nameTaken:
      return FailureReason::exists;
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
    case image::LoadStatus::notConfined:
      return FailureReason::notConfined;
    case image::LoadStatus::sandboxViolation:
      return FailureReason::sandboxViolation;
    case image::LoadStatus::timedOut:
      return FailureReason::timedOut;
    case image::LoadStatus::tooManyOpenFiles:
      return FailureReason::tooManyOpenFiles;
    case image::LoadStatus::loaded:
      break;
  }
  return FailureReason::unknownFormat;
}

files::ReplaceRule replaceRuleFor(const std::string& sourcePath, const settings::Settings& settings,
                                  const OutputChoice& choice) {
  files::ReplaceRule rule;
  // Judged where the output's name leads (output_rules.h). A source that
  // vanishes before it is read matches no file (inode 0). In an output
  // folder the empty prefix replaces nothing of the sources'.
  if (settings::outputPrefix(settings.prefix).empty() && choice.folder.empty())
    rule.onlyReplacing = replaceableWithoutPrefix(sourcePath, outputPath(sourcePath, settings), settings);
  if (!choice.folder.empty()) {
    // Never the source itself, whatever folder and prefix lead back to it.
    rule.mustKeep = [source = files::identityOf(sourcePath)](const files::FileIdentity& held) {
      return source && held == *source;
    };
  }
  rule.nameMustBeFree = choice.ifExists != IfExists::replace;
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

image::ReduceTo reductionFor(const settings::Settings& settings, const SizeChoice& size) {
  return [settings, size](int w, int h) -> std::optional<image::PictureSize> {
    if (settings.format == settings::OutputFormat::unknown) return std::nullopt;
    const TargetSize target = targetSize(w, h, settings, size);
    if (!target.writesPicture()) return std::nullopt;
    return image::PictureSize{target.width, target.height};
  };
}

PreparedPicture preparePicture(const std::string& sourcePath, const settings::Settings& settings,
                               const OutputPathSink& publishOutputPath, const image::CancelFlag* cancel,
                               std::optional<std::uint64_t> memoryBudget, image::FormatSet formats,
                               const MetadataChoice& metadata, const OutputChoice& choice) {
  PreparedPicture prepared;
  PictureOutcome& outcome = prepared.outcome;

  // Only an output that replaces its source must be of a whole, steady picture.
  const bool replacesSource = settings::outputPrefix(settings.prefix).empty() && choice.folder.empty();
  // Without a prefix the output may replace its own source and nothing else.
  prepared.replaceRule = replaceRuleFor(sourcePath, settings, choice);
  prepared.ifExists = choice.ifExists;
  prepared.inOutputFolder = !choice.folder.empty();
  prepared.maxBytes = choice.maxBytes;
  if (metadata.keepDates) prepared.replaceRule.times = sourceTimes(sourcePath);

  const std::uint64_t budget = memoryBudget.value_or(image::machineMemoryBudget());
  // Once the header is read: the size the picture will be resampled to, so
  // that a reader which can reduce it while decoding does so (the same
  // pixels as resampling it whole below, holding rows instead of a picture).
  const image::ReduceTo reduce = reductionFor(settings, choice.size);
  image::LoadedPicture loaded = image::loadPicture(sourcePath, {{budget, cancel}, &reduce, formats});
  image::DecodedPicture& picture = loaded.picture;
  const int width = picture.source.width;
  const int height = picture.source.height;
  if (loaded.loaded()) {
    outcome.sourceWidth = width;
    outcome.sourceHeight = height;
  }

  // The name is shown even for a picture that then fails.
  outcome.outputPath = outputPath(sourcePath, settings, choice);
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
    if (replacesSource) {
      outcome.reason = FailureReason::changedWhileRead;
      return prepared;
    }
    outcome.warnings.push_back(PictureWarning::changedWhileRead);
  }
  if (picture.partial && (replacesSource || picture.nothingDecoded)) {
    outcome.reason = FailureReason::incomplete;
    return prepared;
  }

  const TargetSize target = targetSize(width, height, settings, choice.size);
  if (!target.writesPicture()) {
    outcome.reason = FailureReason::noSize;
    return prepared;
  }
  // Already within the target, and its output would be the source itself:
  // nothing to make of it, unless it has more bytes than the limit allows.
  struct stat source {};
  const std::uint64_t sourceBytes =
      ::stat(sourcePath.c_str(), &source) == 0 ? static_cast<std::uint64_t>(source.st_size) : 0;
  if (leftAlreadySmall(choice, target.width == width && target.height == height,
                       outcome.outputPath == sourcePath, sourceBytes)) {
    outcome.reason = FailureReason::alreadySmall;
    return prepared;
  }
  outcome.outputWidth = target.width;
  outcome.outputHeight = target.height;

  const OutputFormatRow* format = outputFormatRow(settings.format);
  if (format == nullptr) {
    outcome.reason = FailureReason::noOutputFormat;
    return prepared;
  }
  if (!sidesFit(*format, target.width, target.height)) {
    outcome.reason = FailureReason::tooLargeForFormat;
    return prepared;
  }
  const std::uint32_t encoder = format->encoder;
  const int quality = format->encoder == image::kPngEncoder ? kPngQuality : settings.quality;

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
  if (prepared.maxBytes != 0 && metadata.exif != ExifChoice::none) {
    prepared.sourceExif = picture.exif;
    prepared.exifChoice = metadata.exif;
  }
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
// to set the old file aside apart from the policy's own. Under rename a name
// taken, even one taken while the picture was written, sends it on to the
// next numbered name.
template <typename Save>
FailureReason writeWith(const PreparedPicture& picture, std::uint64_t* bytes, std::string* writtenTo,
                        const Save& save) {
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
  const std::string& first = picture.outcome.outputPath;
  if (picture.inOutputFolder) {
    const files::ReplaceStatus made = files::makeFolderOf(first);
    if (made != files::ReplaceStatus::replaced) return saveFailure(image::saveStatusOf(made));
  }
  std::string path = first;
  image::SaveStatus saved = save(path, rule);
  for (int n = 1; saved == image::SaveStatus::nameTaken && picture.ifExists == IfExists::rename &&
                  n <= kMostNumberedNames;
       ++n) {
    path = numberedPath(first, n);
    saved = save(path, rule);
  }
  // Skip leaves a file that was there before the run; one of the run's own
  // (another source, an earlier output) is a clash of two pictures, as
  // under replace.
  if (saved == image::SaveStatus::nameTaken && picture.ifExists == IfExists::skip && rule.mustKeep) {
    const auto held = files::identityOf(path);
    if (held && rule.mustKeep(*held)) return FailureReason::wouldReplaceAnother;
  }
  if (saved != image::SaveStatus::saved) return notSetAside ? FailureReason::notTrashed : saveFailure(saved);
  struct stat written {};
  if (bytes != nullptr && ::stat(path.c_str(), &written) == 0)
    *bytes = static_cast<std::uint64_t>(written.st_size);
  if (writtenTo != nullptr) *writtenTo = path;
  return FailureReason::none;
}

bool hasQualityScale(std::uint32_t encoder) {
  const OutputFormatRow* row = outputFormatRowOfEncoder(encoder);
  return row != nullptr && row->qualityScale;
}

// The search under a byte limit. Sizes grow with the quality, so the
// highest that fits is found by bisection below the chosen one (at most
// four more encodes on the 0..10 scale); when even the lowest does not fit,
// the picture is made smaller by the square root of the excess (sizes go
// with the pixels), at least a tenth each step, down to 16 pixels.
FailureReason encodeWithin(PreparedPicture& picture, std::vector<std::uint8_t>& bytes,
                           const image::CancelFlag* cancel) {
  const std::uint64_t limit = picture.maxBytes;
  const auto encode = [&](const image::Raster& raster, int quality, std::span<const std::uint8_t> exif,
                          std::vector<std::uint8_t>& into) {
    const image::SaveStatus status = image::encodeRaster(raster, picture.sourceDepth, picture.encoder,
                                                         quality, -1, into, cancel, picture.iccProfile, exif);
    return status == image::SaveStatus::saved ? FailureReason::none : saveFailure(status);
  };
  const bool scaled = hasQualityScale(picture.encoder);
  const int ceiling = scaled ? std::clamp(picture.quality, 0, 10) : picture.quality;
  if (const FailureReason failed = encode(*picture.raster, ceiling, picture.exif, bytes);
      failed != FailureReason::none)
    return failed;
  if (bytes.size() <= limit) {
    if (scaled) picture.outcome.quality = ceiling;
    return FailureReason::none;
  }
  std::vector<std::uint8_t> trial;
  if (scaled) {
    int best = -1;
    for (int low = 0, high = ceiling - 1; low <= high;) {
      const int middle = (low + high) / 2;
      if (const FailureReason failed = encode(*picture.raster, middle, picture.exif, trial);
          failed != FailureReason::none)
        return failed;
      if (trial.size() <= limit) {
        best = middle;
        bytes.swap(trial);
        low = middle + 1;
      } else {
        high = middle - 1;
      }
    }
    if (best >= 0) {
      picture.quality = best;
      picture.outcome.quality = best;
      return FailureReason::none;
    }
    // Even the lowest is too large: smaller, at the lowest quality. The
    // bisection's last trial was the lowest (or the first encode, when the
    // ceiling was); it is where the shrinking starts.
    if (ceiling > 0) bytes.swap(trial);
  }
  const int quality = scaled ? 0 : picture.quality;
  image::Raster& full = *picture.raster;
  int width = full.width;
  int height = full.height;
  std::uint64_t size = bytes.size();
  std::unique_ptr<image::Raster> smaller;
  std::vector<std::uint8_t> exif;
  while (size > limit) {
    const int longer = std::max(width, height);
    if (longer <= kSmallestFittedSide) return FailureReason::cannotFit;
    const double factor =
        std::min(0.9, 0.95 * std::sqrt(static_cast<double>(limit) / static_cast<double>(size)));
    int side = std::max(kSmallestFittedSide, static_cast<int>(longer * factor));
    // Proportions kept, each side at least one pixel.
    const auto other = [&](int of) {
      return std::max(1, static_cast<int>((2LL * of * side + longer) / (2LL * longer)));
    };
    const int newWidth = width >= height ? side : other(width);
    const int newHeight = width >= height ? other(height) : side;
    smaller = image::resampledCopy(full, newWidth, newHeight, cancel);
    if (smaller == nullptr)
      return image::cancelled(cancel) ? FailureReason::stopped : FailureReason::resampleFailed;
    width = newWidth;
    height = newHeight;
    exif = fitExif(picture.sourceExif, picture.exifChoice, width, height, picture.encoder).block;
    if (const FailureReason failed = encode(*smaller, quality, exif, bytes); failed != FailureReason::none)
      return failed;
    size = bytes.size();
  }
  if (smaller != nullptr) {
    picture.raster = std::move(smaller);
    picture.exif = std::move(exif);
    picture.outcome.outputWidth = width;
    picture.outcome.outputHeight = height;
  }
  picture.quality = quality;
  if (scaled) picture.outcome.quality = quality;
  return FailureReason::none;
}

}  // namespace

FailureReason writePreparedPicture(PreparedPicture& picture, const image::CancelFlag* cancel,
                                   std::uint64_t* bytes, std::string* writtenTo) {
  if (!picture.outcome.written()) return picture.outcome.reason;
  if (picture.raster == nullptr) return FailureReason::writeFailed;
  if (picture.encodesFirst()) {
    std::vector<std::uint8_t> encoded;
    const FailureReason reason = encodePreparedPicture(picture, encoded, cancel);
    if (reason != FailureReason::none) return reason;
    return writeEncodedPicture(picture, encoded, cancel, bytes, writtenTo);
  }
  return writeWith(picture, bytes, writtenTo, [&](const std::string& path, const files::ReplaceRule& rule) {
    return image::saveRaster(*picture.raster, picture.sourceDepth, path, picture.encoder, picture.quality, -1,
                             cancel, picture.iccProfile, rule, picture.exif);
  });
}

FailureReason writeEncodedPicture(const PreparedPicture& picture, std::span<const std::uint8_t> encoded,
                                  const image::CancelFlag* cancel, std::uint64_t* bytes,
                                  std::string* writtenTo) {
  if (!picture.outcome.written()) return picture.outcome.reason;
  return writeWith(picture, bytes, writtenTo, [&](const std::string& path, const files::ReplaceRule& rule) {
    return image::saveEncoded(encoded, path, cancel, rule);
  });
}

FailureReason encodePreparedPicture(PreparedPicture& picture, std::vector<std::uint8_t>& bytes,
                                    const image::CancelFlag* cancel) {
  bytes.clear();
  if (!picture.outcome.written()) return picture.outcome.reason;
  if (picture.raster == nullptr) return FailureReason::writeFailed;
  if (picture.maxBytes != 0) return encodeWithin(picture, bytes, cancel);
  const image::SaveStatus encoded =
      image::encodeRaster(*picture.raster, picture.sourceDepth, picture.encoder, picture.quality, -1, bytes,
                          cancel, picture.iccProfile, picture.exif);
  return encoded == image::SaveStatus::saved ? FailureReason::none : saveFailure(encoded);
}

PictureOutcome processPicture(const std::string& sourcePath, const settings::Settings& settings,
                              const OutputPathSink& publishOutputPath, const image::CancelFlag* cancel,
                              std::optional<std::uint64_t> memoryBudget, image::FormatSet formats,
                              const MetadataChoice& metadata, const OutputChoice& choice) {
  PreparedPicture prepared = preparePicture(sourcePath, settings, publishOutputPath, cancel, memoryBudget,
                                            formats, metadata, choice);
  std::vector<std::uint8_t> encoded;
  if (prepared.encodesFirst()) prepared.outcome.reason = encodePreparedPicture(prepared, encoded, cancel);
  PictureOutcome outcome = prepared.outcome;
  outcome.reason =
      prepared.encodesFirst()
          ? writeEncodedPicture(prepared, encoded, cancel, &outcome.outputBytes, &outcome.outputPath)
          : writePreparedPicture(prepared, cancel, &outcome.outputBytes, &outcome.outputPath);
  return outcome;
}

}  // namespace pixmoor::batch
