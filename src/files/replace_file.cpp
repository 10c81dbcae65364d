#include "files/replace_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>

#include "files/link_target.h"

namespace pixmoor::files {
namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
constexpr int kNameAttempts = 64;
// Longest file name most Linux file systems take.
constexpr std::size_t kNameMax = 255;
// Extended attributes are copied while they stay this small (they usually
// are: an access list, a tag or two).
constexpr std::size_t kMaxAttributeBytes = 64 * 1024;

// Six characters from [A-Za-z0-9]. getrandom rarely fails; a counter mixed
// with the clock and the process id still keeps names apart then, and
// O_EXCL settles any collision.
std::string randomSuffix() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[6] = {};
  if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t v =
        counter.fetch_add(1) * 0x9E3779B97F4A7C15ULL ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        static_cast<std::uint64_t>(getpid()) << 32;
    for (auto& b : bytes) {
      b = static_cast<unsigned char>(v);
      v = (v >> 8) | (v << 56);
      v *= 0xBF58476D1CE4E5B9ULL;
    }
  }
  std::string out;
  for (unsigned char b : bytes) out.push_back(kChars[b % (sizeof kChars - 1)]);
  return out;
}

constexpr std::size_t kSuffixLength = 6;

// ".<name>.pixmoor-": the start of every temporary name of a target, with
// the name shortened (at a UTF-8 character boundary) so that the whole,
// suffix included, stays a legal file name.
std::string tempPrefix(const std::string& name) {
  static constexpr std::size_t kExtra = 1 + 9 + kSuffixLength;  // ".", ".pixmoor-", suffix
  std::string base = name;
  if (base.size() + kExtra > kNameMax) {
    std::size_t cut = kNameMax - kExtra;
    while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) --cut;
    base.resize(cut);
  }
  return "." + base + ".pixmoor-";
}

// ".<name>.pixmoor-XXXXXX" in `folder`.
std::string tempName(const std::string& folder, const std::string& name) {
  return folder + "/" + tempPrefix(name) + randomSuffix();
}

bool isTempNameOf(const std::string& entry, const std::string& prefix) {
  if (entry.size() != prefix.size() + kSuffixLength || entry.compare(0, prefix.size(), prefix) != 0)
    return false;
  return std::all_of(entry.begin() + static_cast<std::ptrdiff_t>(prefix.size()), entry.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
  });
}

// When this process began: temporaries older than that are leftovers of an
// earlier run (killed between making one and renaming it, on a file system
// without unnamed files), never the work of this one. Read from the coarse
// clock that file times come from, so that a file of this run is never
// older than its start.
const struct timespec processStart = [] {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return now;
}();

// The hidden temporaries that were already stale in each folder this process
// writes into, listed once per folder; those of a target are removed before
// the target is written again.
class StaleTemporaries {
 public:
  void removeFor(const std::string& folder, const std::string& name) {
    const std::lock_guard lock(mutex_);
    auto listed = folders_.find(folder);
    if (listed == folders_.end()) listed = folders_.emplace(folder, list(folder)).first;
    const std::string prefix = tempPrefix(name);
    auto& entries = listed->second;
    for (auto it = entries.begin(); it != entries.end();) {
      if (!isTempNameOf(*it, prefix)) {
        ++it;
        continue;
      }
      // Looked at again: only our own regular files that are still old go.
      const std::string path = folder + "/" + *it;
      struct stat status {};
      if (::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid() &&
          olderThanThisProcess(status.st_mtim)) {
        ::unlink(path.c_str());
      }
      it = entries.erase(it);
    }
  }

 private:
  static std::vector<std::string> list(const std::string& folder) {
    std::vector<std::string> found;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return found;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string_view name = entry->d_name;
      if (name.size() > 1 + 9 + kSuffixLength && name[0] == '.' &&
          name.rfind(".pixmoor-") == name.size() - 9 - kSuffixLength) {
        found.emplace_back(name);
      }
    }
    ::closedir(dir);
    return found;
  }

  std::mutex mutex_;
  std::map<std::string, std::vector<std::string>> folders_;
};

