#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "batch/intake.h"

namespace pixmoor::batch {
namespace {

using Identity = std::pair<dev_t, ino_t>;

struct DirCloser {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};

// Folder path + "/" + name, without doubling a "/" the folder already ends with.
std::string joinPath(const std::string& folder, const char* name) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path.push_back('/');
  path += name;
  return path;
}

bool isHidden(std::string_view name) {
  return !name.empty() && name.front() == '.';
}

// One drop under one set of rules: the job and what was left out.
class DropWalk {
 public:
  DropWalk(const IntakeRules& rules, Intake& intake) : rules_(rules), intake_(intake) {
    for (const std::string& folder : rules.trashFolders) {
      struct stat info {};
      if (::stat(folder.c_str(), &info) == 0) knownTrash_.insert({info.st_dev, info.st_ino});
    }
    for (const std::string& folder : rules.foldersNotEntered) {
      struct stat info {};
      if (::stat(folder.c_str(), &info) == 0) notEntered_.insert({info.st_dev, info.st_ino});
    }
  }

  void skip(const std::string& path, SkipReason reason) { intake_.skipped.push_back({path, reason}); }

  // A Trash folder: by its name, or by being one of the known places.
  bool isTrash(std::string_view name, const struct stat& info) const {
    return S_ISDIR(info.st_mode) &&
           (isTrashFolderName(name) || knownTrash_.count({info.st_dev, info.st_ino}) != 0);
  }

  // True when the existing `path` is a Trash folder or lies inside one, its
  // links followed: each folder from it up to the root is looked at once.
  bool inTrash(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return false;
    return resolvedInTrash(resolved);
  }

  // The files of the drop, by their names (and, under the companion's
  // rules, by what they are).
  void takeFiles(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
      const bool accepted = acceptedExtension(intakeExtension(path), rules_.formats);
      // The window's drop: the names decide, with no existence test.
      if (accepted && !rules_.lookAtEachPath) {
        intake_.job.push_back(path);
        continue;
      }
      struct stat info {};
      const bool found = ::stat(path.c_str(), &info) == 0;
      const int error = found ? 0 : errno;
      if (!rules_.lookAtEachPath) {
        if (!found && error == ENOENT) {
          skip(path, SkipReason::notFound);
        } else if (found && S_ISDIR(info.st_mode)) {
          skip(path, SkipReason::folderAmongOthers);
        }
        continue;
      }
      if (!found) {
        skip(path, error == ENOENT || error == ENOTDIR ? SkipReason::notFound
                   : error == ENAMETOOLONG             ? SkipReason::pathTooLong
                                                       : SkipReason::inaccessible);
      } else if (!S_ISDIR(info.st_mode) && !accepted) {
        continue;  // not a picture's name: passed over, as a drop does
      } else if (inTrash(path)) {
        skip(path, SkipReason::inTrash);
      } else if (S_ISDIR(info.st_mode)) {
        skip(path, SkipReason::folderAmongOthers);
      } else {
        intake_.job.push_back(path);
      }
    }
  }

