#include "batch/picture_outcome.h"

namespace pixmoor::batch {

std::string_view failureReasonText(FailureReason reason) {
  switch (reason) {
    case FailureReason::none:
      return "written";
    case FailureReason::unreadable:
      return "unreadable";
    case FailureReason::unknownFormat:
      return "unknown format";
    case FailureReason::unsupported:
      return "unsupported picture (too large or unusable)";
    case FailureReason::tooLargeForMemory:
      return "too large for the available memory";
    case FailureReason::noSize:
      return "no size (the size settings give no usable target)";
    case FailureReason::resampleFailed:
      return "resampling failed";
    case FailureReason::noOutputFormat:
      return "no output format (TYPE is neither JPG nor PNG)";
    case FailureReason::writeFailed:
      return "write failed";
    case FailureReason::writeProtected:
      return "write-protected file";
    case FailureReason::folderNotWritable:
      return "folder not writable";
    case FailureReason::notAFile:
      return "the output's name is not a file (a folder, a FIFO or a device)";
    case FailureReason::linkRefused:
      return "a link that is not followed (it leads nowhere, or is not yours)";
    case FailureReason::nameTooLong:
      return "name too long";
    case FailureReason::diskFull:
      return "disk full";
    case FailureReason::stopped:
      return "stopped";
    case FailureReason::wouldReplaceAnother:
      return "would replace another picture";
    case FailureReason::notTrashed:
      return "the Trash refused it (left untouched)";
    case FailureReason::trashedNotReplaced:
      return "the original went to the Trash, then the output could not take its name";
    case FailureReason::incomplete:
      return "incomplete picture (its data ended or broke off early)";
    case FailureReason::changedWhileRead:
      return "changed while it was read (still being written?)";
    case FailureReason::damaged:
      return "damaged (its decoder crashed or broke its limits on it)";
    case FailureReason::notConfined:
      return "not read: its decoder could not be confined";
    case FailureReason::sandboxViolation:
      return "refused: its decoder tried what its sandbox forbids";
    case FailureReason::timedOut:
      return "timed out (its decoder took too long on it)";
    case FailureReason::tooManyOpenFiles:
      return "too many files open (the limit of open files, ulimit -n, is reached)";
    case FailureReason::alreadySmall:
      return "already small (left as it is)";
    case FailureReason::exists:
      return "the output exists (left as it is)";
    case FailureReason::cannotFit:
      return "cannot fit in the bytes allowed, even at 16 pixels";
    case FailureReason::tooLargeForFormat:
      return "too large for its output format (WebP sides are at most 16383)";
  }
  return "unknown";
}

std::string_view warningText(PictureWarning warning) {
  switch (warning) {
    case PictureWarning::truncated:
      return "truncated (its data ended or broke off early; the missing part is filled in)";
    case PictureWarning::changedWhileRead:
      return "changed while it was read (the output is of what was read)";
    case PictureWarning::exifDamaged:
      return "EXIF block damaged (left out of the output)";
    case PictureWarning::exifTooLarge:
      return "EXIF block larger than a JPEG holds (left out of the output)";
  }
  return "unknown";
}

std::string_view exifCarriedText(ExifCarried exif) {
  switch (exif) {
    case ExifCarried::none:
      return "none";
    case ExifCarried::kept:
      return "EXIF";
    case ExifCarried::keptWithoutGps:
      return "EXIF without GPS";
  }
  return "unknown";
}

}  // namespace pixmoor::batch
