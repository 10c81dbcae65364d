// Drop intake: turns the paths of one drop into the BatchJob.
//
// A drop of exactly one existing folder takes that folder's pictures (not
// those of its subfolders, unless asked for: see FolderDepth); any other drop takes each dropped path whose
// extension is accepted, unchanged and without an existence test. The drop
// stays a list of paths: a Linux file name may hold a line feed, so nothing
// is ever joined into or split from one text. Reports nothing; a folder that
// cannot be listed gives no path. Reads the file system only; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "image/picture_format.h"

namespace pixmoor::batch {

using BatchJob = std::vector<std::string>;

enum class FolderDepth {
  ownPictures,     // the folder's own pictures, in the file system's listing order
  withSubfolders,  // also those of its subfolders, at any depth, in a stable order: each
                   // folder's pictures, then its subfolders, each in byte order of the
                   // names; links to folders are not followed and no folder is listed twice
};

// The pictures of a drop, in drop order (files) or as `depth` says (one
// folder): the names `formats` take (the window's by default).
BatchJob intakeDrop(const std::vector<std::string>& paths, FolderDepth depth = FolderDepth::ownPictures,
                    image::FormatSet formats = image::FormatSet::window);

// The extension of a name as the intake compares it: "." and the text after
// the last "." when no "/" follows that dot, ASCII lower-cased; "." when
// there is no such dot.
std::string intakeExtension(std::string_view name);

// True for the extensions the format registry gives `formats`: for the
// window ".jpg", ".jpeg", ".jp2", ".bmp", ".png" and ".tif".
bool acceptedExtension(std::string_view extension, image::FormatSet formats = image::FormatSet::window);

// True when `path` names an existing folder (links followed). An empty text
// is not a folder; trailing "/" are ignored, so "/" itself is a folder.
bool isFolder(const std::string& path);

}  // namespace pixmoor::batch
