// Reading a picture file's header alone: its upright size and what the
// loader would make of it, without decoding a pixel (a plan of thousands of
// pictures reads a few kilobytes of each).
//
// The file is opened and its format chosen exactly as loadPicture does
// (load_picture.h), and the format's own reader reads it, stopping once it
// has taken the header: the same checks, the same refusals, the same memory
// budget for the same request. Only what the pixel data alone shows (a
// broken row, a bad checksum) is not seen, so a picture planned as loaded
// may still fail to load, and its load then says it took the same header.
// Icons, small by nature, are read whole by the icon reader. The file is
// hostile: nothing is read outside it. Pure function of the file and the
// request; any thread.
#pragma once

#include <string>

#include "codecs/load_picture.h"

namespace pixmoor::image {

struct PictureHeader {
  LoadStatus status = LoadStatus::unreadable;  // loaded: the sides below are set
  int width = 0;                               // as the loaded picture would be (upright)
  int height = 0;
  bool isIcon = false;  // an icon container: shown, never resampled or saved
  // The load reduces it while it decodes (to the request's ReduceTo size);
  // else it hands back the whole picture at this depth.
  bool reduced = false;
  int rasterDepth = 24;
  std::vector<std::uint8_t> exif;  // the source's EXIF block, as the load hands it over
};

PictureHeader probePictureFile(const std::string& path, const LoadRequest& request = {});

}  // namespace pixmoor::image
