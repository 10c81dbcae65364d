#include "companion/trash.h"

#include <gio/gio.h>

namespace pixmoor::companion {

TrashResult moveToTrash(const std::string& path) {
  TrashResult result;
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
