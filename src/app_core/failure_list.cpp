#include "app_core/failure_list.h"

namespace pixmoor::app {

namespace {

// What a person sees of a path: the name after its last "/".
std::string fileName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

const std::string& reasonText(const texts::UiTexts& texts, batch::FailureReason reason) {
  using batch::FailureReason;
  static const std::string kNone;
  switch (reason) {
    case FailureReason::none:
      return kNone;
    case FailureReason::unreadable:
      return texts.reasonUnreadable;
    case FailureReason::unknownFormat:
      return texts.reasonUnknownFormat;
    case FailureReason::unsupported:
      return texts.reasonUnsupported;
    case FailureReason::tooLargeForMemory:
      return texts.reasonTooLargeForMemory;
    case FailureReason::noSize:
      return texts.reasonNoSize;
    case FailureReason::resampleFailed:
      return texts.reasonResampleFailed;
    case FailureReason::noOutputFormat:
      return texts.reasonNoOutputFormat;
    case FailureReason::writeFailed:
      return texts.reasonWriteFailed;
    case FailureReason::writeProtected:
      return texts.reasonWriteProtected;
    case FailureReason::folderNotWritable:
      return texts.reasonFolderNotWritable;
    case FailureReason::notAFile:
      return texts.reasonNotAFile;
    case FailureReason::linkRefused:
      return texts.reasonLinkRefused;
    case FailureReason::nameTooLong:
      return texts.reasonNameTooLong;
    case FailureReason::diskFull:
      return texts.reasonDiskFull;
    case FailureReason::stopped:
      return texts.reasonStopped;
    case FailureReason::wouldReplaceAnother:
      return texts.reasonWouldReplaceAnother;
    case FailureReason::notTrashed:
      return texts.reasonNotTrashed;
    case FailureReason::trashedNotReplaced:
      return texts.reasonTrashedNotReplaced;
    case FailureReason::incomplete:
      return texts.reasonIncomplete;
    case FailureReason::changedWhileRead:
      return texts.reasonChangedWhileRead;
    case FailureReason::damaged:
      return texts.reasonDamaged;
    case FailureReason::notConfined:
      return texts.reasonNotConfined;
    case FailureReason::sandboxViolation:
      return texts.reasonSandboxViolation;
    case FailureReason::timedOut:
      return texts.reasonTimedOut;
    case FailureReason::tooManyOpenFiles:
      return texts.reasonTooManyOpenFiles;
    case FailureReason::alreadySmall:  // the companion's alone: the window never asks for them
    case FailureReason::exists:
    case FailureReason::cannotFit:
    case FailureReason::tooLargeForFormat:
      break;
  }
  return kNone;
}

std::string failureListText(const std::vector<batch::PictureFailure>& failures, const texts::UiTexts& texts) {
  std::string lines;
  std::size_t count = 0;
  for (const batch::PictureFailure& failure : failures) {
    if (failure.reason == batch::FailureReason::stopped || failure.reason == batch::FailureReason::none) {
      continue;
    }
    ++count;
    lines += "\n" + fileName(failure.sourcePath) + texts.failureSeparator + reasonText(texts, failure.reason);
  }
  if (count == 0) return {};
  return std::to_string(count) + (count == 1 ? texts.failuresHeadingOne : texts.failuresHeadingMany) + lines;
}

}  // namespace pixmoor::app
