// The per-picture pipeline: one source picture in, at most one output file.
//
// Runs on any thread, each picture on one (a batch worker): load the source
// as a value (codecs/load_picture.h, with the readers of the program that
// runs the batch), measure it, publish the output path, take the target
// size, resample (skipped when the size already matches), save with the
// encoder of the output format. A picture that is reduced on the opaque
// path (JPEG, non-interlaced PNG, BMP) is reduced while it is decoded: the
// same pixels, and only the rows a target row needs are held. A picture that
// cannot be decoded, sized, resampled or written writes nothing and loses
// nothing (an existing file of the output name stays as it was); the reason
// comes back in the outcome. A picture whose data ended early is written
// with its missing part filled in, and the outcome warns of it (truncated);
// one whose file changed while it was read warns of that. Without a prefix
// neither may replace its source: such a picture fails (incomplete,
// changedWhileRead). With one, a picture of which not a row decoded fails as
// incomplete rather than be written as nothing but fill.
// `cancel` reaches load, resample and save: once it is raised the picture is
// abandoned without output and reported as stopped.
//
// The prefix "0" means no prefix, as the drop handling has it. Without a
// prefix an output replaces only the file it was made from: when its name
// holds any other file (another picture of the same base name, "a.JPEG"
// beside "a.jpg", or through a link a picture of another format: see
// output_rules.h), nothing is written and the reason is wouldReplaceAnother.
// That is judged when the file is put in place, so an output written
// earlier in the same batch counts as another file too.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "batch/output_choice.h"
#include "batch/output_metadata.h"
#include "batch/picture_outcome.h"
#include "codecs/load_picture.h"
#include "encoders/encode.h"
#include "files/replace_file.h"
#include "settings/settings.h"

namespace pixmoor::batch {

// Quality value handed to the PNG encoder.
inline constexpr int kPngQuality = 7;

// Called with the output path as soon as it is known (the progress line
// shows it); may be empty.
using OutputPathSink = std::function<void(const std::string&)>;

// `settings` is the consistent copy taken for this picture. A store made
// while a batch runs may have turned its empty prefix back into "0", which
// still means no prefix here. `cancel` also reaches the decode.
// `memoryBudget` bounds what the picture may take (the decode with the rows
// it holds, or the whole picture with its resampled copy); without one the
// machine's budget is taken now.
// Beyond it nothing is attempted and the reason is tooLargeForMemory.
// `formats` are the readers of the program running the batch. `metadata`
// says what the output keeps of the source beyond its pixels and profile
// (output_metadata.h; the window keeps nothing more). `choice` holds the
// companion's size rule, output folder, rule for an existing output and
// byte limit (output_choice.h; the window keeps the defaults):
//  - with shrinkOnly, a source already within its target, whose output
//    would be the source itself, is left untouched (alreadySmall);
//  - with an output folder the output never replaces its own source, and
//    the folders it needs are made when it is written;
//  - skip and rename never replace anything: judged when the output takes
//    its name, so that a file that came there meanwhile stays (exists, or
//    the next numbered name);
//  - a byte limit searches the quality, then the size (cannotFit below 16
//    pixels); the outcome then holds the quality and the size chosen.
PictureOutcome processPicture(const std::string& sourcePath, const settings::Settings& settings,
                              const OutputPathSink& publishOutputPath,
                              const image::CancelFlag* cancel = nullptr,
                              std::optional<std::uint64_t> memoryBudget = std::nullopt,
                              image::FormatSet formats = image::FormatSet::window,
                              const MetadataChoice& metadata = {}, const OutputChoice& choice = {});

// The same pipeline in two halves, so that the batch can write one picture
// while it reads the next. preparePicture does everything up to the save
// and hands over the resampled raster; writePreparedPicture saves it and may
// run on another thread.
// processPicture is exactly preparePicture followed by writePreparedPicture.
struct PreparedPicture {
  PictureOutcome outcome;  // reason none: `raster` is ready to be written
  std::unique_ptr<image::Raster> raster;
  int sourceDepth = 0;
  std::vector<std::uint8_t> iccProfile;  // the source's colour profile, written into the output
  std::vector<std::uint8_t> exif;        // the EXIF block the output carries, fitted to it; or none
  std::uint32_t encoder = 0;
  int quality = 0;
  // Without a prefix: only the source itself may be replaced. With the
  // dates kept: the times the output bears, the source's.
  files::ReplaceRule replaceRule;
  // The choice's rules for writing (output_choice.h).
  IfExists ifExists = IfExists::replace;
  bool inOutputFolder = false;
  std::uint64_t maxBytes = 0;
  // With a byte limit: the source's EXIF and the choice, fitted again to a
  // picture made smaller.
  std::vector<std::uint8_t> sourceExif;
  ExifChoice exifChoice = ExifChoice::none;