StaleTemporaries& staleTemporaries() {
  static StaleTemporaries instance;
  return instance;
}

// Why a call on the file or its folder failed, from its error number.
ReplaceStatus failureOf(int error, ReplaceStatus otherwise) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return ReplaceStatus::diskFull;
    case EMFILE:
    case ENFILE:
      return ReplaceStatus::tooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
      return ReplaceStatus::folderNotWritable;
    default:
      return otherwise;
  }
}

bool closeChecked(int fd) {
  // After close fails the descriptor is gone either way (Linux); EINTR is
  // not retried for that reason, but the data may still have been written.
  return ::close(fd) == 0 || errno == EINTR;
}

// Renames `from` to `to` only while `to` is free: renameat2 where the file
// system offers RENAME_NOREPLACE, else a hard link (which never replaces)
// and the unlink of `from`.
ReplaceStatus renameIfFree(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return ReplaceStatus::replaced;
  if (errno == EEXIST) return ReplaceStatus::nameTaken;
  if (errno != EINVAL && errno != ENOSYS) return failureOf(errno, ReplaceStatus::writeFailed);
  if (::link(from.c_str(), to.c_str()) != 0)
    return errno == EEXIST ? ReplaceStatus::nameTaken : failureOf(errno, ReplaceStatus::writeFailed);
  ::unlink(from.c_str());
  return ReplaceStatus::replaced;
}

// Where `path` leads and whether the policy lets us replace it.
struct Checked {
  ReplaceStatus status = ReplaceStatus::replaced;  // replaced: allowed
  LinkTarget target;
};

// The longest name the folder's file system takes.
std::size_t nameMaxIn(const std::string& folder) {
  const long max = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  return max > 0 ? static_cast<std::size_t>(max) : kNameMax;
}

Checked checkTarget(const std::string& path, const ReplaceRule& rule) {
  Checked checked;
  const std::string name = nameOf(path);
  if (name.empty() || name == "." || name == "..") {
    checked.status = ReplaceStatus::badPath;
    return checked;
  }
  const auto refuse = [&](ReplaceStatus status) {
    checked.status = status;
    return checked;
  };
  if (name.size() > nameMaxIn(folderOf(path))) return refuse(ReplaceStatus::nameTooLong);
  if (rule.nameMustBeFree) {
    // The name itself, never where a link leads: a free name holds nothing.
    struct stat held {};
    if (::lstat(path.c_str(), &held) == 0) return refuse(ReplaceStatus::nameTaken);
  }
  checked.target = followLinks(path);
  const LinkTarget& target = checked.target;
  if (!target.resolved)
    return refuse(target.throughLink ? ReplaceStatus::refused : ReplaceStatus::cannotCreate);
  if (target.throughLink) {
    // A link leads only to a file of our own, through links of our own.
    if (!target.linksOwnedByUs || !target.exists || target.status.st_uid != ::geteuid()) {
      return refuse(ReplaceStatus::refused);
    }
  }
  if (!target.exists) return checked;
  if (!S_ISREG(target.status.st_mode)) return refuse(ReplaceStatus::notAFile);
  const FileIdentity held{target.status.st_dev, target.status.st_ino};
  if ((rule.onlyReplacing && !(held == *rule.onlyReplacing)) || (rule.mustKeep && rule.mustKeep(held)))
    return refuse(ReplaceStatus::wouldReplaceAnother);
  // What could not be opened for writing is not replaced either (judged
  // with the effective ids, as open would).
  if (::faccessat(AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) != 0)
    return refuse(ReplaceStatus::writeProtected);
  return checked;
}

