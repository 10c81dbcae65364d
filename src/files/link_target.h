// Where a name leads once its symbolic links are followed, and whether the
// program may write there.
//
// Only the last component is followed here (folders on the way are the
// kernel's business). Pure queries of the file system; any thread.
#pragma once

#include <sys/stat.h>

#include <string>

namespace pixmoor::files {

// The folder part of a path ("." for a bare name, "/" for a name at the root)
// and the name after the last "/".
std::string folderOf(const std::string& path);
std::string nameOf(const std::string& path);

struct LinkTarget {
  std::string path;     // the name the chain of links ends at (the path itself without links)
  bool exists = false;  // `path` names something; `status` then describes it
  struct stat status {};
  bool throughLink = false;    // at least one link was followed
  bool linksOwnedByUs = true;  // every link followed belongs to the effective user
  bool resolved = true;        // false: a loop, an unreadable link or an unsearchable folder
};

// Follows the links that the last component of `path` is, up to 40 of them.
// A dangling link ends at the name it points to, with `exists` false.
LinkTarget followLinks(const std::string& path);

}  // namespace pixmoor::files
