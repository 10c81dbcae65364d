// The per-picture pipeline: one source picture in, at most one output file.
//
// Runs on the thread that owns `store` (the batch worker): load the source
// as picture 55, measure it, publish the output path, take the target size,
// resample (skipped when the size already matches), save with the encoder
// of the output format, release picture 55 whatever happened. A picture that
// cannot be decoded, sized, resampled or written writes nothing and loses
// nothing (an existing file of the output name stays as it was); the reason
// comes back in the outcome. `cancel` reaches resample and save: once it is
// raised the picture is abandoned without output and reported as stopped.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "batch/picture_outcome.h"
#include "image/image_store.h"
#include "settings/settings.h"

namespace pixmoor::batch {

// Quality value handed to the PNG encoder.
inline constexpr int kPngQuality = 7;

// Called with the output path as soon as it is known (the progress line
// shows it); may be empty.
using OutputPathSink = std::function<void(const std::string&)>;

// `settings` is the consistent copy taken for this picture. Its prefix is
// used as given: the drop handling has already turned "0" into "".
PictureOutcome processPicture(image::ImageStore& store, const std::string& sourcePath,
                              const settings::Settings& settings, const OutputPathSink& publishOutputPath,
                              const image::CancelFlag* cancel = nullptr);

// The same pipeline in two halves, so that the batch can write one picture
// while it reads the next. preparePicture does everything up to the save
// and hands over the resampled raster (picture 55 is released either way);
// writePreparedPicture saves it and may run on another thread.
// processPicture is exactly preparePicture followed by writePreparedPicture.
struct PreparedPicture {
  PictureOutcome outcome;  // reason none: `raster` is ready to be written
  std::unique_ptr<image::Raster> raster;
  int sourceDepth = 0;
  std::vector<std::uint8_t> iccProfile;  // the source's colour profile, written into the output
  std::uint32_t encoder = 0;
  int quality = 0;
};

PreparedPicture preparePicture(image::ImageStore& store, const std::string& sourcePath,
                               const settings::Settings& settings, const OutputPathSink& publishOutputPath,
                               const image::CancelFlag* cancel = nullptr);

// Saves a prepared picture to its output path; answers the reason (none
// when written). A picture that was not ready answers its own reason.
FailureReason writePreparedPicture(const PreparedPicture& picture, const image::CancelFlag* cancel = nullptr);

}  // namespace pixmoor::batch