void copyExtendedAttributes(const std::string& from, int toFd) {
  std::vector<char> names(kMaxAttributeBytes);
  const ssize_t listed = ::listxattr(from.c_str(), names.data(), names.size());
  if (listed <= 0) return;  // none, unsupported, or too many to be cheap
  std::vector<char> value(kMaxAttributeBytes);
  for (std::size_t at = 0; at < static_cast<std::size_t>(listed);) {
    const char* name = names.data() + at;
    const ssize_t size = ::getxattr(from.c_str(), name, value.data(), value.size());
    // Some names are the system's to set (security labels): best effort.
    if (size >= 0) ::fsetxattr(toFd, name, value.data(), static_cast<std::size_t>(size), 0);
    at += std::char_traits<char>::length(name) + 1;
  }
}

// The replaced file's owner, group, bits and attributes go to the new one.
// Owner first: changing it clears set-id bits, which the mode then restores.
bool keepAttributes(int fd, const LinkTarget& target) {
  const struct stat& old = target.status;
  if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
    [[maybe_unused]] const int ignored = ::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
  }
  if (::fchmod(fd, old.st_mode & 07777) != 0) return false;
  copyExtendedAttributes(target.path, fd);
  return true;
}

bool writeAt(int fd, std::string_view bytes, off_t offset = 0) {
  while (!bytes.empty()) {
    const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
    offset += n;
  }
  return true;
}

// Whether the folder lets us make a file in it, as opening the temporary file
// there would find (judged with the effective ids).
ReplaceStatus checkFolder(const std::string& folder) {
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0) return ReplaceStatus::replaced;
  return failureOf(errno, ReplaceStatus::cannotCreate);
}

// A second name for the file about to be replaced, hidden beside it and
// named like our temporaries; empty with the reason when none could be made.
struct Spare {
  std::string path;
  ReplaceStatus status = ReplaceStatus::replaced;
};

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Where the file system makes no hard link: a copy, with the owner, group,
// bits, attributes and times of the old file, synced.
Spare copySpare(const LinkTarget& old, const std::string& folder) {
  Spare spare;
  const int from = ::open(old.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  struct stat opened {};
  if (from < 0 || ::fstat(from, &opened) != 0 || !sameFile(opened, old.status)) {
    spare.status =
        from < 0 ? failureOf(errno, ReplaceStatus::writeFailed) : ReplaceStatus::wouldReplaceAnother;
    if (from >= 0) ::close(from);
    return spare;
  }
  int to = -1;
  std::string path;
  for (int attempt = 0; attempt < kNameAttempts && to < 0; ++attempt) {
    path = tempName(folder, nameOf(old.path));
    to = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (to < 0 && errno != EEXIST) break;
  }
  if (to < 0) {
    spare.status = failureOf(errno, ReplaceStatus::writeFailed);
    ::close(from);
    return spare;
  }
  std::vector<char> buffer(kBufferSize);
  bool ok = true;
  for (off_t offset = 0;;) {
    const ssize_t got = ::read(from, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || !writeAt(to, {buffer.data(), static_cast<std::size_t>(got)}, offset)) {
      ok = got == 0;
      break;
    }
    offset += got;
  }
  const struct timespec times[2] = {old.status.st_atim, old.status.st_mtim};
  ok = ok && keepAttributes(to, old) && ::futimens(to, times) == 0 && ::fsync(to) == 0;
  const int error = errno;
  ok = closeChecked(to) && ok;
  ::close(from);
  if (!ok) {
    ::unlink(path.c_str());
    spare.status = failureOf(error, ReplaceStatus::writeFailed);
    return spare;
  }
  spare.path = std::move(path);
  return spare;
}

// A hard link where the file system makes one: no bytes copied, and the
// old file's every attribute is the spare's.
Spare makeSpare(const LinkTarget& old, const std::string& folder) {
  Spare spare;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string path = tempName(folder, nameOf(old.path));
    if (::link(old.path.c_str(), path.c_str()) == 0) {
      // The name may have changed hands since it was checked.
      struct stat linked {};
      if (::lstat(path.c_str(), &linked) != 0 || !sameFile(linked, old.status)) {
        ::unlink(path.c_str());
        spare.status = ReplaceStatus::wouldReplaceAnother;
        return spare;
      }
      spare.path = std::move(path);
      return spare;
    }
    if (errno == EEXIST) continue;
    // No links on this file system (FAT), too many, or none allowed to us.
    if (errno == EPERM || errno == EMLINK || errno == EOPNOTSUPP) return copySpare(old, folder);
    spare.status = failureOf(errno, ReplaceStatus::writeFailed);
    return spare;
  }
  spare.status = ReplaceStatus::writeFailed;
  return spare;
}

