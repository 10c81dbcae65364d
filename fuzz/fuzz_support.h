// What the fuzz targets share: the limits a run works under, the family a
// run explores (taken from the format registry), and a file in memory for
// the targets that read through a path, as the batch does.
//
// Two modes. By default pictures are refused above 4 megapixels, so that a
// run spends its time on parsing rather than on filling gigabyte rasters
// from tiny inputs. With PIXMOOR_FUZZ_MEMORY_BUDGET_MB set, the real limits
// apply instead: sides up to 32767 and that memory budget, as the batch has
// them; run it with libFuzzer's -malloc_limit_mb just above the budget, so
// that any allocation beyond the budget is a crash (scripts/fuzz.sh budget).
// With PIXMOOR_FUZZ_FAMILY set (a family of the registry: jpeg, png, ...),
// inputs of any other format are not kept, so a run stays in its family.
// With PIXMOOR_FUZZ_LIST_FAMILIES set, a target prints the registry's
// families, one a line, and ends (scripts/fuzz.sh asks so).
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "codecs/decoder.h"
#include "codecs/format_registry.h"
#include "image/memory_budget.h"

namespace pixmoor::fuzz {

inline constexpr std::uint64_t kPixelLimit = std::uint64_t{1} << 22;

struct FuzzSetup {
  std::uint64_t memoryBudget = 0;  // 0: the capped mode
  const image::FormatDescriptor* family = nullptr;

  image::DecodeLimits limits() const {
    return {memoryBudget != 0 ? memoryBudget : image::kNoMemoryBudget, nullptr};
  }
};

inline FuzzSetup& setup() {
  static FuzzSetup instance;
  return instance;
}

// Reads the environment; called from LLVMFuzzerInitialize.
inline void initialise() {
  if (std::getenv("PIXMOOR_FUZZ_LIST_FAMILIES") != nullptr) {
    for (const image::FormatDescriptor& format : image::pictureFormats()) {
      if (!format.fuzzFamily.empty()) std::printf("%s\n", std::string(format.fuzzFamily).c_str());
    }
    std::exit(0);
  }
  image::registerJpegDecoder();
  image::registerPngDecoder();
  if (const char* budget = std::getenv("PIXMOOR_FUZZ_MEMORY_BUDGET_MB");
      budget != nullptr && *budget != '\0') {
    setup().memoryBudget = std::strtoull(budget, nullptr, 10) << 20;
  } else {
    image::setDecodePixelLimit(kPixelLimit);
  }
  if (const char* family = std::getenv("PIXMOOR_FUZZ_FAMILY"); family != nullptr && *family != '\0') {
    for (const image::FormatDescriptor& format : image::pictureFormats()) {
      if (format.fuzzFamily == family) setup().family = &format;
    }
    if (setup().family == nullptr) std::abort();  // a family the registry does not know
  }
}

inline std::uint64_t littleEndian(const std::uint8_t* p, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

// The BMP reader has no pixel limit of its own: headers above the limit are
// skipped in the capped mode.
inline bool bmpTooLarge(std::span<const std::uint8_t> data) {
  if (data.size() < 26 || data[0] != 'B' || data[1] != 'M') return false;
  const std::uint64_t headerSize = littleEndian(&data[14], 4);
  std::int64_t width = 0, height = 0;
  if (headerSize == 12) {
    width = static_cast<std::int64_t>(littleEndian(&data[18], 2));
    height = static_cast<std::int64_t>(littleEndian(&data[20], 2));
  } else {
    width = static_cast<std::int32_t>(littleEndian(&data[18], 4));
    height = static_cast<std::int32_t>(littleEndian(&data[22], 4));
  }
  return static_cast<std::uint64_t>(std::llabs(width)) * static_cast<std::uint64_t>(std::llabs(height)) >
         kPixelLimit;
}

// False for an input the run does not keep: of another family, or too
// large for the capped mode.
inline bool worthReading(std::span<const std::uint8_t> data) {
  if (setup().memoryBudget == 0 && bmpTooLarge(data)) return false;
  return setup().family == nullptr || image::formatOf(data, image::FormatSet::companion) == setup().family;
}

// A regular file in memory (memfd), named by a path the loader can open.
class MemoryFile {
 public:
  MemoryFile() : fd_(::memfd_create("pixmoor-fuzz", MFD_CLOEXEC)) {
    if (fd_ < 0) std::abort();
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() { ::close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // The file now holds exactly `data`.
  const std::string& hold(std::span<const std::uint8_t> data) {
    if (::ftruncate(fd_, 0) != 0) std::abort();
    std::size_t done = 0;
    while (done < data.size()) {
      const ssize_t wrote = ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(done));
      if (wrote <= 0) std::abort();
      done += static_cast<std::size_t>(wrote);
    }
    return path_;
  }

 private:
  int fd_;
  std::string path_;
};

// Reads one byte of every row the picture has, so that memory the reader
// did not initialise or does not own is caught.
inline void touchEveryRow(const image::Raster& raster) {
  unsigned sum = 0;
  for (int y = 0; y < raster.height; ++y) sum += raster.storageRow(y)[raster.stride - 1];
  if (sum == 0xFFFFFFFFu) std::abort();  // keeps the reads
}

}  // namespace pixmoor::fuzz
