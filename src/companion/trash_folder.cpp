#include "companion/trash_folder.h"

#include <fcntl.h>
#include <gio/gunixmounts.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "files/link_target.h"

namespace pixmoor::companion {
namespace {

using files::folderOf;

// The home folder as GLib takes it: $HOME, else the user's entry.
std::string homeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_dir != nullptr)
    return entry->pw_dir;
  return "/";
}

std::string userDataFolder() {
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data != '\0') return data;
  return homeFolder() + "/.local/share";
}

bool mayMakeIn(const std::string& folder) {
  return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

// Why `trash` (with its info and files folders) is neither there nor can be
// made on the file system `device`; nothing when it is, or can be.
std::optional<std::string> trashFolderRefusal(const std::string& trash, dev_t device) {
  // The deepest folder of the way that is there already.
  std::string existing = trash;
  bool missing = false;
  struct stat status {};
  while (::stat(existing.c_str(), &status) != 0) {
    if (errno != ENOENT || existing == folderOf(existing))
      return "cannot reach " + existing + ": " + std::strerror(errno);
    existing = folderOf(existing);
    missing = true;
  }
  if (!S_ISDIR(status.st_mode))
    return "cannot make the Trash folder " + trash + ": " + existing + " is not a folder";
  if (missing && !mayMakeIn(existing))
    return "cannot make the Trash folder " + trash + ": " + std::strerror(errno);
  if (status.st_dev != device) return "the Trash folder " + trash + " is on another file system";
  if (missing) return std::nullopt;
  for (const char* part : {"/info", "/files"}) {
    const std::string sub = trash + part;
    struct stat subStatus {};
    if (::stat(sub.c_str(), &subStatus) == 0) {
      if (!S_ISDIR(subStatus.st_mode))
        return "cannot use the Trash folder " + trash + ": " + sub + " is not a folder";
    } else if (!mayMakeIn(trash)) {
      return "cannot make " + sub + ": " + std::strerror(errno);
    }
  }
  return std::nullopt;
}

// The top folder of the file system that holds `folder` (links followed).
std::optional<std::string> mountPointOf(const std::string& folder) {
  char resolved[PATH_MAX];
  if (::realpath(folder.c_str(), resolved) == nullptr) return std::nullopt;
  std::string at = resolved;
  struct stat status {};
  if (::stat(at.c_str(), &status) != 0) return std::nullopt;
  while (at != "/") {
    const std::string parent = folderOf(at);
    struct stat parentStatus {};
    if (::stat(parent.c_str(), &parentStatus) != 0) return std::nullopt;
    if (parentStatus.st_dev != status.st_dev) break;
    at = parent;
  }
  return at;
}

// The mounts GIO never puts a Trash on: its own system-internal ones, and
// those marked x-gvfs-notrash.
bool systemMount(const std::string& top) {
  GUnixMountEntry* mount = g_unix_mount_at(top.c_str(), nullptr);
  if (mount == nullptr) return true;
  const char* options = g_unix_mount_get_options(mount);
  const bool internal = g_unix_mount_is_system_internal(mount) != FALSE ||
                        (options != nullptr && std::strstr(options, "x-gvfs-notrash") != nullptr);
  g_unix_mount_free(mount);
  return internal;
}

// The Trash at the top of another file system: the shared .Trash/$uid when
// .Trash is a sticky folder and that one is ours or can be made, else
// .Trash-$uid.
std::optional<std::string> topTrashRefusal(const std::string& path, dev_t device) {
  const auto top = mountPointOf(folderOf(path));
  if (!top) return "cannot find the top folder of its file system";
  if (systemMount(*top)) return "no Trash on a system's internal file system (" + *top + ")";
  const uid_t uid = ::geteuid();
  const std::string base = *top == "/" ? "" : *top;
  const auto ours = [uid](const std::string& folder, bool& exists) {
    struct stat status {};
    exists = ::lstat(folder.c_str(), &status) == 0;
    return exists && S_ISDIR(status.st_mode) && status.st_uid == uid;
  };
  const std::string shared = base + "/.Trash";
  struct stat sharedStatus {};
  if (::lstat(shared.c_str(), &sharedStatus) == 0 && S_ISDIR(sharedStatus.st_mode) &&
      (sharedStatus.st_mode & S_ISVTX) != 0) {
    const std::string trash = shared + "/" + std::to_string(uid);
    bool exists = false;
    if (ours(trash, exists) || (!exists && mayMakeIn(shared))) return trashFolderRefusal(trash, device);
  }
  const std::string trash = base + "/.Trash-" + std::to_string(uid);
  bool exists = false;
  if (ours(trash, exists) || (!exists && mayMakeIn(*top))) return trashFolderRefusal(trash, device);
  return "cannot find or make a Trash folder on its file system (" + trash + ")";
}

}  // namespace

std::optional<std::string> trashRefusal(const std::string& path) {
  struct stat file {};
  if (::lstat(path.c_str(), &file) != 0) return "cannot read it: " + std::string(std::strerror(errno));
  struct stat home {};
  if (::stat(homeFolder().c_str(), &home) != 0) return "no home folder";
  // Which file system the file is on, as GIO judges it: by its folder (a
  // file of an overlay file system has a device of its own).
  struct stat folder {};
  const dev_t device =
      !S_ISDIR(file.st_mode) && ::stat(folderOf(path).c_str(), &folder) == 0 ? folder.st_dev : file.st_dev;
  if (device == home.st_dev) return trashFolderRefusal(userDataFolder() + "/Trash", device);
  return topTrashRefusal(path, device);
}

}  // namespace pixmoor::companion