ReplaceStatus rewriteInPlace(const std::string& path, std::string_view bytes) {
  const Checked checked = checkTarget(path, {});
  if (checked.status != ReplaceStatus::replaced) return checked.status;
  const LinkTarget& target = checked.target;
  // Only for a file whose folder is the obstacle; a second hard link would
  // see the change, which a replacement must never show it.
  if (!target.exists || target.status.st_nlink != 1) return ReplaceStatus::folderNotWritable;
  const std::string folder = folderOf(target.path);
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0) return ReplaceStatus::cannotCreate;

  const int fd = ::open(target.path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return ReplaceStatus::cannotCreate;
  struct stat now {};
  if (::fstat(fd, &now) != 0 || now.st_dev != target.status.st_dev || now.st_ino != target.status.st_ino) {
    ::close(fd);
    return ReplaceStatus::cannotCreate;
  }
  // Reserve the room first: a full disk then fails before a byte changes.
  const auto size = static_cast<off_t>(bytes.size());
  if (size > now.st_size) {
    if (const int error = ::posix_fallocate(fd, 0, size); error != 0) {
      [[maybe_unused]] const int ignored = ::ftruncate(fd, now.st_size);
      ::close(fd);
      return failureOf(error, ReplaceStatus::writeFailed);
    }
  }
  const bool ok = writeAt(fd, bytes) && ::ftruncate(fd, size) == 0 && ::fsync(fd) == 0;
  const int error = ok ? 0 : errno;
  const bool closed = closeChecked(fd);
  if (!ok) return failureOf(error, ReplaceStatus::writeFailed);
  return closed ? ReplaceStatus::replaced : failureOf(errno, ReplaceStatus::writeFailed);
}

// Everything before the temporary file is made: the target under the policy
// and the rule, then its folder.
Checked checkBeforeCreating(const std::string& path, const ReplaceRule& rule) {
  if (path.empty()) return {ReplaceStatus::badPath, {}};
  Checked checked = checkTarget(path, rule);
  if (checked.status == ReplaceStatus::replaced) checked.status = checkFolder(folderOf(checked.target.path));
  return checked;
}

}  // namespace

ReplaceStatus checkReplacement(const std::string& path, const ReplaceRule& rule) {
  return checkBeforeCreating(path, rule).status;
}

