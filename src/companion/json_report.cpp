#include "companion/json_report.h"

#include <nlohmann/json.hpp>

namespace pixmoor::companion {
namespace {

using Json = nlohmann::ordered_json;

bool continuation(unsigned char byte, unsigned char low = 0x80, unsigned char high = 0xBF) {
  return byte >= low && byte <= high;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

Json optionalNumber(const std::optional<std::uint64_t>& value) {
  return value ? Json(*value) : Json(nullptr);
}

Json sideOrNull(int side) {
  return side > 0 ? Json(side) : Json(nullptr);
}

}  // namespace

std::size_t utf8SequenceLength(std::string_view bytes) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = at(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (bytes.size() < length || !continuation(at(1), low, high)) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!continuation(at(i))) return 0;
  }
  return length;
}

std::string pathText(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size());
  while (!bytes.empty()) {
    const std::size_t length = utf8SequenceLength(bytes);
    if (length == 0) {
      const auto byte = static_cast<unsigned char>(bytes.front());
      text += "\\x";
      text += kHex[byte >> 4];
      text += kHex[byte & 0x0F];
      bytes.remove_prefix(1);
    } else {
      if (bytes.front() == '\\') text += '\\';
      text += bytes.substr(0, length);
      bytes.remove_prefix(length);
    }
  }
  return text;
}

std::optional<std::string> pathBytes(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      bytes += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == '\\') {
      bytes += '\\';
      ++i;
    } else if (i + 3 < text.size() && text[i + 1] == 'x' && hexValue(text[i + 2]) >= 0 &&
               hexValue(text[i + 3]) >= 0) {
      bytes += static_cast<char>(hexValue(text[i + 2]) * 16 + hexValue(text[i + 3]));
      i += 3;
    } else {
      return std::nullopt;
    }
  }
  return bytes;
}

std::string_view reasonCode(batch::FailureReason reason) {
  using batch::FailureReason;
  switch (reason) {
    case FailureReason::none:
      return "none";
    case FailureReason::unreadable:
      return "unreadable";
    case FailureReason::unknownFormat:
      return "unknown-format";
    case FailureReason::unsupported:
      return "unsupported";
    case FailureReason::tooLargeForMemory:
      return "too-large-for-memory";
    case FailureReason::noSize:
      return "no-size";
    case FailureReason::resampleFailed:
      return "resample-failed";
    case FailureReason::noOutputFormat:
      return "no-output-format";
    case FailureReason::writeFailed:
      return "write-failed";
    case FailureReason::writeProtected:
      return "write-protected";
    case FailureReason::folderNotWritable:
      return "folder-not-writable";
    case FailureReason::notAFile:
      return "not-a-file";
    case FailureReason::linkRefused:
      return "link-refused";
    case FailureReason::nameTooLong:
      return "name-too-long";
    case FailureReason::diskFull:
      return "disk-full";
    case FailureReason::stopped:
      return "stopped";
    case FailureReason::wouldReplaceAnother:
      return "would-replace-another";
    case FailureReason::notTrashed:
      return "not-trashed";
    case FailureReason::trashedNotReplaced:
      return "trashed-not-replaced";
    case FailureReason::incomplete:
      return "incomplete";
    case FailureReason::changedWhileRead:
      return "changed-while-read";
    case FailureReason::damaged:
      return "damaged";
    case FailureReason::notConfined:
      return "not-confined";
    case FailureReason::sandboxViolation:
      return "sandbox-violation";
    case FailureReason::timedOut:
      return "timed-out";
    case FailureReason::tooManyOpenFiles:
      return "too-many-open-files";
    case FailureReason::alreadySmall:
      return "already-small";
    case FailureReason::exists:
      return "exists";
    case FailureReason::cannotFit:
      return "cannot-fit";
    case FailureReason::tooLargeForFormat:
      return "too-large-for-format";
  }
  return "unknown";
}