  void takeOwnPictures(const std::string& folder) {
    const std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) return skip(folder, SkipReason::unreadableFolder);
    for (;;) {
      errno = 0;  // readdir tells its end from a failure only by errno
      const dirent* entry = ::readdir(dir.get());
      if (entry == nullptr) break;
      const std::string path = joinPath(folder, entry->d_name);
      // "." and ".." are folders too; stat follows links, so a link to a
      // folder is skipped and a link to a picture is taken.
      struct stat info {};
      const bool found = ::stat(path.c_str(), &info) == 0;
      const int error = found ? 0 : errno;
      if (found && S_ISDIR(info.st_mode)) continue;
      if (acceptedExtension(intakeExtension(entry->d_name), rules_.formats)) {
        if (rules_.lookAtEachPath && error == ENAMETOOLONG) {
          skip(path, SkipReason::pathTooLong);
        } else {
          intake_.job.push_back(path);
        }
      }
    }
    if (errno != 0) skip(folder, SkipReason::unreadableFolder);
  }

  // One folder of a tree walk. `seen_` holds every folder listed so far, by
  // identity, so that a bind mount cannot make the walk go round.
  void takeTree(const std::string& folder) {
    struct stat self {};
    if (::stat(folder.c_str(), &self) != 0 || !seen_.insert({self.st_dev, self.st_ino}).second) return;
    std::vector<std::string> pictures;
    std::vector<std::string> subfolders;
    {
      const std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
      if (!dir)
        return skip(folder, errno == ENAMETOOLONG ? SkipReason::pathTooLong : SkipReason::unreadableFolder);
      bool whole = true;
      for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) break;
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = joinPath(folder, entry->d_name);
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) {
          // Gone since it was listed: nothing to say. Beyond the system's
          // length: that path. Anything else: the folder's own fault.
          if (errno == ENAMETOOLONG) {
            skip(path, SkipReason::pathTooLong);
          } else if (errno != ENOENT) {
            whole = false;
          }
        } else if (S_ISDIR(info.st_mode)) {
          if (notEntered_.count({info.st_dev, info.st_ino}) != 0) {
            skip(path, SkipReason::outputFolder);
          } else if ((rules_.hiddenFolders || !isHidden(name)) && !isTrash(name, info)) {
            subfolders.push_back(path);
          }
        } else if (!isFolder(path) && acceptedExtension(intakeExtension(name), rules_.formats)) {
          pictures.push_back(path);  // a link to a folder is neither
        }
      }
      if (errno != 0 || !whole) skip(folder, SkipReason::unreadableFolder);
    }  // closed before going deeper: a deep tree holds one listing open at a time
    std::sort(pictures.begin(), pictures.end());
    std::sort(subfolders.begin(), subfolders.end());
    intake_.job.insert(intake_.job.end(), pictures.begin(), pictures.end());
    for (const std::string& subfolder : subfolders) takeTree(subfolder);
  }

 private:
  // `path` holds no link, "." or "..": its folders are its prefixes.
  bool resolvedInTrash(const std::string& path) {
    if (path.empty() || path == "/") return false;
    if (const auto known = trashAnswers_.find(path); known != trashAnswers_.end()) return known->second;
    const std::size_t slash = path.rfind('/');
    struct stat info {};
    bool answer = ::stat(path.c_str(), &info) == 0 && isTrash(std::string_view(path).substr(slash + 1), info);
    if (!answer) answer = resolvedInTrash(path.substr(0, slash));
    trashAnswers_[path] = answer;
    return answer;
  }

  const IntakeRules& rules_;
  Intake& intake_;
  std::set<Identity> knownTrash_;
  std::set<Identity> notEntered_;
  std::set<Identity> seen_;
  std::map<std::string, bool> trashAnswers_;  // folders already looked at by inTrash
};

}  // namespace

bool isFolder(const std::string& path) {
  if (path.empty()) return false;
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  struct stat info {};
  if (::stat(trimmed.c_str(), &info) != 0) return false;
  return S_ISDIR(info.st_mode);
}

bool isTrashFolderName(std::string_view name) {
  if (name == ".Trash") return true;
  constexpr std::string_view kUserTrash = ".Trash-";
  if (name.size() <= kUserTrash.size() || name.substr(0, kUserTrash.size()) != kUserTrash) return false;
  name.remove_prefix(kUserTrash.size());
  return std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

Intake takeDrop(const std::vector<std::string>& paths, const IntakeRules& rules) {
  Intake intake;
  DropWalk walk(rules, intake);
  if (paths.size() == 1 && isFolder(paths.front())) {
    if (rules.lookAtEachPath && walk.inTrash(paths.front())) {
      walk.skip(paths.front(), SkipReason::inTrash);
    } else if (rules.depth == FolderDepth::withSubfolders) {
      walk.takeTree(paths.front());
    } else {
      walk.takeOwnPictures(paths.front());
    }
    return intake;
  }
  // Several items, or one that is not a folder. Under the window's rules
  // the names decide, with no existence test (a folder named x.jpg is taken
  // and fails to load later).
  walk.takeFiles(paths);
  return intake;
}

BatchJob intakeDrop(const std::vector<std::string>& paths, FolderDepth depth, image::FormatSet formats) {
  IntakeRules rules;
  rules.depth = depth;
  rules.formats = formats;
  return takeDrop(paths, rules).job;
}

std::string_view skipReasonText(SkipReason reason) {
  switch (reason) {
    case SkipReason::notFound:
      return "does not exist";
    case SkipReason::folderAmongOthers:
      return "a folder given with other paths (one folder is walked only when alone)";
    case SkipReason::unreadableFolder:
      return "a folder that cannot be read";
    case SkipReason::inaccessible:
      return "cannot be reached (a folder on its way that may not be searched, or a loop of links)";
    case SkipReason::pathTooLong:
      return "path longer than the system allows";
    case SkipReason::inTrash:
      return "in the Trash (nothing is taken from there: restore it first)";
    case SkipReason::outputFolder:
      return "the output folder (its pictures are this run's outputs, or an earlier run's)";
  }
  return "unknown";
}

}  // namespace pixmoor::batch
