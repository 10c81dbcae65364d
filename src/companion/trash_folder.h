// Which Trash folder takes a file, and whether it can take it now: one set
// of rules for moving a file there (moveToTrash, which makes what is
// missing) and for foreseeing that move without touching anything (the
// plan's trashRefusal), so that the two always agree.
//
// The rules: the home Trash ($XDG_DATA_HOME/Trash, by default
// ~/.local/share/Trash) for a file on the file system of the home or of
// that Trash; otherwise the top folder of the file's own file system, in
// $topdir/.Trash/$uid when the administrator made a sticky .Trash that is
// no link, else in $topdir/.Trash-$uid. A per-user Trash folder counts only
// when it is ours and no link. Its files/ and info/ folders are made when
// missing.
//
// Reads the environment ($HOME, $XDG_DATA_HOME) and the file system; any
// thread. Refusals are values, in words for a person.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace pixmoor::companion {

struct TrashFolder {
  std::string path;    // holds files/ and info/; empty when there is none
  std::string topdir;  // what a recorded path is relative to; empty: recorded absolute
  std::string why;     // why there is none
};

enum class MakeMissing { no, yes };

// The Trash folder for a file on `device` whose folder is `realFolder` (real
// and absolute). With MakeMissing::yes the folders that are missing are made;
// with no nothing is made, and `path` is given when the folders are there or
// could be made now.
TrashFolder trashFolderFor(const std::string& realFolder, dev_t device, MakeMissing make);

// Nothing when the Trash can take the file `path` now, else why not; it
// moves nothing and makes nothing.
std::optional<std::string> trashRefusal(const std::string& path);

}  // namespace pixmoor::companion
