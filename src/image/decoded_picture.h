// What a picture reader hands back: the raster it filled, the depth the
// source stored its pixels at (the default output depth when saving) and
// the source's colour profile, which outputs carry; or why it has none.
// Also how a caller asks for a picture reduced while it is decoded.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "image/raster.h"

namespace pixmoor::image {

// Why a reader answered no picture.
enum class DecodeFailure {
  unrecognised,  // not its format, or a header or data it cannot use
  tooLarge,      // a side above 32767 (or more pixels than the pixel limit)
  overBudget,    // the decode would hold more memory than its budget
  cancelled,     // the cancel flag was raised part-way
  // Recognised, but using what its reader refuses (a TIFF compression
  // outside the reader's list, sample sizes it does not take, an HDR
  // transfer curve).
  unsupportedFeature,
};

struct PictureSize {
  int width = 0;
  int height = 0;
};

// Asked once a picture's header has been read, with its upright size: the
// size the caller is going to resample it to, or nullopt when it will not.
// A reader that can hand its rows over one at a time then reduces them on
// the way (opaque pictures, both sides shrinking or equal, see
// resample/row_reducer.h); every other picture is decoded whole, and the caller
// resamples it as usual. Either way the pixels are the same.
using ReduceTo = std::function<std::optional<PictureSize>(int width, int height)>;

// The size `reduce` asks for a picture of `width` x `height`, when it is a
// reduction the rows can be streamed into: both sides positive, neither
// longer than the picture's, not both equal.
std::optional<PictureSize> reductionFor(const ReduceTo* reduce, int width, int height);

struct DecodedPicture {
  std::unique_ptr<Raster> raster;
  PictureSize source;                    // the upright picture's size, before any reduction
  int sourceDepth = 0;                   // bits per pixel as stored by the source
  bool isIcon = false;                   // built from an icon container entry
  bool partial = false;                  // the data ended or broke before every row arrived
  bool nothingDecoded = false;           // partial, and not one row came from its data: all is fill
  std::vector<std::uint8_t> iccProfile;  // ICC profile bytes, empty when none
  std::vector<std::uint8_t> exif;        // the source's EXIF block (a TIFF structure), empty when none
};

}  // namespace pixmoor::image
