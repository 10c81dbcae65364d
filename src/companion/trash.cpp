#include "companion/trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <string_view>
#include <system_error>

#include "companion/trash_folder.h"
#include "files/link_target.h"
#include "files/replace_file.h"

namespace pixmoor::companion {
namespace {

constexpr std::size_t kNameMax = 255;
constexpr std::string_view kInfoSuffix = ".trashinfo";
// An extension longer than this is no extension: the name is shortened whole.
constexpr std::size_t kLongestExtension = 16;
// Entries of one name tried before giving up ("a.jpg", "a.2.jpg", ...).
constexpr int kMaxEntriesOfOneName = 100000;
// A record is a few lines; one larger than this is not ours.
constexpr std::size_t kMaxRecordBytes = 64 * 1024;

std::string errorText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

// The path a record holds: bytes outside the URI's unreserved set escaped.
std::string escapedPath(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
        c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      out.push_back(c);
    } else {
      out += {'%', kHex[byte >> 4], kHex[byte & 15]};
    }
  }
  return out;
}

std::string recordOf(const std::string& recordedPath) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char date[32] = {};
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  return "[Trash Info]\nPath=" + escapedPath(recordedPath) + "\nDeletionDate=" + date + "\n";
}

// The entry's name: the file's own, then with ".2", ".3"... before its
// extension, shortened at a character boundary before the extension so
// that the record's name stays a legal file name.
std::string entryName(const std::string& name, int number) {
  const std::size_t dot = name.find('.', 1);
  std::string stem = name;
  std::string extension;
  if (dot != std::string::npos && name.size() - dot <= kLongestExtension) {
    stem = name.substr(0, dot);
    extension = name.substr(dot);
  }
  const std::string counter = number == 1 ? std::string() : "." + std::to_string(number);
  const std::size_t room = kNameMax - kInfoSuffix.size() - counter.size() - extension.size();
  if (stem.size() > room) {
    std::size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
    stem.resize(cut);
  }
  return stem + counter + extension;
}

bool syncFolder(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
  ::close(fd);
  return synced;
}

bool writeRecord(int fd, const std::string& record) {
  std::string_view rest = record;
  while (!rest.empty()) {
    const ssize_t n = ::write(fd, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  return ::ftruncate(fd, static_cast<off_t>(record.size())) == 0 && ::fsync(fd) == 0;
}

// The recorded path of a record file, still escaped; empty when the record
// is cut short before its path ends, or unreadable.
std::string recordedPathIn(const std::string& info) {
  const int fd = ::open(info.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return {};
  std::string text(kMaxRecordBytes, '\0');
  const ssize_t n = ::read(fd, text.data(), text.size());
  ::close(fd);
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  const std::size_t at = text.find("\nPath=");
  if (at == std::string::npos) return {};
  const std::size_t end = text.find('\n', at + 1);
  return end == std::string::npos ? std::string() : text.substr(at + 6, end - at - 6);
}

// What a taken entry name holds, as far as the file being moved goes.
enum class Taken {
  byAnother,    // another entry: try the next name
  byThisFile,   // this very file, moved in by a killed run: nothing left to move
  byLoneRecord  // a record whose file never came, of the same origin or cut short, left by a killed run
};

Taken whatTakes(const std::string& file, const std::string& info, const struct stat& moving,
                const std::string& escaped) {
  struct stat record {};
  if (::lstat(info.c_str(), &record) != 0 || !S_ISREG(record.st_mode)) return Taken::byAnother;
  const std::string recorded = recordedPathIn(info);
  struct stat entry {};
  if (::lstat(file.c_str(), &entry) == 0) {
    const bool same = entry.st_dev == moving.st_dev && entry.st_ino == moving.st_ino;
    return same && recorded == escaped ? Taken::byThisFile : Taken::byAnother;
  }
  // Another program writes its record first too: only one older than this
  // process can be a leftover.
  const bool lone = errno == ENOENT && files::olderThanThisProcess(record.st_mtim);
  return lone && (recorded == escaped || recorded.empty()) ? Taken::byLoneRecord : Taken::byAnother;
}

// Renames without replacing: the entry name is reserved by its record, but
// a file without a record may still sit there.
int moveIn(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system that cannot refuse to replace (some network ones).
  struct stat status {};
  if (::lstat(to.c_str(), &status) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

TrashResult moveToTrash(const std::string& path, const std::string& restoreTo) {
  TrashResult result;
  const auto refuse = [&result](std::string why) {
    result.message = std::move(why);
    return result;
  };
  struct stat moving {};
  if (::lstat(path.c_str(), &moving) != 0) return refuse(errorText(errno));
  char real[PATH_MAX];
  if (::realpath(files::folderOf(restoreTo).c_str(), real) == nullptr) return refuse(errorText(errno));
  const std::string realFolder = real;
  const std::string name = files::nameOf(restoreTo);

  // The plan foresees this very choice (trashRefusal).
  const TrashFolder trash = trashFolderFor(realFolder, moving.st_dev, MakeMissing::yes);
  if (trash.path.empty()) return refuse(trash.why);
  const std::string filesFolder = trash.path + "/files";
  const std::string infoFolder = trash.path + "/info";

  // Home: the absolute path; elsewhere relative to the top folder, so that
  // the file comes back wherever the file system is mounted next time.
  std::string recorded = (realFolder == "/" ? std::string() : realFolder) + "/" + name;
  if (!trash.topdir.empty())
    recorded = trash.topdir == "/" ? recorded.substr(1) : recorded.substr(trash.topdir.size() + 1);
  const std::string escaped = escapedPath(recorded);

  for (int number = 1; number <= kMaxEntriesOfOneName; ++number) {
    const std::string entry = entryName(name, number);
    result.entry = {filesFolder + "/" + entry, infoFolder + "/" + entry + std::string(kInfoSuffix)};
    const std::string& info = result.entry.info;
    int fd = ::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
      const Taken taken = whatTakes(result.entry.file, info, moving, escaped);
      if (taken == Taken::byThisFile) {
        ::unlink(path.c_str());
        result.moved = true;
        return result;
      }
      if (taken == Taken::byAnother) continue;
      fd = ::open(info.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    if (fd < 0) return refuse("cannot write in the Trash folder " + infoFolder + ": " + errorText(errno));
    const bool written = writeRecord(fd, recordOf(recorded));
    const int writeError = errno;
    if (::close(fd) != 0 || !written) {
      ::unlink(info.c_str());
      return refuse("cannot write in the Trash folder " + infoFolder + ": " + errorText(writeError));
    }
    const int moveError = moveIn(path, result.entry.file);
    if (moveError == EEXIST) {
      ::unlink(info.c_str());
      continue;
    }
    if (moveError != 0) {
      ::unlink(info.c_str());
      return refuse("cannot move it into " + filesFolder + ": " + errorText(moveError));
    }
    // Synced before the caller goes on to replace the file's name.
    syncFolder(filesFolder);
    syncFolder(infoFolder);
    result.moved = true;
    return result;
  }
  return refuse("too many entries named " + name + " in " + filesFolder);
}

bool removeFromTrash(const TrashEntry& entry) {
  const bool file = ::unlink(entry.file.c_str()) == 0 || errno == ENOENT;
  return file && (::unlink(entry.info.c_str()) == 0 || errno == ENOENT);
}

}  // namespace pixmoor::companion
