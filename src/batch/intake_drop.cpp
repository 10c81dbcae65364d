#include <dirent.h>
#include <sys/stat.h>

#include <memory>

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

void appendFolderPictures(const std::string& folder, BatchJob& job) {
  const std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) return;  // no access: the folder contributes nothing
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string path = joinPath(folder, entry->d_name);
    // "." and ".." are folders too; stat follows links, so a link to a
    // folder is skipped and a link to a picture is taken.
    if (isFolder(path)) continue;
    if (acceptedExtension(intakeExtension(entry->d_name))) job.push_back(path);
  }
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

BatchJob intakeDrop(const std::vector<std::string>& paths) {
  BatchJob job;
  if (paths.size() == 1 && isFolder(paths.front())) {
    appendFolderPictures(paths.front(), job);
    return job;
  }
  // Several items, or one that is not a folder: the names decide, no
  // existence test (a folder named x.jpg is taken and fails to load later).
  for (const std::string& path : paths) {
    if (acceptedExtension(intakeExtension(path))) job.push_back(path);
  }
  return job;
}

}  // namespace pixmoor::batch
