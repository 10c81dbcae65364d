// Loading pictures into the store: the first bytes of a file decide whether
// it is read at all, then the content decides the reader ("BM" BMP, 0 1 icon
// container, else the JPEG and PNG decoders).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "image/bmp_reader.h"
#include "image/decoder_registry.h"
#include "image/icon_reader.h"
#include "image/image_store.h"
#include "image/picture_input.h"
#include "image/png_reader.h"

namespace pixmoor::image {
namespace {

LoadResult failed(LoadStatus why) {
  return {0, why};
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

bool startsWithBmp(std::span<const std::uint8_t> data) {
  return data.size() >= 2 && data[0] == 'B' && data[1] == 'M';
}

bool startsWithIconHeader(std::span<const std::uint8_t> data) {
  return data.size() >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 1 && data[3] == 0;
}

// The starts of the formats some reader takes: BMP, icon containers, and
// those of the registered decoders (JPEG's start-of-image, PNG's signature).
bool mayBePicture(std::span<const std::uint8_t> head) {
  static constexpr std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  const bool jpeg = head.size() >= 2 && head[0] == 0xFF && head[1] == 0xD8;
  const bool png = head.size() >= sizeof kPng && std::memcmp(head.data(), kPng, sizeof kPng) == 0;
  return startsWithBmp(head) || startsWithIconHeader(head) || jpeg || png;
}

// Reads exactly `size` bytes from the file's current position.
bool readPieces(int fd, std::uint8_t* out, std::size_t size, const CancelFlag* cancel) {
  std::size_t done = 0;
  while (done < size) {
    if (cancelled(cancel)) return false;
    const ssize_t got = ::read(fd, out + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

LoadResult ImageStore::load(ImageId number, const std::string& path, const DecodeLimits& limits) {
  return loadFile(number, path, limits, nullptr);
}

LoadResult ImageStore::loadReduced(ImageId number, const std::string& path, const ReduceTo& reduce,
                                   const DecodeLimits& limits) {
  return loadFile(number, path, limits, &reduce);
}

LoadResult ImageStore::loadFile(ImageId number, const std::string& path, const DecodeLimits& limits,
                                const ReduceTo* reduce) {
  // O_NONBLOCK keeps the open of a FIFO (a.jpg waiting for a writer that
  // never comes) or a device from blocking; only a regular file is read, and
  // with blocking reads again.
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  struct stat info {};
  if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
    return failed(LoadStatus::unreadable);
  }
  const int flags = ::fcntl(file.get(), F_GETFL);
  if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return failed(LoadStatus::unreadable);
  }

  const auto size = static_cast<std::uint64_t>(info.st_size);
  std::array<std::uint8_t, 8> head{};
  const std::size_t headSize = static_cast<std::size_t>(std::min<std::uint64_t>(size, head.size()));
  if (!readPieces(file.get(), head.data(), headSize, nullptr)) {
    return failed(LoadStatus::unreadable);
  }
  // Nothing more is read of what no reader could take (a huge file of
  // anything else answers at once).
  if (!mayBePicture(std::span(head.data(), headSize))) {
    release(number);
    return failed(LoadStatus::unknownFormat);
  }
  // The readers take the file a piece at a time; what must be read whole
  // (icon containers, run-length and 32-bit BMP) counts against the budget.
  PictureInput input(file.get(), size, limits.cancel);
  return loadFromInput(number, input, limits, reduce);
}

LoadResult ImageStore::loadData(ImageId number, std::span<const std::uint8_t> data,
                                const DecodeLimits& limits) {
  PictureInput input(data);
  return loadFromInput(number, input, limits, nullptr);
}

LoadResult ImageStore::loadFromInput(ImageId number, PictureInput& input, const DecodeLimits& limits,
                                     const ReduceTo* reduce) {
  if (number < kNewImage || number >= kSlotNumberLimit) {
    return failed(LoadStatus::unsupported);
  }
  // The old Image goes first, so that it and the new one never both take memory.
  release(number);

  std::array<std::uint8_t, 4> start{};
  const auto startSize = static_cast<std::size_t>(std::min<std::uint64_t>(input.size(), start.size()));
  input.copy(0, std::span(start).first(startSize));
  const std::span<const std::uint8_t> first(start.data(), startSize);

  std::optional<DecodedPicture> picture;
  DecodeFailure failure = DecodeFailure::unrecognised;
  if (startsWithBmp(first)) {
    picture = readBmp(input, limits, &failure, reduce);
  } else if (startsWithIconHeader(first)) {
    // Icon containers are read whole: small, and full of offsets.
    const std::uint64_t fileBytes = input.fromFile() ? input.size() : 0;
    const auto data = fileBytes <= limits.memoryBudget ? input.whole() : std::nullopt;
    if (data) {
      DecodeLimits rest = limits;
      rest.memoryBudget = budgetLeft(limits.memoryBudget, fileBytes);
      const PngEntryDecoder png = [&rest](std::span<const std::uint8_t> entry) {
        return decodePng(entry, rest);
      };
      picture = readIcon(*data, png, rest);
      // Containers the icon reader cannot use (cursors among them) go on.
      if (!picture && !cancelled(limits.cancel)) {
        PictureInput block(*data);
        picture = decodeRegistered(block, rest, &failure, reduce);
      }
    } else {
      failure = cancelled(limits.cancel) ? DecodeFailure::cancelled : DecodeFailure::overBudget;
    }
  } else {
    DecodeLimits rest = limits;
    rest.memoryBudget = budgetLeft(limits.memoryBudget, input.heldBytes());
    picture = decodeRegistered(input, rest, &failure, reduce);
  }
  // A file that could not be read as far as its size is not the picture.
  if (input.failed()) {
    return failed(cancelled(limits.cancel) ? LoadStatus::cancelled : LoadStatus::unreadable);
  }
  if (!picture || picture->raster == nullptr) {
    if (cancelled(limits.cancel)) failure = DecodeFailure::cancelled;
    switch (failure) {
      case DecodeFailure::unrecognised:
        return failed(LoadStatus::unknownFormat);
      case DecodeFailure::tooLarge:
        return failed(LoadStatus::unsupported);
      case DecodeFailure::overBudget:
        return failed(LoadStatus::tooLargeForMemory);
      case DecodeFailure::cancelled:
        return failed(LoadStatus::cancelled);
    }
    return failed(LoadStatus::unknownFormat);
  }
  const std::uintptr_t answer = install(number, std::move(*picture));
  return {answer, answer != 0 ? LoadStatus::loaded : LoadStatus::tooLargeForMemory};
}

}  // namespace pixmoor::image
