#include "image/header_probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "image/byte_cursor.h"
#include "image/dib_decoder.h"
#include "image/exif_orientation.h"
#include "image/icon_reader.h"
#include "image/png_reader.h"

namespace pixmoor::image {
namespace {

// Enough for nearly every header at once: a photo's EXIF block with its
// thumbnail usually fits, and the frame header follows it.
constexpr std::size_t kPrefixBytes = 64 * 1024;
// libjpeg's own limit on a side; between kMaxSide and it the reader itself
// refuses the size, above it the library fails the header.
constexpr std::uint32_t kJpegLibraryMaxSide = 65500;

// Bytes of an open file at any offset: from the prefix read at once, else
// read where they lie.
class FileBytes {
 public:
  FileBytes(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

  bool readPrefix() {
    prefix_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size_, kPrefixBytes)));
    return readAt(0, prefix_.data(), prefix_.size());
  }
  std::uint64_t size() const { return size_; }
  std::span<const std::uint8_t> prefix() const { return prefix_; }

  // `count` bytes from `offset`; nothing when they lie beyond the file.
  std::optional<std::span<const std::uint8_t>> at(std::uint64_t offset, std::size_t count) {
    if (offset > size_ || size_ - offset < count) return std::nullopt;
    if (offset + count <= prefix_.size())
      return std::span<const std::uint8_t>(prefix_).subspan(offset, count);
    scratch_.resize(count);
    if (!readAt(offset, scratch_.data(), count)) return std::nullopt;
    return std::span<const std::uint8_t>(scratch_);
  }

 private:
  bool readAt(std::uint64_t offset, std::uint8_t* out, std::size_t count) const {
    std::size_t done = 0;
    while (done < count) {
      const ssize_t got = ::pread(fd_, out + done, count - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  }

  int fd_;
  std::uint64_t size_;
  std::vector<std::uint8_t> prefix_;
  std::vector<std::uint8_t> scratch_;
};

PictureHeader answer(LoadStatus status, int width = 0, int height = 0) {
  PictureHeader header;
  header.status = status;
  if (status == LoadStatus::loaded) {
    header.width = width;
    header.height = height;
  }
  return header;
}

std::uint32_t bigEndian16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) << 8 | b[at + 1];
}
std::uint32_t bigEndian32(std::span<const std::uint8_t> b, std::size_t at) {
  return bigEndian16(b, at) << 16 | bigEndian16(b, at + 2);
}

// The BMP reader's header rules, with the pixel rows measured by the file's
// size instead of being read.
PictureHeader probeBmp(FileBytes& file) {
  ByteCursor cursor(file.prefix());
  cursor.skip(10);
  const std::uint32_t pixelOffset = cursor.u32();
  if (!cursor.ok() || pixelOffset > file.size()) return answer(LoadStatus::unknownFormat);
  bool sideTooLarge = false;
  const auto header = parseDibHeader(file.prefix(), 14, DibContainer::bmpFile, pixelOffset, &sideTooLarge);
  if (!header) return answer(sideTooLarge ? LoadStatus::unsupported : LoadStatus::unknownFormat);
  const auto pixelBytes = static_cast<std::int64_t>(file.size() - pixelOffset);
  if (header->compressed()) {
    constexpr std::int64_t kRleFreePixels = std::int64_t{1} << 24;
    constexpr std::int64_t kRlePixelsPerByte = 128;
    const std::int64_t area = std::int64_t{header->width} * header->height;
    if (pixelBytes < 2 || area > kRleFreePixels + kRlePixelsPerByte * pixelBytes)
      return answer(LoadStatus::unknownFormat);
  } else if (pixelBytes * 2 < dibPixelBytes(*header) || pixelBytes < dibPackedRowBytes(*header)) {
    return answer(LoadStatus::unknownFormat);
  }
  return answer(LoadStatus::loaded, header->width, header->height);
}

bool startsWith(std::span<const std::uint8_t> data, std::initializer_list<std::uint8_t> bytes) {
  return data.size() >= bytes.size() && std::equal(bytes.begin(), bytes.end(), data.begin());
}