  // Whether the bytes must be made in memory before the write (a byte limit).
  bool encodesFirst() const { return maxBytes != 0; }
};

PreparedPicture preparePicture(const std::string& sourcePath, const settings::Settings& settings,
                               const OutputPathSink& publishOutputPath,
                               const image::CancelFlag* cancel = nullptr,
                               std::optional<std::uint64_t> memoryBudget = std::nullopt,
                               image::FormatSet formats = image::FormatSet::window,
                               const MetadataChoice& metadata = {}, const OutputChoice& choice = {});

// What the pipeline asks a reader once a picture's header is read: the
// target size the settings (and the size rule) give it, when they give one it writes.
image::ReduceTo reductionFor(const settings::Settings& settings, const SizeChoice& size = {});

// The reason a picture that did not load gives.
FailureReason loadFailure(image::LoadStatus status);

// What may be under the output's name when it is written: without a prefix
// its own source and nothing else, judged where the name leads (output_rules.h).
files::ReplaceRule replaceRuleFor(const std::string& sourcePath, const settings::Settings& settings,
                                  const OutputChoice& choice = {});

// Whether an output could be put under `outputPath` now: every check its
// write makes before it writes a byte (what the name holds, links and their
// owners, bits, the rule, the folder, the name's length), nothing written.
// none when the write would go ahead. A plan asks it, so that it says what
// the write then does.
FailureReason checkOutput(const std::string& outputPath, const files::ReplaceRule& rule);

// Whether a loaded raster of `rasterBytes` may be resampled to `target`
// within `budget`: the picture, its resampled copy and one more of that
// size (the filter's intermediate, or the encoder's flattened copy).
bool resampleFits(std::uint64_t rasterBytes, int targetWidth, int targetHeight, std::uint64_t budget);

// Saves a prepared picture to its output path; answers the reason (none
// when written, and then the file's size in `bytes` when given, and where
// it went in `writtenTo`: a numbered name under rename). A picture that was
// not ready answers its own reason. When the replace rule sets the old file
// aside and that is refused, the reason is notTrashed. A picture that
// encodesFirst() is encoded by encodePreparedPicture, then written.
FailureReason writePreparedPicture(PreparedPicture& picture, const image::CancelFlag* cancel = nullptr,
                                   std::uint64_t* bytes = nullptr, std::string* writtenTo = nullptr);

// Encodes a prepared picture into `bytes` instead: exactly the bytes
// writePreparedPicture would write, and nothing touches the disk. Under a
// byte limit the search happens here: the outcome then holds the quality,
// and the size when the picture was made smaller (cannotFit when nothing fits).
FailureReason encodePreparedPicture(PreparedPicture& picture, std::vector<std::uint8_t>& bytes,
                                    const image::CancelFlag* cancel = nullptr);

// Writes what encodePreparedPicture made of the picture, exactly as
// writePreparedPicture would have (file, rule, Trash, answer).
FailureReason writeEncodedPicture(const PreparedPicture& picture, std::span<const std::uint8_t> encoded,
                                  const image::CancelFlag* cancel = nullptr, std::uint64_t* bytes = nullptr,
                                  std::string* writtenTo = nullptr);

// The smallest picture a byte limit makes: its longer side, in pixels.
inline constexpr int kSmallestFittedSide = 16;

}  // namespace pixmoor::batch
