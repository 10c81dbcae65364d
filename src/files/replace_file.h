// Replacing a file whole: the one way every writer of the program puts a
// file in place (pictures and the settings file alike).
//
// The policy:
//  - The new content goes to a temporary file in the target's own folder (an
//    unnamed one where the file system offers it, else a hidden
//    ".<name>.pixmoor-XXXXXX"), is synced, and is renamed over the target,
//    after which the folder is synced too. Readers see the old file or the
//    new one, never a mixture; a failure, a cancelled write or a crash before
//    the rename leaves the target as it was. A crash can leave a hidden
//    temporary behind (an unnamed one is named just before the rename):
//    those of a target (exactly that name pattern, ours, older than this
//    process) are removed before the target is written again.
//  - A symbolic link is followed: the file it leads to is replaced, in that
//    file's folder, and the link stays. Only when every link on the way and
//    the file itself belong to the effective user (the rule the kernel
//    applies in shared folders); otherwise, and for a dangling link or a
//    loop, nothing is written and the replacement is refused.
//  - The replaced file keeps its owner and group (where the process may set
//    them: always for the superuser, the group for a member of it), its
//    permission bits and its extended attributes (access lists included);
//    a new file gets 0666 less the umask.
//  - A file with other hard links is replaced under this name only: the
//    other names keep the old content.
//  - What this process may not write (a write-protected file, a folder or a
//    device under the name, a name too long for its file system) is not
//    replaced.
//  - A folder that does not let us create the temporary file fails the
//    replacement, with the old file untouched. replaceWholeFile may instead
//    rewrite such a file in place when the caller holds its complete new
//    content and asks for it (the settings file does; pictures never do).
//  - With a set-aside step (the Trash) the old file first gets a second,
//    hidden name beside it (a hard link, or a copy where the file system has
//    none), which the step moves away; only then does the new file take the
//    name, in the same one rename. The name holds the old file or the new one
//    at every instant, and the old file is at its name, under its hidden
//    name, or where the step put it. Should the rename fail, what the step
//    did is taken back while the old file still holds the name. A hidden
//    name a killed run left is a leftover like a temporary (never the only
//    copy: the old file kept its name then) and goes the same way.
//  - A failure says why as precisely as the system told us: a file or a
//    folder we may not write, a full disk, the old file already set aside.
//
// Expected failures are values. One FileReplacement belongs to one thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/same_file.h"

namespace pixmoor::files {

enum class ReplaceStatus {
  replaced,             // the new content is in place and synced, folder included
  badPath,              // an empty path, or one that names no file ("", ".", "..", a trailing "/")
  refused,              // the policy forbids it (a foreign or dangling link), or setAside kept the old file
  writeProtected,       // the file under the name may not be written (its bits, a read-only file system)
  wouldReplaceAnother,  // the name holds a file other than the one the rule allows
  notAFile,             // the name holds something that is no regular file (a folder, a FIFO, a device)
  nameTooLong,          // the name is longer than its folder's file system takes
  cannotCreate,         // no temporary file could be made (no such folder, a path too long)
  folderNotWritable,    // the folder lets us make no file (its bits, a read-only file system)
  writeFailed,          // a write, the sync or the rename failed (an I/O error, a file-size limit)
  diskFull,             // the file system has no room left (or the user's quota is used up)
  tooManyOpenFiles,     // the process has no descriptor left (its ulimit -n, or the system's)
  setAsideNotReplaced,  // the old file was set aside, then the new one could not take its name, which
                        // something else had taken meanwhile: the old file stays where it was set
  nameTaken,            // `nameMustBeFree`, and something is under the name (or came there meanwhile)
};

// What may already be under the target name. With `onlyReplacing` set the
// name may be free or hold exactly that file, nothing else (a default
// FileIdentity matches no file: the name must then be free).
// What a set-aside step made of the old file.
struct SetAside {
  bool kept = false;  // false: refused, the old file stays and nothing is replaced
  // Undoes the step when the new file could not take the name (the old one
  // still holding it); true when undone.
  std::function<bool()> takeBack = nullptr;
};

// Moves `spare`, a hidden second name of the file at `name`, away from the
// folder (into the Trash, recorded as `name`), and must leave `name` alone.
using SetAsideStep = std::function<SetAside(const std::string& spare, const std::string& name)>;

struct ReplaceRule {
  std::optional<FileIdentity> onlyReplacing;
  // When set: called with the file under the name (links followed); true
  // keeps it, and the replacement is refused as wouldReplaceAnother (a
  // batch keeping its other sources and its earlier outputs).
  std::function<bool(const FileIdentity& file)> mustKeep = nullptr;
  // When set: called for the file about to be replaced (`name`, links
  // followed) only once the new content is complete and synced, just before
  // it takes the name. Not called when the name is free. A refusal keeps the
  // old file and gives the replacement up (refused).
  SetAsideStep setAside = nullptr;
  // When set: the access and modification times the new file bears when it
  // takes the name (a resized photo keeping its source's dates).
  std::optional<std::array<struct timespec, 2>> times{};
  // Nothing at all may be under the name (a link neither): the new file
  // takes it only while it is free, in one step that never replaces what
  // came there meanwhile (renameat2's RENAME_NOREPLACE, else link and
  // unlink), and anything there is nameTaken.
  bool nameMustBeFree = false;
};

// Whether a file time is older than this process: what bears it is the
// work of an earlier run (one that was killed, say), never of this one.
bool olderThanThisProcess(const struct timespec& time);

class FileReplacement;

// What FileReplacement::create answers: the replacement under way, or no file
// and why not (`replaced` only when `file` is set).
struct OpenedReplacement {
  std::unique_ptr<FileReplacement> file;
  ReplaceStatus status = ReplaceStatus::writeFailed;
};

class FileReplacement {
 public:
  // `named` always uses the hidden named file (the fallback, selectable for tests).
  enum class Temporary { unnamed, named };

