// The desktop's Trash, laid out as the freedesktop.org Trash standard
// says, so that any file manager lists what went there and puts it back
// under its old name and folder: each file sits in the Trash's files/ beside
// a record in info/ (NAME.trashinfo: where it came from, when).
//
// A file goes to the Trash of its own file system, by a rename (never a
// copy): the home Trash ($XDG_DATA_HOME/Trash, by default
// ~/.local/share/Trash) for the home's file system, otherwise the one at
// the top folder of its file system ($topdir/.Trash/$uid where the
// administrator made a sticky .Trash, else $topdir/.Trash-$uid). The
// choice is trash_folder's, which the plan asks too (trashRefusal).
//
// The record is written and synced before the file moves in, both folders
// are synced after. A run killed in between leaves a record without its
// file, or (when the file moved in was a second name of one that keeps its
// own) an entry of a file still in place: the next move of that file takes
// either over rather than add a second entry.
//
// Callable from any thread. A refusal (no Trash on that file system, no
// permission) is a value with the reason; the file then stays where it was.
#pragma once

#include <string>

namespace pixmoor::companion {

struct TrashEntry {
  std::string file;  // in files/
  std::string info;  // its record in info/
};

struct TrashResult {
  bool moved = false;
  std::string message;  // why not, when not moved
  TrashEntry entry;     // where it went, when moved
};

// Moves `path` into the Trash, recorded as coming from `restoreTo` and named
// after it: a file of the same folder that `path` is a second name of
// (hidden while the file under `restoreTo` is replaced), or `path` itself.
TrashResult moveToTrash(const std::string& path, const std::string& restoreTo);

// Removes an entry that moveToTrash made, the file first (a record alone
// lists nothing): true when both are gone.
bool removeFromTrash(const TrashEntry& entry);

}  // namespace pixmoor::companion
