// What a picture reader hands back: the raster it filled, the depth the
// source stored its pixels at (the default output depth when saving) and
// the source's colour profile, which outputs carry; or why it has none.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "image/raster.h"

namespace pixmoor::image {

// Why a reader answered no picture.
enum class DecodeFailure {
  unrecognised,  // not its format, or a header or data it cannot use
  tooLarge,      // a side above 32767 (or more pixels than the pixel limit)
  overBudget,    // the decode would hold more memory than its budget
  cancelled,     // the cancel flag was raised part-way
};

struct DecodedPicture {
  std::unique_ptr<Raster> raster;
  int sourceDepth = 0;                   // bits per pixel as stored by the source
  bool isIcon = false;                   // built from an icon container entry
  bool partial = false;                  // the data ended or broke before every row arrived
  std::vector<std::uint8_t> iccProfile;  // ICC profile bytes, empty when none
};

}  // namespace pixmoor::image
