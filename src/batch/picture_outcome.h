// What became of one picture of a batch, and why a picture produced no file.
//
// Plain values: the pipeline answers them, the runner collects the failures
// of each batch, the command-line companion prints them with the warnings of
// the pictures written, and the window lists them in its information area.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pixmoor::batch {

enum class FailureReason {
  none,                 // the output file was written
  unreadable,           // the source could not be opened or read whole
  unknownFormat,        // no reader recognised the content (.tif, .jp2, anything else)
  unsupported,          // recognised but unusable (a side above 32767, too many pixels)
  tooLargeForMemory,    // decoding or resampling it would exceed the batch's memory budget, or
                        // memory ran out while it was encoded
  noSize,               // the size settings give no usable target (zero, negative or too large a side)
  resampleFailed,       // resampling gave up (no memory, or an Image that cannot be resampled)
  noOutputFormat,       // the output format setting is neither "JPG" nor "PNG"
  writeFailed,          // the output could not be created or written; nothing was left behind
  writeProtected,       // the output's name holds a file we may not write (no prefix: the source itself)
  folderNotWritable,    // the output's folder lets us make no file
  notAFile,             // the output's name holds a folder, a FIFO or a device
  linkRefused,          // the output's name is a link not followed: dangling, or another user's (no prefix:
                        // the source is such a link)
  nameTooLong,          // the output's name is longer than its file system takes
  diskFull,             // the output's file system has no room left (or the user's quota is used up)
  stopped,              // the batch was stopped before this picture was finished
  wouldReplaceAnother,  // no prefix, and the output's name holds a file other than the source
  notTrashed,           // the source was to go to the Trash first and could not: it stays untouched
  trashedNotReplaced,   // the source went to the Trash, then the output could not take its name
  incomplete,           // its data ended or broke off early: without a prefix it would replace the
                        // source with a broken picture, and with one not a row of it decoded
  changedWhileRead,     // without a prefix: its size or time changed while it was read (still being
                        // written, say), so its output may not replace it
  damaged,              // the decode helper reading it crashed, broke its limits or sent malformed data
  notConfined,          // the decode helper for it could not confine itself, so it was never read
  sandboxViolation,     // the decode helper reading it tried a call its filter forbids, and was killed
  timedOut,             // the decode helper reading it did not finish within the picture's time
  tooManyOpenFiles,     // the process had no descriptor left to read or write it (ulimit -n)
  // The companion's own; the window never asks for what gives them.
  alreadySmall,       // not a failure: with --shrink-only, no prefix and its own format, the source already
                      // within the target is left untouched
  exists,             // not a failure: --if-exists skip, and the output's name holds a file, left as it is
  cannotFit,          // --max-bytes: not even at 16 pixels and the lowest quality does it fit
  tooLargeForFormat,  // a side of the output beyond what its format holds (WebP: 16383)
};

// Something a user should know of a picture that was written.
enum class PictureWarning {
  truncated,         // its data ended or broke early: the missing part of the output is filled in
  changedWhileRead,  // its size or time changed while it was read: the output is of what was read
  exifDamaged,       // its EXIF block was to be kept, but failed the checks: the output has none
  exifTooLarge,      // its EXIF block was to be kept, but is larger than a JPEG segment holds: left out
};

// The EXIF an output carries (the companion's --metadata).
enum class ExifCarried {
  none,            // none asked, or the source has none (or none usable)
  kept,            // the source's, fitted to the output
  keptWithoutGps,  // the same, its GPS directory removed
};

struct PictureOutcome {
  FailureReason reason = FailureReason::none;
  std::string outputPath;  // as published while the picture was in progress
  int sourceWidth = 0;     // the loaded picture, upright; 0 when it did not load
  int sourceHeight = 0;
  int outputWidth = 0;  // the target size; 0 when there is none
  int outputHeight = 0;
  std::uint64_t outputBytes = 0;  // the size of the file written
  std::vector<PictureWarning> warnings;
  ExifCarried exif = ExifCarried::none;

  int quality = -1;  // the quality a byte limit chose (0..10); -1 when none did

  bool written() const { return reason == FailureReason::none; }
  // No file, as asked: not a failure (the exit status and the counts tell it apart).
  bool leftAlone() const { return reason == FailureReason::alreadySmall || reason == FailureReason::exists; }
};

struct PictureFailure {
  std::string sourcePath;
  FailureReason reason = FailureReason::none;

  bool operator==(const PictureFailure&) const = default;
};

// A short English phrase for a reason ("unreadable", "unknown format", ...).
std::string_view failureReasonText(FailureReason reason);
// The same for a warning.
std::string_view warningText(PictureWarning warning);
// "none", "EXIF" or "EXIF without GPS".
std::string_view exifCarriedText(ExifCarried exif);

}  // namespace pixmoor::batch
