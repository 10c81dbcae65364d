#include "companion/trash_folder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "files/link_target.h"

namespace pixmoor::companion {
namespace {

std::string errorText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

std::string homeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
    return found->pw_dir;
  return {};
}

// $XDG_DATA_HOME/Trash; a relative XDG_DATA_HOME counts as unset.
std::string homeTrashPath(const std::string& home) {
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/')
    return std::string(data) + "/Trash";
  return home.empty() ? std::string() : home + "/.local/share/Trash";
}

bool isOurFolder(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid();
}

bool isFolder(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool mayMakeIn(const std::string& folder) {
  return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

// Makes `path` and the folders above it that are missing, each for us
// alone, or (not `make`) answers whether that would succeed: 0 or the error.
int makeFolders(const std::string& path, MakeMissing make) {
  if (isFolder(path)) return 0;
  if (make == MakeMissing::yes) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
      const std::string part = path.substr(0, slash);
      if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return errno;
      if (slash == std::string::npos) break;
    }
    return isFolder(path) ? 0 : ENOTDIR;
  }
  // The deepest part of the way that is there decides.
  std::string existing = path;
  struct stat status {};
  while (::stat(existing.c_str(), &status) != 0) {
    if (errno != ENOENT) return errno;
    existing = files::folderOf(existing);
  }
  if (!S_ISDIR(status.st_mode)) return ENOTDIR;
  return existing == path || mayMakeIn(existing) ? 0 : errno;
}

// The device a folder is on, or would be on once made.
dev_t deviceOf(std::string folder) {
  struct stat status {};
  while (::stat(folder.c_str(), &status) != 0 && folder != "/") folder = files::folderOf(folder);
  return status.st_dev;
}

// The topmost folder of `folder` (a real, absolute path) on device `device`.
std::string mountPointOf(std::string folder, dev_t device) {
  while (folder != "/") {
    const std::string parent = files::folderOf(folder);
    struct stat status {};
    if (::stat(parent.c_str(), &status) != 0 || status.st_dev != device) break;
    folder = parent;
  }
  return folder;
}

// A per-user Trash folder that is ours and no link, made when missing.
bool usableOrMade(const std::string& path, MakeMissing make) {
  if (isOurFolder(path)) return true;
  if (make == MakeMissing::yes) return ::mkdir(path.c_str(), 0700) == 0 && isOurFolder(path);
  struct stat status {};
  return ::lstat(path.c_str(), &status) != 0 && errno == ENOENT && mayMakeIn(files::folderOf(path));
}

// The Trash folder itself, before its files/ and info/.
TrashFolder chooseFolder(const std::string& realFolder, dev_t device, MakeMissing make) {
  TrashFolder trash;
  const std::string home = homeFolder();
  const std::string homeTrash = homeTrashPath(home);
  struct stat status {};
  const bool onHome =
      (!home.empty() && ::stat(home.c_str(), &status) == 0 && status.st_dev == device) ||
      (!homeTrash.empty() && ::stat(homeTrash.c_str(), &status) == 0 && status.st_dev == device);
  if (onHome) {
    if (const int error = makeFolders(homeTrash, make); error != 0) {
      trash.why = "cannot make the Trash folder " + homeTrash + ": " + errorText(error);
    } else if (deviceOf(homeTrash) != device) {
      trash.why = "the Trash folder " + homeTrash + " is on another file system";
    } else {
      trash.path = homeTrash;
    }
    return trash;
  }
  trash.topdir = mountPointOf(realFolder, device);
  const std::string top = trash.topdir == "/" ? std::string() : trash.topdir;
  const std::string uid = std::to_string(::geteuid());
  // The administrator's shared .Trash counts only when sticky and no link.
  const std::string shared = top + "/.Trash";
  if (::lstat(shared.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX) != 0 &&
      usableOrMade(shared + "/" + uid, make)) {
    trash.path = shared + "/" + uid;
    return trash;
  }
  if (usableOrMade(top + "/.Trash-" + uid, make)) {
    trash.path = top + "/.Trash-" + uid;
    return trash;
  }
  trash.why = "no Trash can be made on the file system of " + trash.topdir;
  return trash;
}

}  // namespace

TrashFolder trashFolderFor(const std::string& realFolder, dev_t device, MakeMissing make) {
  TrashFolder trash = chooseFolder(realFolder, device, make);
  if (trash.path.empty()) return trash;
  const bool made = isFolder(trash.path);
  for (const char* part : {"/info", "/files"}) {
    const std::string folder = trash.path + part;
    if (isFolder(folder) || (!made && make == MakeMissing::no)) continue;
    struct stat status {};
    const bool taken = ::lstat(folder.c_str(), &status) == 0;
    int error = 0;
    if (taken) {
      // Another thread (or program) may have made it since we looked.
      if (!isFolder(folder)) error = ENOTDIR;
    } else if (make == MakeMissing::yes) {
      if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) error = errno;
      if (error == 0 && !isFolder(folder)) error = ENOTDIR;
    } else if (!mayMakeIn(trash.path)) {
      error = errno;
    }
    if (error != 0) {
      trash.why = "cannot make the Trash folder " + folder + ": " + errorText(error);
      trash.path.clear();
      return trash;
    }
  }
  return trash;
}

std::optional<std::string> trashRefusal(const std::string& path) {
  struct stat file {};
  if (::lstat(path.c_str(), &file) != 0) return "cannot read it: " + errorText(errno);
  char real[PATH_MAX];
  if (::realpath(files::folderOf(path).c_str(), real) == nullptr) return errorText(errno);
  const TrashFolder trash = trashFolderFor(real, file.st_dev, MakeMissing::no);
  if (trash.path.empty()) return trash.why;
  return std::nullopt;
}

}  // namespace pixmoor::companion
