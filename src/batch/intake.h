// Drop intake: turns the paths of one drop into the BatchJob, and says what
// it left out.
//
// A drop of exactly one existing folder takes that folder's pictures (not
// those of its subfolders, unless asked for: see FolderDepth); any other drop takes each dropped path whose
// extension is accepted, unchanged and without an existence test. The drop
// stays a list of paths: a Linux file name may hold a line feed, so nothing
// is ever joined into or split from one text. A folder that cannot be listed
// gives no path. What the drop left out that a user would miss (a folder
// beside other paths, a path that names nothing, a folder that cannot be
// read) comes back as data beside the job; the window ignores it. A file
// whose name has no accepted extension is passed over without a word.
//
// The companion's rules (IntakeRules) also look at each path of a drop of
// several: a folder or a path that names nothing is left out with its
// reason even when its name is accepted. They never take anything from a
// Trash (the home Trash, and every folder named ".Trash" or ".Trash-N": a
// mount's), and the walk of a tree enters hidden folders only when asked.
// Hidden files are taken, as a drop takes them.
//
// Reads the file system only; any thread.
#pragma once

#include <algorithm>
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

// Why a path of a drop, or one met in a folder, was left out.
enum class SkipReason {
  notFound,           // the path names nothing (or a dangling link)
  folderAmongOthers,  // a folder given beside other paths: a drop walks one folder alone
  unreadableFolder,   // a folder that cannot be listed whole (its permissions, an I/O error)
  inaccessible,       // the path cannot be looked at (a folder on the way we may not search)
  pathTooLong,        // longer than the system lets a path be (PATH_MAX)
  inTrash,            // a Trash folder, or a path inside one
  // The output folder met inside the folder walked: its pictures are
  // outputs, never sources. Said, but no failure: the run leaves it as asked.
  outputFolder,
};

struct SkippedPath {
  std::string path;
  SkipReason reason = SkipReason::notFound;

  bool operator==(const SkippedPath&) const = default;
};

struct Intake {
  BatchJob job;
  std::vector<SkippedPath> skipped;  // in the order met

  // The paths left out that make the run's status a failure.
  std::size_t failingSkips() const {
    return static_cast<std::size_t>(
        std::count_if(skipped.begin(), skipped.end(),
                      [](const SkippedPath& path) { return path.reason != SkipReason::outputFolder; }));
  }
};

// How a drop is taken. The defaults are the window's drop; the companion
// sets the rest.
struct IntakeRules {
  FolderDepth depth = FolderDepth::ownPictures;
  image::FormatSet formats = image::FormatSet::window;  // whose file names are taken
  // Each path of a drop of several is looked at: only existing non-folders
  // are taken; and nothing is taken from a Trash.
  bool lookAtEachPath = false;
  // withSubfolders: also enter folders whose name starts with ".".
  bool hiddenFolders = false;
  // Trash folders known by where they are (the home Trash: wherever
  // XDG_DATA_HOME puts it), beside those known by their names.
  std::vector<std::string> trashFolders;
  // withSubfolders: folders never entered, known by where they are (the
  // run's output folder, whose pictures are its own outputs).
  std::vector<std::string> foldersNotEntered;
};

Intake takeDrop(const std::vector<std::string>& paths, const IntakeRules& rules);

// The pictures of a drop, in drop order (files) or as `depth` says (one
// folder): the names `formats` take (the window's by default). The window's
// rules, what was left out forgotten.
BatchJob intakeDrop(const std::vector<std::string>& paths, FolderDepth depth = FolderDepth::ownPictures,
                    image::FormatSet formats = image::FormatSet::window);

// A short English phrase for a reason ("does not exist", ...).
std::string_view skipReasonText(SkipReason reason);

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

// True for the name of a Trash folder at the top of a mount (".Trash" and
// ".Trash-" followed by a user number), wherever it is met.
bool isTrashFolderName(std::string_view name);

}  // namespace pixmoor::batch
