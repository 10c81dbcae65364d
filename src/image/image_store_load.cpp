// Loading pictures into the store: files read whole, then the content decides
// the reader ("BM" BMP, 0 1 icon container, else the JPEG and PNG decoders).
#include "image/image_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <optional>
#include <vector>

#include "image/bmp_reader.h"
#include "image/decoder_registry.h"
#include "image/icon_reader.h"
#include "image/png_reader.h"

namespace pixmoor::image {
namespace {

void report(LoadStatus* status, LoadStatus value) {
  if (status != nullptr) *status = value;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The whole file, or nothing when it cannot be opened, is not a regular file,
// or gives fewer bytes than its size.
std::optional<std::vector<std::uint8_t>> readWholeFile(const std::string& path) {
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return std::nullopt;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) return std::nullopt;
  std::vector<std::uint8_t> block;
  try {
    block.resize(static_cast<std::size_t>(info.st_size));
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  } catch (const std::length_error&) {
    return std::nullopt;
  }
  std::size_t done = 0;
  while (done < block.size()) {
    const ssize_t got = ::read(file.get(), block.data() + done, block.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    done += static_cast<std::size_t>(got);
  }
  return block;
}

bool startsWithBmp(std::span<const std::uint8_t> data) { return data.size() >= 2 && data[0] == 'B' && data[1] == 'M'; }

bool startsWithIconHeader(std::span<const std::uint8_t> data) {
  return data.size() >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 1 && data[3] == 0;
}

}  // namespace

std::uintptr_t ImageStore::loadFromFile(ImageId number, const std::string& path, LoadStatus* status) {
  const auto block = readWholeFile(path);
  if (!block) {
    report(status, LoadStatus::Unreadable);
    return 0;
  }
  return loadFromMemory(number, *block, status);
}

std::uintptr_t ImageStore::loadFromMemory(ImageId number, std::span<const std::uint8_t> data, LoadStatus* status) {
  if (number < kNewImage || number >= kSlotNumberLimit) {
    report(status, LoadStatus::Unsupported);
    return 0;
  }
  // The old Image goes first, so that it and the new one never both take memory.
  release(number);

  std::optional<DecodedPicture> picture;
  bool refusedSize = false;
  if (startsWithBmp(data)) {
    picture = readBmp(data);
  } else {
    if (startsWithIconHeader(data)) picture = readIcon(data, decodePng);
    // Containers the icon reader cannot use (cursors among them) go on.
    if (!picture) picture = decodeRegistered(data, &refusedSize);
  }
  if (!picture || picture->raster == nullptr) {
    report(status, refusedSize ? LoadStatus::Unsupported : LoadStatus::UnknownFormat);
    return 0;
  }
  const std::uintptr_t answer = install(number, std::move(*picture));
  report(status, answer != 0 ? LoadStatus::Loaded : LoadStatus::Unsupported);
  return answer;
}

}  // namespace pixmoor::image
