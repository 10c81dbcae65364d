#include "image/picture_input.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace pixmoor::image {

PictureInput::PictureInput(std::span<const std::uint8_t> block) : block_(block), size_(block.size()) {}

PictureInput::PictureInput(int fd, std::uint64_t size, const CancelFlag* cancel)
    : fd_(fd), size_(size), cancel_(cancel) {}

PictureInput::~PictureInput() = default;

std::size_t PictureInput::readAt(std::uint64_t offset, std::uint8_t* out, std::size_t length) {
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
    failed_ = true;
    return 0;
  }
  std::size_t done = 0;
  while (done < length) {
    const ssize_t got = ::read(fd_, out + done, length - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      failed_ = true;  // an error, or the file is shorter than it was
      break;
    }
    done += static_cast<std::size_t>(got);
  }
  return done;
}

std::span<const std::uint8_t> PictureInput::bytes(std::uint64_t offset, std::size_t length) {
  if (offset >= size_ || failed_) return {};
  length = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
  if (fd_ < 0 || wholeRead_) return block_.subspan(static_cast<std::size_t>(offset), length);
  if (offset < windowStart_ || offset + length > windowStart_ + windowLength_) {
    // Refilled from `offset` on: readers go forwards.
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(std::max(length, kWindow), size_ - offset));
    if (wanted > capacity_) {
      buffer_.reset(new (std::nothrow) std::uint8_t[wanted]);
      capacity_ = buffer_ != nullptr ? wanted : 0;
      windowLength_ = 0;
      if (buffer_ == nullptr) {
        failed_ = outOfMemory_ = true;
        return {};
      }
    }
    windowStart_ = offset;
    windowLength_ = readAt(offset, buffer_.get(), wanted);
    length = std::min(length, windowLength_);
  }
  return {buffer_.get() + (offset - windowStart_), length};
}

bool PictureInput::copy(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (offset > size_ || out.size() > size_ - offset || failed_) return false;
  if (fd_ < 0 || wholeRead_) {
    // An empty block has no data pointer, and nothing to copy.
    if (!out.empty()) std::memcpy(out.data(), block_.data() + offset, out.size());
    return true;
  }
  return readAt(offset, out.data(), out.size()) == out.size();
}

std::optional<std::span<const std::uint8_t>> PictureInput::whole() {
  if (fd_ < 0 || wholeRead_) return block_;
  if (failed_ || size_ > SIZE_MAX) return std::nullopt;
  const auto size = static_cast<std::size_t>(size_);
  std::unique_ptr<std::uint8_t[]> all(new (std::nothrow) std::uint8_t[std::max<std::size_t>(size, 1)]);
  if (all == nullptr) return std::nullopt;
  for (std::size_t done = 0; done < size; done += kWindow) {
    if (cancelled(cancel_)) return std::nullopt;
    const std::size_t piece = std::min(kWindow, size - done);
    if (readAt(done, all.get() + done, piece) != piece) return std::nullopt;
  }
  buffer_ = std::move(all);
  capacity_ = size;
  block_ = {buffer_.get(), size};
  wholeRead_ = true;
  return block_;
}

std::uint64_t PictureInput::heldBytes() const {
  if (fd_ < 0) return 0;
  return wholeRead_ ? size_ : std::min<std::uint64_t>(size_, kWindow);
}

}  // namespace pixmoor::image
