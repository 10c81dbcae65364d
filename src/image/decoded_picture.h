// What a picture reader hands back: the raster it filled, the depth the
// source stored its pixels at (the default output depth when saving) and
// the source's colour profile, which outputs carry.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "image/raster.h"

namespace pixmoor::image {

struct DecodedPicture {
  std::unique_ptr<Raster> raster;
  int sourceDepth = 0;  // bits per pixel as stored by the source
  bool isIcon = false;  // built from an icon container entry
  bool partial = false; // the data ended or broke before every row arrived
  std::vector<std::uint8_t> iccProfile;  // ICC profile bytes, empty when none
};

}  // namespace pixmoor::image
