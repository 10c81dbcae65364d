#include "files/link_target.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

namespace pixmoor::files {
namespace {

// The kernel's own limit on links met while resolving one path.
constexpr int kMaxLinks = 40;

}  // namespace

std::string folderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

LinkTarget followLinks(const std::string& path) {
  LinkTarget target;
  target.path = path;
  for (int hops = 0;; ++hops) {
    if (::lstat(target.path.c_str(), &target.status) != 0) {
      target.exists = false;
      target.resolved = errno == ENOENT;
      return target;
    }
    target.exists = true;
    if (!S_ISLNK(target.status.st_mode)) return target;
    if (hops == kMaxLinks) {
      target.resolved = false;
      return target;
    }
    if (target.status.st_uid != ::geteuid()) target.linksOwnedByUs = false;
    std::vector<char> text(static_cast<std::size_t>(target.status.st_size > 0 ? target.status.st_size : 255) +
                           1);
    const ssize_t length = ::readlink(target.path.c_str(), text.data(), text.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= text.size()) {
      target.resolved = false;
      return target;
    }
    const std::string next(text.data(), static_cast<std::size_t>(length));
    target.path = next.front() == '/' ? next : folderOf(target.path) + "/" + next;
    target.throughLink = true;
  }
}

}  // namespace pixmoor::files
