#include "companion/trash.h"

#include <gio/gio.h>

#include "companion/trash_folder.h"

namespace pixmoor::companion {

TrashResult moveToTrash(const std::string& path) {
  TrashResult result;
  // What the plan foresaw: a Trash it found no way to is not tried.
  if (auto refusal = trashRefusal(path)) {
    result.message = std::move(*refusal);
    return result;
  }
  // Paths are bytes on Linux: GIO takes the name as it is, in any encoding.
  GFile* file = g_file_new_for_path(path.c_str());
  GError* error = nullptr;
  result.moved = g_file_trash(file, nullptr, &error) != FALSE;
  if (error != nullptr) {
    result.message = error->message;
    g_error_free(error);
  }
  g_object_unref(file);
  return result;
}

}  // namespace pixmoor::companion
