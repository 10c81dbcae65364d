// Pixel rasters: the memory behind every Image of the store.
//
// A raster is width x height pixels at 24 or 32 bits, rows stored bottom-up
// (storage row 0 is the bottom picture row), each row padded to a multiple of
// 4 bytes, bytes in blue, green, red (, alpha) order with straight alpha.
// New rasters start with every byte zero. Rasters own their pixels and are
// movable, not copyable; they carry no lock and belong to one thread at a time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace pixmoor::image {

// The largest side a picture may have: sizes are kept in signed 16 bits.
inline constexpr int kMaxSide = 32767;

// Set by another thread to ask long work (resampling, encoding) to give up.
using CancelFlag = std::atomic<bool>;

inline bool cancelled(const CancelFlag* flag) {
  return flag != nullptr && flag->load(std::memory_order_relaxed);
}

// Bytes per row for a raster of `width` pixels at `bitsPerPixel`, padded to 4.
// Also serves the packed rows of BMP data (1, 4, 8, 16 bits). Negative or
// overflowing results are reported as -1.
std::int64_t rowStride(std::int64_t width, int bitsPerPixel);

struct Raster {
  int width = 0;
  int height = 0;
  int depth = 0;   // 24 or 32
  int stride = 0;  // bytes per storage row

  std::uint8_t* data() { return pixels_.get(); }
  const std::uint8_t* data() const { return pixels_.get(); }
  std::size_t sizeBytes() const {
    return static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
  }

  // Storage row: 0 is the bottom row of the picture.
  std::uint8_t* storageRow(int y) {
    return data() + static_cast<std::size_t>(stride) * static_cast<std::size_t>(y);
  }
  const std::uint8_t* storageRow(int y) const {
    return data() + static_cast<std::size_t>(stride) * static_cast<std::size_t>(y);
  }
  // Picture row: 0 is the top row of the picture.
  std::uint8_t* pictureRow(int y) { return storageRow(height - 1 - y); }
  const std::uint8_t* pictureRow(int y) const { return storageRow(height - 1 - y); }

  int bytesPerPixel() const { return depth / 8; }

  struct FreeDeleter {
    void operator()(std::uint8_t* p) const noexcept;
  };
  std::unique_ptr<std::uint8_t, FreeDeleter> pixels_;
};

// Makes a zero-filled raster. A depth below 24 gives 24; above 24 gives 32.
// Fails (nullptr) for a side that is not positive or above kMaxSide, or when
// memory cannot be had.
std::unique_ptr<Raster> makeRaster(int width, int height, int depth);

}  // namespace pixmoor::image
