// The desktop's Trash (the freedesktop.org Trash, through GLib's GIO): a
// file moved there keeps its name and folder in a .trashinfo record, so any
// file manager can put it back.
//
// Callable from any thread. A refusal (no Trash on that file system, no
// permission) is a value with GIO's message, or trashRefusal's when that
// finds no Trash first (trash_folder.h); the file then stays untouched.
#pragma once

#include <string>

namespace pixmoor::companion {

struct TrashResult {
  bool moved = false;
  std::string message;  // why not, when not moved
};

TrashResult moveToTrash(const std::string& path);

}  // namespace pixmoor::companion
