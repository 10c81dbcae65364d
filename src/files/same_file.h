// Whether two paths name one file, now or once a file is written under one
// of them.
//
// The batch asks this before it reads a picture while the previous one is
// still being written: "could this source be that output?". Answers err on
// the side of yes, since a false alarm only costs waiting. Pure queries of
// the file system; any thread.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace pixmoor::files {

// Device and inode of an existing file: two names with one identity are one
// file (a hard link, a symbolic link, another spelling of the path).
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;

  bool operator==(const FileIdentity&) const = default;
};

// The identity of what `path` names, symbolic links followed; nothing when
// it names nothing.
std::optional<FileIdentity> identityOf(const std::string& path);

// True when `a` and `b` name one existing file, or when, once their links
// are followed, they lead to the same name in the same folder: compared
// exactly, or ignoring case where the folder's file system folds case (FAT
// and exFAT cards, SMB shares, case-folding ext4 folders).
bool couldBeSameFile(const std::string& a, const std::string& b);

// The name comparison of a case-folding folder: equal ignoring ASCII case;
// names with other characters match whenever their ASCII letters, digits and
// signs do, since their folding is the file system's and may change lengths.
bool namesMayMatchFolded(std::string_view a, std::string_view b);

}  // namespace pixmoor::files
