#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <set>
#include <utility>

#include "batch/intake.h"

namespace pixmoor::batch {
namespace {

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

void appendFolderPictures(const std::string& folder, BatchJob& job, image::FormatSet formats) {
  const std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) return;  // no access: the folder contributes nothing
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string path = joinPath(folder, entry->d_name);
    // "." and ".." are folders too; stat follows links, so a link to a
    // folder is skipped and a link to a picture is taken.
    if (isFolder(path)) continue;
    if (acceptedExtension(intakeExtension(entry->d_name), formats)) job.push_back(path);
  }
}

// One folder of a tree walk. `seen` holds every folder listed so far, by
// identity, so that a bind mount cannot make the walk go round.
void appendFolderTree(const std::string& folder, BatchJob& job, std::set<std::pair<dev_t, ino_t>>& seen,
                      image::FormatSet formats) {
  struct stat self {};
  if (::stat(folder.c_str(), &self) != 0 || !seen.insert({self.st_dev, self.st_ino}).second) return;
  std::vector<std::string> pictures;
  std::vector<std::string> subfolders;
  {
    const std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) return;  // no access: the folder contributes nothing
    while (const dirent* entry = ::readdir(dir.get())) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      const std::string path = joinPath(folder, entry->d_name);
      struct stat info {};
      if (::lstat(path.c_str(), &info) != 0) continue;
      if (S_ISDIR(info.st_mode)) {
        subfolders.push_back(path);
      } else if (!isFolder(path) && acceptedExtension(intakeExtension(name), formats)) {
        pictures.push_back(path);  // a link to a folder is neither
      }
    }
  }  // closed before going deeper: a deep tree holds one listing open at a time
  std::sort(pictures.begin(), pictures.end());
  std::sort(subfolders.begin(), subfolders.end());
  job.insert(job.end(), pictures.begin(), pictures.end());
  for (const std::string& subfolder : subfolders) appendFolderTree(subfolder, job, seen, formats);
}

}  // namespace

bool isFolder(const std::string& path) {
  if (path.empty()) return false;
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  struct stat info {};
  if (::stat(trimmed.c_str(), &info) != 0) return false;
  return S_ISDIR(info.st_mode);
}

BatchJob intakeDrop(const std::vector<std::string>& paths, FolderDepth depth, image::FormatSet formats) {
  BatchJob job;
  if (paths.size() == 1 && isFolder(paths.front())) {
    if (depth == FolderDepth::withSubfolders) {
      std::set<std::pair<dev_t, ino_t>> seen;
      appendFolderTree(paths.front(), job, seen, formats);
    } else {
      appendFolderPictures(paths.front(), job, formats);
    }
    return job;
  }
  // Several items, or one that is not a folder: the names decide, no
  // existence test (a folder named x.jpg is taken and fails to load later).
  for (const std::string& path : paths) {
    if (acceptedExtension(intakeExtension(path), formats)) job.push_back(path);
  }
  return job;
}

}  // namespace pixmoor::batch