std::string_view warningCode(batch::PictureWarning warning) {
  switch (warning) {
    case batch::PictureWarning::truncated:
      return "truncated";
    case batch::PictureWarning::changedWhileRead:
      return "changed-while-read";
    case batch::PictureWarning::exifDamaged:
      return "exif-damaged";
    case batch::PictureWarning::exifTooLarge:
      return "exif-too-large";
  }
  return "unknown";
}

std::string_view exifCode(batch::ExifCarried exif) {
  switch (exif) {
    case batch::ExifCarried::none:
      return "none";
    case batch::ExifCarried::kept:
      return "exif";
    case batch::ExifCarried::keptWithoutGps:
      return "exif-without-gps";
  }
  return "unknown";
}

std::string_view skipReasonCode(batch::SkipReason reason) {
  using batch::SkipReason;
  switch (reason) {
    case SkipReason::notFound:
      return "not-found";
    case SkipReason::folderAmongOthers:
      return "folder-among-others";
    case SkipReason::unreadableFolder:
      return "unreadable-folder";
    case SkipReason::inaccessible:
      return "inaccessible";
    case SkipReason::pathTooLong:
      return "path-too-long";
    case SkipReason::inTrash:
      return "in-trash";
    case SkipReason::outputFolder:
      return "output-folder";
  }
  return "unknown";
}

std::string skippedJson(const batch::SkippedPath& skipped) {
  Json object;
  object["type"] = "skipped";
  object["source"] = pathText(skipped.path);
  object["reason"] = skipReasonCode(skipped.reason);
  return object.dump();
}

std::string pictureJson(const PictureLine& line) {
  const batch::PictureOutcome& outcome = line.outcome;
  const bool written = outcome.written();
  Json object;
  object["type"] = "picture";
  object["source"] = pathText(line.source);
  object["output"] = outcome.outputPath.empty() ? Json(nullptr) : Json(pathText(outcome.outputPath));
  object["outcome"] = written               ? (line.planned ? "planned" : "written")
                      : outcome.leftAlone() ? "left"
                      : outcome.reason == batch::FailureReason::stopped ? "stopped"
                                                                        : "failed";
  object["reason"] = written ? Json(nullptr) : Json(reasonCode(outcome.reason));
  object["warnings"] = Json::array();
  if (written) {
    for (const batch::PictureWarning warning : outcome.warnings)
      object["warnings"].push_back(warningCode(warning));
  }
  object["metadata"] = written ? Json(exifCode(outcome.exif)) : Json(nullptr);
  object["source_width"] = sideOrNull(outcome.sourceWidth);
  object["source_height"] = sideOrNull(outcome.sourceHeight);
  object["output_width"] = sideOrNull(outcome.outputWidth);
  object["output_height"] = sideOrNull(outcome.outputHeight);
  object["quality"] = written && outcome.quality >= 0 ? Json(outcome.quality) : Json(nullptr);
  object["source_bytes"] = optionalNumber(line.sourceBytes);
  object["output_bytes"] = optionalNumber(line.outputBytes);
  object["milliseconds"] = line.milliseconds ? Json(*line.milliseconds) : Json(nullptr);
  switch (line.state) {
    case OutputState::unknown:
      object["output_state"] = nullptr;
      break;
    case OutputState::fresh:
      object["output_state"] = "new";
      break;
    case OutputState::exists:
      object["output_state"] = "exists";
      break;
    case OutputState::source:
      object["output_state"] = "source";
      break;
  }
  return object.dump();
}

std::string summaryJson(const Summary& summary) {
  Json object;
  object["type"] = "summary";
  object["dry_run"] = summary.dryRun;
  object["skipped"] = summary.skipped;
  object["pictures"] = summary.pictures;
  object[summary.dryRun ? "planned" : "written"] = summary.written;
  object["left"] = summary.left;
  object["failed"] = summary.failed;
  object["stopped"] = summary.stopped;
  object["source_bytes"] = summary.sourceBytes;
  object["output_bytes"] = optionalNumber(summary.outputBytes);
  object["milliseconds"] = summary.milliseconds;
  object["exit_status"] = summary.exitStatus;
  object["sandbox"] = summary.sandbox ? Json(*summary.sandbox) : Json();
  return object.dump();
}

}  // namespace pixmoor::companion
