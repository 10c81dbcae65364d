// Whether the desktop's Trash can take a file now, without moving it: the
// folder GIO's g_file_trash would move it to (the freedesktop.org rules:
// the home Trash for a file on the home's file system, else the top folder
// of its own file system, .Trash/$uid or .Trash-$uid), and whether that
// folder is there or can be made, on the file's file system. The plan asks
// it of every original it would send to the Trash, and moveToTrash asks it
// first, so that the two agree.
//
// Reads the environment ($HOME, $XDG_DATA_HOME) and the file system only;
// any thread. The answer is a value: nothing when the Trash can take the
// file, else why not, in words for a person.
#pragma once

#include <optional>
#include <string>

namespace pixmoor::companion {

std::optional<std::string> trashRefusal(const std::string& path);

}  // namespace pixmoor::companion
