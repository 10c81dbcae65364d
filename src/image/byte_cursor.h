// Bounds-checked reading of untrusted bytes: the only way the picture readers
// look at file data.
//
// A ByteCursor walks a block it does not own (the block must outlive it).
// Every read is checked against the end of the block; a read that does not
// fit returns 0 (or an empty span), leaves the position where it was and
// marks the cursor failed for good, so that a run of header reads can be
// checked once with ok(). Little-endian throughout, as in BMP and icon files.
// No allocation, no exceptions; usable from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace pixmoor::image {

class ByteCursor {
 public:
  explicit ByteCursor(std::span<const std::uint8_t> data, std::size_t position = 0) noexcept
      : data_(data), position_(position), ok_(position <= data.size()) {
    if (!ok_) position_ = data_.size();
  }

  // False once any read, skip or seek went beyond the block.
  bool ok() const noexcept { return ok_; }
  std::size_t position() const noexcept { return position_; }
  std::size_t size() const noexcept { return data_.size(); }
  std::size_t remaining() const noexcept { return data_.size() - position_; }
  bool atEnd() const noexcept { return position_ == data_.size(); }

  // Moves to an absolute position; the end of the block itself is allowed.
  bool seek(std::size_t position) noexcept {
    if (position > data_.size()) return fail();
    position_ = position;
    return true;
  }

  bool skip(std::size_t count) noexcept {
    if (count > remaining()) return fail();
    position_ += count;
    return true;
  }

  std::uint8_t u8() noexcept {
    if (remaining() < 1) {
      fail();
      return 0;
    }
    return data_[position_++];
  }

  std::uint16_t u16() noexcept {
    if (remaining() < 2) {
      fail();
      return 0;
    }
    const auto value = static_cast<std::uint16_t>(data_[position_] | (data_[position_ + 1] << 8));
    position_ += 2;
    return value;
  }

  std::uint32_t u32() noexcept {
    if (remaining() < 4) {
      fail();
      return 0;
    }
    const std::uint32_t value = static_cast<std::uint32_t>(data_[position_]) |
                                (static_cast<std::uint32_t>(data_[position_ + 1]) << 8) |
                                (static_cast<std::uint32_t>(data_[position_ + 2]) << 16) |
                                (static_cast<std::uint32_t>(data_[position_ + 3]) << 24);
    position_ += 4;
    return value;
  }

  std::int32_t s32() noexcept { return static_cast<std::int32_t>(u32()); }

  // The next `count` bytes as a span, and the position moves past them.
  std::optional<std::span<const std::uint8_t>> take(std::size_t count) noexcept {
    if (count > remaining()) {
      fail();
      return std::nullopt;
    }
    const auto bytes = data_.subspan(position_, count);
    position_ += count;
    return bytes;
  }

  // Everything from the position to the end of the block, without moving.
  std::span<const std::uint8_t> rest() const noexcept { return data_.subspan(position_); }

 private:
  bool fail() noexcept {
    ok_ = false;
    return false;
  }

  std::span<const std::uint8_t> data_;
  std::size_t position_;
  bool ok_;
};

}  // namespace pixmoor::image
