// Opening picture files and reading them with their format's reader.
#include "codecs/load_picture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "codecs/format_registry.h"
#include "sandbox/decode_client.h"

namespace pixmoor::image {
namespace {

// Reads exactly `size` bytes from the file's current position.
bool readPieces(int fd, std::uint8_t* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(fd, out + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

LoadStatus statusOf(DecodeFailure failure) {
  switch (failure) {
    case DecodeFailure::unrecognised:
      return LoadStatus::unknownFormat;
    case DecodeFailure::tooLarge:
    case DecodeFailure::unsupportedFeature:
      return LoadStatus::unsupported;
    case DecodeFailure::overBudget:
      return LoadStatus::tooLargeForMemory;
    case DecodeFailure::cancelled:
      return LoadStatus::cancelled;
  }
  return LoadStatus::unknownFormat;
}

// The format of the data's first bytes, as a status: loaded when one reads it.
LoadStatus recognise(std::span<const std::uint8_t> head, FormatSet formats, const FormatDescriptor*& format) {
  format = formatOf(head, formats);
  return format == nullptr ? LoadStatus::unknownFormat : LoadStatus::loaded;
}

}  // namespace

PictureFile::PictureFile(const std::string& path, FormatSet formats)
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)) {
  struct stat info {};
  if (fd_ < 0 && (errno == EMFILE || errno == ENFILE)) status_ = LoadStatus::tooManyOpenFiles;
  if (fd_ < 0 || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) return;
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) return;
  size_ = static_cast<std::uint64_t>(info.st_size);
  modified_ = info.st_mtim;
  std::array<std::uint8_t, kMagicBytes> head{};
  const auto headSize = static_cast<std::size_t>(std::min<std::uint64_t>(size_, head.size()));
  if (!readPieces(fd_, head.data(), headSize)) return;
  // Nothing more is read of what no reader could take (a huge file of
  // anything else answers at once).
  status_ = recognise(std::span(head).first(headSize), formats, format_);
}

PictureFile::~PictureFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool PictureFile::changedSinceOpened() const {
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0) return true;
  return static_cast<std::uint64_t>(info.st_size) != size_ || info.st_mtim.tv_sec != modified_.tv_sec ||
         info.st_mtim.tv_nsec != modified_.tv_nsec;
}

LoadedPicture readPicture(const FormatDescriptor& format, PictureInput& input, const LoadRequest& request,
                          ReadUpTo upTo) {
  const DecodeLimits& limits = request.limits;
  Reading reading = format.read(input, limits, request.reduce, upTo);
  LoadedPicture loaded;
  if (reading.header) {
    loaded.headerTaken = true;
    loaded.header = *reading.header;
    loaded.picture.source = reading.header->size;
    loaded.picture.isIcon = reading.header->isIcon;
  }
  // A file that could not be read as far as its size is not the picture;
  // nor is one whose window could not be had (the reader saw its data end).
  if (input.failed()) {
    loaded.status = cancelled(limits.cancel) ? LoadStatus::cancelled
                    : input.outOfMemory()    ? LoadStatus::tooLargeForMemory
                                             : LoadStatus::unreadable;
    return loaded;
  }
  const bool done =
      upTo == ReadUpTo::header ? loaded.headerTaken : reading.picture && reading.picture->raster != nullptr;
  if (!done) {
    loaded.status = statusOf(cancelled(limits.cancel) ? DecodeFailure::cancelled : reading.failure);
    return loaded;
  }
  loaded.status = LoadStatus::loaded;
  if (reading.picture) loaded.picture = std::move(*reading.picture);
  return loaded;
}

LoadedPicture loadPicture(PictureFile& file, const LoadRequest& request) {
  if (file.status() != LoadStatus::loaded) {
    LoadedPicture refused;
    refused.status = file.status();
    return refused;
  }
  // Such formats are decoded only where a hostile file cannot harm the program.
  LoadedPicture loaded;
  if (file.format()->decodedIn == DecodePlace::helperProcess) {
    loaded = readInHelper(*file.format(), file.descriptor(), file.size(), request, ReadUpTo::picture);
  } else {
    // The reader takes the file a piece at a time; what it must read whole
    // (icon containers, run-length and 32-bit BMP) counts against the budget.
    PictureInput input(file.descriptor(), file.size(), request.limits.cancel);
    loaded = readPicture(*file.format(), input, request, ReadUpTo::picture);
  }
  loaded.changedWhileRead = file.changedSinceOpened();
  return loaded;
}

LoadedPicture loadPicture(const std::string& path, const LoadRequest& request) {
  PictureFile file(path, request.formats);
  return loadPicture(file, request);
}

LoadedPicture loadPicture(std::span<const std::uint8_t> data, const LoadRequest& request) {
  LoadedPicture loaded;
  const FormatDescriptor* format = nullptr;
  loaded.status = recognise(data, request.formats, format);
  if (!loaded.loaded()) return loaded;
  // The helper reads files only; nothing gives it pictures held in memory.
  if (format->decodedIn == DecodePlace::helperProcess) {
    loaded.status = LoadStatus::unsupported;
    return loaded;
  }
  PictureInput input(data);
  return readPicture(*format, input, request, ReadUpTo::picture);
}

}  // namespace pixmoor::image