OpenedReplacement FileReplacement::create(const std::string& path, const ReplaceRule& rule,
                                          Temporary temporary) {
  auto fail = [](ReplaceStatus why) { return OpenedReplacement{nullptr, why}; };
  const Checked checked = checkBeforeCreating(path, rule);
  if (checked.status != ReplaceStatus::replaced) return fail(checked.status);

  std::unique_ptr<FileReplacement> out(new FileReplacement());
  out->asked_ = path;
  out->target_ = checked.target.path;
  out->folder_ = folderOf(out->target_);
  out->rule_ = rule;
  out->buffer_.reserve(kBufferSize);
  staleTemporaries().removeFor(out->folder_, nameOf(out->target_));

  // An unnamed file vanishes by itself if the process dies mid-write. It is
  // named at commit through /proc, so only use it where /proc is there.
  if (temporary == Temporary::unnamed && ::access("/proc/self/fd", X_OK) == 0) {
    const int fd = ::open(out->folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
      out->fd_ = fd;
      out->unnamed_ = true;
      return {std::move(out), ReplaceStatus::replaced};
    }
    // Old kernels answer EISDIR, file systems without support EOPNOTSUPP:
    // fall back to a named file. Anything else (no folder, no permission,
    // read-only) fails the same way for a named file.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
      return fail(failureOf(errno, ReplaceStatus::cannotCreate));
  }

  const std::string name = nameOf(out->target_);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string temp = tempName(out->folder_, name);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      out->fd_ = fd;
      out->tempPath_ = std::move(temp);
      return {std::move(out), ReplaceStatus::replaced};
    }
    if (errno != EEXIST) return fail(failureOf(errno, ReplaceStatus::cannotCreate));
  }
  return fail(ReplaceStatus::cannotCreate);
}

FileReplacement::~FileReplacement() {
  discard();
}

bool FileReplacement::writeAll(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      status_ = failureOf(errno, ReplaceStatus::writeFailed);
      return false;
    }
    if (n == 0) {
      status_ = ReplaceStatus::writeFailed;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    written_ += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool FileReplacement::flushBuffer() {
  if (buffer_.empty()) return true;
  const bool ok = writeAll(buffer_.data(), buffer_.size());
  buffer_.clear();
  return ok;
}

bool FileReplacement::write(const void* data, std::size_t size) {
  if (failed_ || done_ || fd_ < 0) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (buffer_.size() + size <= kBufferSize) {
    buffer_.insert(buffer_.end(), bytes, bytes + size);
    return true;
  }
  if (!flushBuffer()) {
    failed_ = true;
    return false;
  }
  if (size >= kBufferSize) {
    if (!writeAll(bytes, size)) failed_ = true;
    return !failed_;
  }
  buffer_.insert(buffer_.end(), bytes, bytes + size);
  return true;
}

bool FileReplacement::fail(ReplaceStatus status) {
  failed_ = true;
  status_ = status;
  discard();
  return false;
}

bool FileReplacement::commit() {
  if (done_ || fd_ < 0) return false;
  // A failed write left its reason in status_.
  if (failed_ || !flushBuffer()) return fail(status_);

  // The name may have changed while we wrote: the policy and the rule are
  // judged again on what is there now, and the target must be the same.
  const Checked checked = checkTarget(asked_, rule_);
  if (checked.status != ReplaceStatus::replaced) return fail(checked.status);
  if (checked.target.path != target_) return fail(ReplaceStatus::refused);
  if (checked.target.exists && !keepAttributes(fd_, checked.target)) return fail(ReplaceStatus::writeFailed);
  if (rule_.times && ::futimens(fd_, rule_.times->data()) != 0) return fail(ReplaceStatus::writeFailed);
  if (::fsync(fd_) != 0) return fail(failureOf(errno, ReplaceStatus::writeFailed));

  if (unnamed_) {
    // Give the file a hidden name first: linkat cannot replace the target,
    // rename can, and does so in one step.
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd_);
    const std::string name = nameOf(target_);
    bool linked = false;
    for (int attempt = 0; attempt < kNameAttempts && !linked; ++attempt) {
      std::string temp = tempName(folder_, name);
      if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        tempPath_ = std::move(temp);
        linked = true;
      } else if (errno != EEXIST) {
        return fail(failureOf(errno, ReplaceStatus::writeFailed));
      }
    }
    if (!linked) return fail(ReplaceStatus::writeFailed);
    unnamed_ = false;
  }

  const int fd = fd_;
  fd_ = -1;
  if (!closeChecked(fd)) return fail(failureOf(errno, ReplaceStatus::writeFailed));

  // The step moves a second name of the old file away, never the name
  // itself: that one changes only in the rename below.
  const bool setAside = rule_.setAside && checked.target.exists;
  std::function<bool()> takeBack;
  if (setAside) {
    const Spare spare = makeSpare(checked.target, folder_);
    if (spare.path.empty()) return fail(spare.status);
    SetAside aside = rule_.setAside(spare.path, target_);
    struct stat left {};
    if (::lstat(spare.path.c_str(), &left) == 0) ::unlink(spare.path.c_str());  // what the step did not take
    if (!aside.kept) return fail(ReplaceStatus::refused);
    takeBack = std::move(aside.takeBack);
  }
  if (rule_.nameMustBeFree) {
    // Something that came under the name since the check stays: the rename
    // that must not replace fails, and the temporary goes.
    const ReplaceStatus taken = renameIfFree(tempPath_, target_);
    if (taken != ReplaceStatus::replaced) return fail(taken);
  } else if (::rename(tempPath_.c_str(), target_.c_str()) != 0) {
    const ReplaceStatus why = failureOf(errno, ReplaceStatus::writeFailed);
    if (setAside) {
      // Undone only while the old file holds its name; should something
      // else have taken the name, the old file stays where the step put it.
      struct stat now {};
      if (::lstat(target_.c_str(), &now) != 0 || !sameFile(now, checked.target.status))
        return fail(ReplaceStatus::setAsideNotReplaced);
      if (takeBack) takeBack();
    }
    return fail(why);
  }
  tempPath_.clear();
  done_ = true;

  // The rename is only durable once the folder is synced. A file system that
  // cannot sync folders (EINVAL) has nothing more to offer.
  const int folderFd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool synced = folderFd >= 0 && (::fsync(folderFd) == 0 || errno == EINVAL);
  if (folderFd >= 0) ::close(folderFd);
  status_ = synced ? ReplaceStatus::replaced : ReplaceStatus::writeFailed;
  return synced;
}

