// Reading a picture file's header alone: its upright size and what the
// loader would make of it, without decoding a pixel (a plan of thousands of
// pictures reads a few kilobytes of each).
//
// The content decides, in the loader's order: "BM" a BMP file, 0 0 1 0 an
// icon container, then JPEG and PNG. The answers follow the readers' own
// header rules (sides above 32767 refused as Unsupported, the JPEG's EXIF
// orientation turning the sides, a BMP that cannot hold its rows refused);
// what only the pixel data can show (a broken row, a bad checksum) is not
// seen, so a picture planned as Loaded may still fail to load. Icons, small
// by nature, are read whole by the icon reader. The file is hostile: nothing
// is read outside it. Pure function of the file; any thread.
#pragma once

#include <string>

#include "image/image_store.h"

namespace pixmoor::image {

struct PictureHeader {
  LoadStatus status = LoadStatus::unreadable;  // Loaded: the sides below are set
  int width = 0;                               // as the loaded Image would be (upright)
  int height = 0;
  bool isIcon = false;  // an icon container: shown, never resampled or saved
};

PictureHeader probePictureFile(const std::string& path);

}  // namespace pixmoor::image
