// The --json report: one line holding one JSON object per picture, then a
// summary line. The JSON text itself (quoting, escapes) is the JSON
// library's; file names are first made valid UTF-8 by pathText, which is
// undone by pathBytes.
//
// Pure functions of their arguments; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "batch/intake.h"
#include "batch/picture_outcome.h"

namespace pixmoor::companion {

// A file name as valid UTF-8 text: every byte that is not part of a valid
// UTF-8 sequence becomes the four characters \xHH (upper-case hex), every
// backslash two backslashes; all else is kept.
std::string pathText(std::string_view bytes);

// The name's bytes back from pathText's text; nothing for text that
// pathText cannot have made.
std::optional<std::string> pathBytes(std::string_view text);

// Length of the valid UTF-8 sequence at the start of `bytes` (RFC 3629: no
// overlong forms, no surrogates, nothing above U+10FFFF); 0 when there is none.
std::size_t utf8SequenceLength(std::string_view bytes);

// The stable code of a reason in the report: "unknown-format", ...
std::string_view reasonCode(batch::FailureReason reason);
// The same for a warning of a picture written: "truncated".
std::string_view warningCode(batch::PictureWarning warning);
// The same for a path the intake left out: "not-found", ...
std::string_view skipReasonCode(batch::SkipReason reason);

// Whether the output's name is free, holds another file, or is the source.
enum class OutputState { unknown, fresh, exists, source };

struct PictureLine {
  std::string source;
  batch::PictureOutcome outcome;
  bool planned = false;  // a dry run: "planned" instead of "written"
  OutputState state = OutputState::unknown;
  std::optional<std::uint64_t> sourceBytes;
  std::optional<std::uint64_t> outputBytes;  // known when written, or planned exactly
  std::optional<double> milliseconds;
};

// One picture's object, without the line feed. `warnings` lists the codes
// of the warnings of a picture written or planned (empty when there is none).
std::string pictureJson(const PictureLine& line);

// One path left out: {"type": "skipped", "source", "reason"}, without the line feed.
std::string skippedJson(const batch::SkippedPath& skipped);

struct Summary {
  bool dryRun = false;
  std::uint64_t skipped = 0;  // paths left out before any picture
  std::uint64_t pictures = 0;
  std::uint64_t written = 0;  // planned, in a dry run
  std::uint64_t left = 0;     // left as they were, as asked (already-small, exists): no failure
  std::uint64_t failed = 0;
  std::uint64_t stopped = 0;
  std::uint64_t sourceBytes = 0;
  std::optional<std::uint64_t> outputBytes;
  double milliseconds = 0;
  int exitStatus = 0;
  // How the decode helpers were confined ("namespaces+seccomp" or
  // "seccomp"); none when no picture needed one.
  std::optional<std::string> sandbox;
};

std::string summaryJson(const Summary& summary);

}  // namespace pixmoor::companion