void FileReplacement::discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!tempPath_.empty()) {
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
  }
  buffer_.clear();
  done_ = true;
}

bool olderThanThisProcess(const struct timespec& time) {
  return time.tv_sec < processStart.tv_sec ||
         (time.tv_sec == processStart.tv_sec && time.tv_nsec < processStart.tv_nsec);
}

ReplaceStatus replaceWholeFile(const std::string& path, std::string_view bytes, InPlace inPlace) {
  const OpenedReplacement opened = FileReplacement::create(path);
  if (auto& out = opened.file) {
    out->write(bytes.data(), bytes.size());
    out->commit();
    return out->status();
  }
  if (opened.status == ReplaceStatus::folderNotWritable && inPlace == InPlace::whenFolderIsReadOnly) {
    return rewriteInPlace(path, bytes);
  }
  return opened.status;
}

ReplaceStatus makeFolderOf(const std::string& path) {
  const std::string folder = folderOf(path);
  struct stat held {};
  if (::stat(folder.c_str(), &held) == 0)
    return S_ISDIR(held.st_mode) ? ReplaceStatus::replaced : ReplaceStatus::notAFile;
  if (errno == ENOTDIR) return ReplaceStatus::notAFile;  // a file on the way
  if (errno != ENOENT) return failureOf(errno, ReplaceStatus::cannotCreate);
  if (folder == path) return ReplaceStatus::cannotCreate;  // nothing above to make it in
  if (const ReplaceStatus above = makeFolderOf(folder); above != ReplaceStatus::replaced) return above;
  // Another run may make it at the same moment: there is then a folder all the same.
  if (::mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST) {
    return ::stat(folder.c_str(), &held) == 0 && S_ISDIR(held.st_mode) ? ReplaceStatus::replaced
                                                                       : ReplaceStatus::notAFile;
  }
  if (errno == ENAMETOOLONG) return ReplaceStatus::nameTooLong;
  return failureOf(errno, ReplaceStatus::cannotCreate);
}

}  // namespace pixmoor::files
