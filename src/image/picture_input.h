// The bytes of one picture, as its reader sees them: a block in memory, or a
// regular file read a piece at a time, so that a file's data is never held,
// copied or zero-filled whole (a 4 GB file that starts like a JPEG costs one
// window of memory). Readers that need random access over all the data (icon
// containers, run-length BMP) ask for it whole, and it is then counted.
//
// One input belongs to one load on one thread. Reads go through read(), so a
// read that hangs holds only the thread that asked. Failures are values: a
// view comes back short or empty, and failed() tells a broken file (a read
// error, a file that ended before the size it had when opened, a window that
// could not be allocated) from data that simply ends there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "image/raster.h"

namespace pixmoor::image {

class PictureInput {
 public:
  // A file is read through a window of this many bytes.
  static constexpr std::size_t kWindow = std::size_t{1} << 20;

  // The caller's block, which must outlive the input.
  explicit PictureInput(std::span<const std::uint8_t> block);
  // A regular file open for reading; `fd` stays the caller's. `size` is its
  // size when it was opened. `cancel` is polled while it is read whole.
  PictureInput(int fd, std::uint64_t size, const CancelFlag* cancel = nullptr);
  PictureInput(const PictureInput&) = delete;
  PictureInput& operator=(const PictureInput&) = delete;
  ~PictureInput();

  std::uint64_t size() const { return size_; }
  // A file, whose bytes count against a budget once it is read whole.
  bool fromFile() const { return fd_ >= 0; }

  // Up to `length` bytes from `offset`: fewer only where the data ends, none
  // past its end or after a failed read. Valid until the next call of bytes
  // or whole on this input.
  std::span<const std::uint8_t> bytes(std::uint64_t offset, std::size_t length);

  // Copies exactly out.size() bytes from `offset`; false when they are not
  // all there. For the few bytes of a header walk: a file's window is left
  // as it is.
  bool copy(std::uint64_t offset, std::span<std::uint8_t> out);

  // All the data in memory (a file is read whole, once); nullopt when the
  // memory cannot be had, the read fails or the cancel flag is raised.
  std::optional<std::span<const std::uint8_t>> whole();

  // Memory this input holds beside a caller's block: its window, or the
  // whole file once it has been read whole.
  std::uint64_t heldBytes() const;

  // A read of the file failed, the file ended before its size, or memory for
  // the window could not be had: what was decoded from it is not the file.
  bool failed() const { return failed_; }
  // Of those, the window that could not be had: the machine is out of
  // memory, and the data did not end where the reader saw it end.
  bool outOfMemory() const { return outOfMemory_; }

 private:
  // Reads [offset, offset + length) of the file into `out`; answers the
  // bytes read, marking the input failed when fewer came than the size promised.
  std::size_t readAt(std::uint64_t offset, std::uint8_t* out, std::size_t length);

  std::span<const std::uint8_t> block_;  // a block, or the file once read whole
  int fd_ = -1;
  std::uint64_t size_ = 0;
  const CancelFlag* cancel_ = nullptr;
  std::unique_ptr<std::uint8_t[]> buffer_;  // the window, or the whole file
  std::size_t capacity_ = 0;
  std::uint64_t windowStart_ = 0;
  std::size_t windowLength_ = 0;
  bool wholeRead_ = false;
  bool failed_ = false;
  bool outOfMemory_ = false;
};

}  // namespace pixmoor::image
