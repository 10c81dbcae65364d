#include "image/temp_output.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace pixmoor::image {
namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
constexpr int kNameAttempts = 64;
// Longest file name most Linux file systems take.
constexpr std::size_t kNameMax = 255;

// Six characters from [A-Za-z0-9]. getrandom rarely fails; a counter mixed
// with the clock and the process id still keeps names apart then, and
// O_EXCL settles any collision.
std::string randomSuffix() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[6] = {};
  if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t v = counter.fetch_add(1) * 0x9E3779B97F4A7C15ULL ^
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

// ".<name>.pixmoor-XXXXXX" in `folder`, with the name shortened (at a UTF-8
// character boundary) so that the whole stays a legal file name.
std::string tempName(const std::string& folder, const std::string& name) {
  static constexpr std::size_t kExtra = 1 + 9 + 6;  // ".", ".pixmoor-", suffix
  std::string base = name;
  if (base.size() + kExtra > kNameMax) {
    std::size_t cut = kNameMax - kExtra;
    while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) --cut;
    base.resize(cut);
  }
  return folder + "/." + base + ".pixmoor-" + randomSuffix();
}

bool closeChecked(int fd) {
  // After close fails the descriptor is gone either way (Linux); EINTR is
  // not retried for that reason, but the data may still have been written.
  return ::close(fd) == 0 || errno == EINTR;
}

}  // namespace

std::unique_ptr<TempOutput> TempOutput::create(const std::string& targetPath, OpenError* error, Kind kind) {
  auto fail = [error](OpenError e) -> std::unique_ptr<TempOutput> {
    if (error != nullptr) *error = e;
    return nullptr;
  };
  if (error != nullptr) *error = OpenError::None;
  if (targetPath.empty()) return fail(OpenError::EmptyPath);

  const auto slash = targetPath.rfind('/');
  std::string folder;
  std::string name;
  if (slash == std::string::npos) {
    folder = ".";
    name = targetPath;
  } else {
    folder = slash == 0 ? std::string("/") : targetPath.substr(0, slash);
    name = targetPath.substr(slash + 1);
  }
  if (name.empty() || name == "." || name == "..") return fail(OpenError::CannotCreate);

  // What could not be opened for writing is not replaced either: a folder
  // of that name, or a write-protected file (judged with the effective ids,
  // as open would).
  struct stat existing {};
  if (::stat(targetPath.c_str(), &existing) == 0 &&
      (S_ISDIR(existing.st_mode) || ::faccessat(AT_FDCWD, targetPath.c_str(), W_OK, AT_EACCESS) != 0)) {
    return fail(OpenError::CannotCreate);
  }

  std::unique_ptr<TempOutput> out(new TempOutput());
  out->folder_ = folder;
  out->target_ = targetPath;
  out->buffer_.reserve(kBufferSize);

  // An unnamed file vanishes by itself if the process dies mid-write. It is
  // named at commit through /proc, so only use it where /proc is there.
  if (kind == Kind::Auto && ::access("/proc/self/fd", X_OK) == 0) {
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
      out->fd_ = fd;
      out->unnamed_ = true;
      return out;
    }
    // Old kernels answer EISDIR, file systems without support EOPNOTSUPP:
    // fall back to a named file. Anything else (no folder, no permission,
    // read-only) fails the same way for a named file.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return fail(OpenError::CannotCreate);
  }

  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string path = tempName(folder, name);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      out->fd_ = fd;
      out->tempPath_ = std::move(path);
      return out;
    }
    if (errno != EEXIST) break;
  }
  return fail(OpenError::CannotCreate);
}

TempOutput::~TempOutput() { discard(); }

bool TempOutput::writeAll(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
    written_ += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool TempOutput::flushBuffer() {
  if (buffer_.empty()) return true;
  const bool ok = writeAll(buffer_.data(), buffer_.size());
  buffer_.clear();
  return ok;
}

bool TempOutput::write(const void* data, std::size_t size) {
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

bool TempOutput::commit() {
  if (done_ || fd_ < 0) return false;
  // Replacing a file keeps its permission bits (a private picture stays
  // private); only a new file takes the umask's.
  struct stat existing {};
  if (::stat(target_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
    ::fchmod(fd_, existing.st_mode & 0777);
  }
  if (failed_ || !flushBuffer() || ::fsync(fd_) != 0) {
    failed_ = true;
    discard();
    return false;
  }

  if (unnamed_) {
    // Give the file a hidden name first: linkat cannot replace the target,
    // rename can, and does so in one step.
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd_);
    const std::string name = target_.substr(target_.rfind('/') == std::string::npos ? 0 : target_.rfind('/') + 1);
    bool linked = false;
    for (int attempt = 0; attempt < kNameAttempts && !linked; ++attempt) {
      std::string path = tempName(folder_, name);
      if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        tempPath_ = std::move(path);
        linked = true;
      } else if (errno != EEXIST) {
        break;
      }
    }
    if (!linked) {
      failed_ = true;
      discard();
      return false;
    }
    unnamed_ = false;
  }

  const int fd = fd_;
  fd_ = -1;
  if (!closeChecked(fd)) {
    failed_ = true;
    discard();
    return false;
  }
  if (::rename(tempPath_.c_str(), target_.c_str()) != 0) {
    failed_ = true;
    discard();
    return false;
  }
  tempPath_.clear();
  done_ = true;

  // Make the rename itself durable; the data is already safe, so a folder
  // that cannot be synced is not a failure of this save.
  const int dirFd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

void TempOutput::discard() {
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

}  // namespace pixmoor::image