// The markers libjpeg reads up to the first scan, as its header reading
// takes them: the frame header gives the size, the first EXIF block the
// orientation (also when it follows the frame header).
PictureHeader probeJpeg(FileBytes& file) {
  std::uint64_t at = 2;
  std::optional<std::pair<std::uint32_t, std::uint32_t>> size;
  std::optional<int> orientation;
  for (;;) {
    // Anything before a marker's 0xFF is skipped, and so are fill bytes and
    // a stuffed 0xFF 0x00.
    std::optional<std::span<const std::uint8_t>> byte;
    std::uint8_t marker = 0;
    while (marker == 0) {
      while ((byte = file.at(at, 1)) && (*byte)[0] != 0xFF) ++at;
      while ((byte = file.at(at, 1)) && (*byte)[0] == 0xFF) ++at;
      if (!byte) return answer(LoadStatus::unknownFormat);  // the data ended before the first scan
      marker = (*byte)[0];
      ++at;
    }
    if (marker == 0xD9 || marker == 0xD8) return answer(LoadStatus::unknownFormat);  // no picture
    if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;              // no length
    if (marker == 0xDA) break;                                                       // the first scan
    const auto lengthBytes = file.at(at, 2);
    if (!lengthBytes) return answer(LoadStatus::unknownFormat);
    const std::uint32_t length = bigEndian16(*lengthBytes, 0);
    if (length < 2) return answer(LoadStatus::unknownFormat);
    const bool frame = marker == 0xC0 || marker == 0xC1 || marker == 0xC2 || marker == 0xC9 || marker == 0xCA;
    const bool otherFrame = (marker >= 0xC3 && marker <= 0xCF) && marker != 0xC4 && marker != 0xCC && !frame;
    const bool skipped = marker == 0xC4 || marker == 0xCC || marker == 0xDB || marker == 0xDD ||
                         marker == 0xDC || marker == 0xFE || (marker >= 0xE0 && marker <= 0xEF);
    if (otherFrame || (!frame && !skipped))
      return answer(LoadStatus::unknownFormat);  // unsupported or unknown
    if (frame) {
      const auto body = file.at(at + 2, length - 2);
      if (size || !body || body->size() < 6) return answer(LoadStatus::unknownFormat);
      const std::uint32_t components = (*body)[5];
      if ((*body)[0] != 8 || components == 0 || components > 10 || body->size() != 6 + 3 * components)
        return answer(LoadStatus::unknownFormat);
      size = std::pair{bigEndian16(*body, 3), bigEndian16(*body, 1)};
      if (size->first == 0 || size->second == 0) return answer(LoadStatus::unknownFormat);
    } else if (marker == 0xE1 && !orientation && length >= 8) {
      const auto body = file.at(at + 2, length - 2);
      if (!body) return answer(LoadStatus::unknownFormat);
      if (startsWith(*body, {'E', 'x', 'i', 'f', 0, 0})) orientation = exifOrientation(*body);
    }
    at += length;
  }
  if (!size) return answer(LoadStatus::unknownFormat);
  const auto [width, height] = *size;
  if (width > kJpegLibraryMaxSide || height > kJpegLibraryMaxSide) return answer(LoadStatus::unknownFormat);
  if (width > static_cast<std::uint32_t>(kMaxSide) || height > static_cast<std::uint32_t>(kMaxSide))
    return answer(LoadStatus::unsupported);
  const bool turned = orientationSwapsSides(orientation.value_or(1));
  return answer(LoadStatus::loaded, static_cast<int>(turned ? height : width),
                static_cast<int>(turned ? width : height));
}

// The PNG header: the signature, then IHDR as libpng checks it.
PictureHeader probePng(FileBytes& file) {
  const auto data = file.prefix();
  if (data.size() < 33 || bigEndian32(data, 8) != 13 || std::memcmp(&data[12], "IHDR", 4) != 0)
    return answer(LoadStatus::unknownFormat);
  const std::uint32_t width = bigEndian32(data, 16);
  const std::uint32_t height = bigEndian32(data, 20);
  constexpr std::uint32_t kLargestValue = 0x7FFFFFFFu;
  const auto limit = static_cast<std::uint32_t>(kMaxSide);
  if ((width > limit && width <= kLargestValue) || (height > limit && height <= kLargestValue))
    return answer(LoadStatus::unsupported);
  const int bitDepth = data[24];
  const int colourType = data[25];
  const bool depthFits =
      (colourType == 0 &&
       (bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8 || bitDepth == 16)) ||
      (colourType == 3 && (bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8)) ||
      ((colourType == 2 || colourType == 4 || colourType == 6) && (bitDepth == 8 || bitDepth == 16));
  const auto checksum = crc32(crc32(0L, Z_NULL, 0), &data[12], 17);
  if (width == 0 || height == 0 || width > limit || height > limit || !depthFits || data[26] != 0 ||
      data[27] != 0 || data[28] > 1 || checksum != bigEndian32(data, 29))
    return answer(LoadStatus::unknownFormat);
  return answer(LoadStatus::loaded, static_cast<int>(width), static_cast<int>(height));
}

// Icons are read whole: which entry the reader takes needs its entries.
PictureHeader probeIcon(FileBytes& file) {
  if (file.size() > std::uint64_t{64} << 20) return answer(LoadStatus::unknownFormat);
  const auto whole = file.at(0, static_cast<std::size_t>(file.size()));
  if (!whole) return answer(LoadStatus::unreadable);
  const std::vector<std::uint8_t> data(whole->begin(), whole->end());
  const auto icon = readIcon(data, [](std::span<const std::uint8_t> entry) { return decodePng(entry); });
  // Data the icon reader cannot use is no JPEG or PNG either: it starts 0 0 1 0.
  if (!icon || icon->raster == nullptr) return answer(LoadStatus::unknownFormat);
  PictureHeader header = answer(LoadStatus::loaded, icon->raster->width, icon->raster->height);
  header.isIcon = true;
  return header;
}

}  // namespace

PictureHeader probePictureFile(const std::string& path) {
  // O_NONBLOCK: a FIFO named like a picture must not hang the plan; only a
  // regular file is read (where the flag has no effect).
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return answer(LoadStatus::unreadable);
  struct stat info {};
  PictureHeader header = answer(LoadStatus::unreadable);
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0) {
    FileBytes file(fd, static_cast<std::uint64_t>(info.st_size));
    if (file.readPrefix()) {
      const auto data = file.prefix();
      if (startsWith(data, {'B', 'M'})) {
        header = probeBmp(file);
      } else if (startsWith(data, {0, 0, 1, 0})) {
        header = probeIcon(file);
      } else if (startsWith(data, {0xFF, 0xD8})) {
        header = probeJpeg(file);
      } else if (startsWith(data, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) {
        header = probePng(file);
      } else {
        header = answer(LoadStatus::unknownFormat);
      }
    }
  }
  ::close(fd);
  return header;
}

}  // namespace pixmoor::image