  // Checks the policy (checkReplacement) and makes the temporary file.
  // Nothing is created when the answer holds no file.
  static OpenedReplacement create(const std::string& path, const ReplaceRule& rule = {},
                                  Temporary temporary = Temporary::unnamed);

  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // The file that will be replaced (links followed).
  const std::string& targetPath() const { return target_; }
  // The named temporary file; empty while the file has no name.
  const std::string& temporaryPath() const { return tempPath_; }

  // Appends bytes (buffered). False once any write has failed.
  bool write(const void* data, std::size_t size);
  bool failed() const { return failed_; }
  std::uint64_t bytesWritten() const { return written_ + buffer_.size(); }

  // Checks the policy and the rule again, then syncs and renames the file
  // over the target and syncs the folder. True once only, when all of that
  // succeeded; status() then says replaced, otherwise why not. A false
  // answer after the rename (the folder could not be synced) leaves the new
  // content in place; every earlier one leaves the target untouched and the
  // temporary file removed.
  bool commit();
  ReplaceStatus status() const { return status_; }

  // Throws the temporary file away (also done by the destructor).
  void discard();

 private:
  FileReplacement() = default;
  bool fail(ReplaceStatus status);
  bool flushBuffer();
  bool writeAll(const std::uint8_t* data, std::size_t size);

  int fd_ = -1;
  bool unnamed_ = false;  // made with O_TMPFILE: no name until commit
  std::string folder_;    // the target's folder
  std::string target_;    // the target, links followed
  std::string asked_;     // the path as given
  std::string tempPath_;  // the named temporary file (empty while unnamed)
  ReplaceRule rule_;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t written_ = 0;
  bool failed_ = false;
  bool done_ = false;
  ReplaceStatus status_ = ReplaceStatus::writeFailed;
};

// Everything create() checks before it makes the temporary file, and
// nothing else: the name, the links and their owners, what the name holds
// and its bits, the rule's file, and whether the folder lets us make a file.
// `replaced` when create() would go ahead (which it may still fail to, on a
// full disk, say). A plan asks this, so that it foresees what a write does.
ReplaceStatus checkReplacement(const std::string& path, const ReplaceRule& rule = {});

// Makes the folder that holds `path` and every missing folder above it, with
// the user's default permissions (0777 less the umask), as `mkdir -p` does.
// `replaced` when the folder is there (made or not); otherwise why not, as
// the temporary file would fail: a folder not writable, something other
// than a folder on the way (notAFile), a name too long, a full disk.
ReplaceStatus makeFolderOf(const std::string& path);

enum class InPlace {
  never,
  // When the folder does not let us create the temporary file but the file
  // itself is writable, has no other hard link and belongs where the policy
  // allows: write the content over the old one, after reserving its space,
  // and cut the file to length. Not whole-or-nothing, so only for content
  // that is small and held whole in memory.
  whenFolderIsReadOnly,
};

// Replaces `path` with `bytes` under the policy above (creating it when
// missing).
ReplaceStatus replaceWholeFile(const std::string& path, std::string_view bytes,
                               InPlace inPlace = InPlace::never);

}  // namespace pixmoor::files
