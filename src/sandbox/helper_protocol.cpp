#include "sandbox/helper_protocol.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "image/byte_cursor.h"
#include "image/decoded_picture.h"
#include "metadata/exif_editor.h"
#include "metadata/icc_profile.h"

namespace pixmoor::image {
namespace {

enum class Kind : std::uint8_t {
  header = 1,
  failure = 2,
  picture = 3,
  headerRead = 4,
  request = 16,
  target = 17,
};

constexpr std::size_t kFrameBytes = 8;
// The fixed parts.
constexpr std::size_t kHeaderBytes = 8;   // width, height
constexpr std::size_t kFailureBytes = 1;  // status
constexpr std::size_t kPictureBytes =
    20;  // width, height, depth, source depth, partial (2: nothing decoded), 0, profile and EXIF bytes
constexpr std::size_t kHeaderReadBytes = 6;  // EXIF bytes, reduced, depth
constexpr std::size_t kTargetBytes = 9;      // given, width, height
constexpr std::size_t kRequestBytes =
    22;  // file size, budget, CPU seconds, up to, name length; the name follows

// Load statuses on the wire, as numbers of their own: only what a reading
// answers travels.
constexpr std::array<std::pair<LoadStatus, std::uint8_t>, 5> kStatusCodes = {{
    {LoadStatus::unreadable, 1},
    {LoadStatus::unknownFormat, 2},
    {LoadStatus::unsupported, 3},
    {LoadStatus::tooLargeForMemory, 4},
    {LoadStatus::notConfined, 5},
}};

class Writer {
 public:
  Writer(Kind kind, std::size_t fixed) {
    bytes_.reserve(kFrameBytes + fixed);
    u8(static_cast<std::uint8_t>(kind));
    u8(0);
    u8(0);
    u8(0);
    u32(static_cast<std::uint32_t>(fixed));
  }
  void u8(std::uint8_t v) { bytes_.push_back(v); }
  void u32(std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) u8(static_cast<std::uint8_t>(v >> shift));
  }
  void u64(std::uint64_t v) {
    u32(static_cast<std::uint32_t>(v));
    u32(static_cast<std::uint32_t>(v >> 32));
  }
  void append(std::span<const std::uint8_t> data) { bytes_.insert(bytes_.end(), data.begin(), data.end()); }
  std::vector<std::uint8_t> take() { return std::move(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_;
};

std::uint64_t u64(ByteCursor& cursor) {
  const std::uint64_t low = cursor.u32();
  return low | std::uint64_t{cursor.u32()} << 32;
}

bool validSide(std::uint32_t side) {
  return side >= 1 && side <= static_cast<std::uint32_t>(kMaxSide);
}

// The next frame's kind and fixed part; nullopt when the bytes stop first
// (`ended`) or the frame is malformed. The fixed part's length must be the
// kind's own (`fixedOf`: nullopt for a kind not expected here).
struct Message {
  Kind kind;
  std::vector<std::uint8_t> fixed;
};

template <typename FixedOf>
std::optional<Message> readMessage(ByteSource& in, const FixedOf& fixedOf, bool& ended) {
  std::array<std::uint8_t, kFrameBytes> frame{};
  if (!in.read(frame)) {
    ended = true;
    return std::nullopt;
  }
  ByteCursor cursor(frame);
  const auto kind = static_cast<Kind>(cursor.u8());
  if (cursor.u8() != 0 || cursor.u8() != 0 || cursor.u8() != 0) return std::nullopt;
  const std::uint32_t length = cursor.u32();
  const std::optional<std::size_t> expected = fixedOf(kind);
  if (!expected || length != *expected) return std::nullopt;
  Message message{kind, std::vector<std::uint8_t>(length)};
  if (!in.read(message.fixed)) {
    ended = true;
    return std::nullopt;
  }
  return message;
}

std::optional<PictureSize> sizeIn(ByteCursor& cursor) {
  const std::uint32_t width = cursor.u32();
  const std::uint32_t height = cursor.u32();
  if (!cursor.ok() || !validSide(width) || !validSide(height)) return std::nullopt;
  return PictureSize{static_cast<int>(width), static_cast<int>(height)};
}

std::optional<LoadStatus> statusOfCode(std::uint8_t code) {
  for (const auto& [status, wire] : kStatusCodes) {
    if (wire == code) return status;
  }
  return std::nullopt;
}

// An EXIF block of `bytes` (already checked against its limit): a TIFF
// structure, as the readers hand it over, or nothing.
std::optional<std::vector<std::uint8_t>> receiveExif(ByteSource& in, std::uint32_t bytes, bool& ended) {
  std::vector<std::uint8_t> exif(bytes);
  if (!in.read(exif)) {
    ended = true;
    return std::nullopt;
  }
  if (!exif.empty() && exifTiffIn(exif).size() != exif.size()) return std::nullopt;
  return exif;
}

// A picture's fixed part, its profile and its rows, checked against the
// size foreseen and the budget before anything is allocated.
LoadStatus receivePicture(ByteSource& in, const Message& message, PictureSize expected,
                          std::uint64_t memoryBudget, DecodedPicture& picture, bool& ended) {
  ByteCursor cursor(message.fixed);
  const std::optional<PictureSize> size = sizeIn(cursor);
  const int depth = cursor.u8();
  const int sourceDepth = cursor.u8();
  const std::uint8_t partial = cursor.u8();
  const std::uint8_t zero = cursor.u8();
  const std::uint32_t profileBytes = cursor.u32();
  const std::uint32_t exifBytes = cursor.u32();
  if (!cursor.ok() || !size || size->width != expected.width || size->height != expected.height ||
      (depth != 24 && depth != 32) || sourceDepth < 1 || sourceDepth > 64 || partial > 2 || zero != 0 ||
      profileBytes > kMaxIccProfileBytes || exifBytes > kMaxExifBytes)
    return LoadStatus::damaged;
  const std::uint64_t bytes = rasterBytes(size->width, size->height, depth) + profileBytes + exifBytes;
  if (bytes > memoryBudget) return LoadStatus::damaged;

  std::vector<std::uint8_t> profile(profileBytes);
  if (!in.read(profile)) {
    ended = true;
    return LoadStatus::damaged;
  }
  if (!profile.empty() && !usableIccProfile(profile)) return LoadStatus::damaged;
  std::optional<std::vector<std::uint8_t>> exif = receiveExif(in, exifBytes, ended);
  if (!exif) return LoadStatus::damaged;
  std::unique_ptr<Raster> raster = makeRaster(size->width, size->height, depth);
  if (raster == nullptr) return LoadStatus::tooLargeForMemory;
  const std::size_t rowBytes = pictureRowBytes(*raster);
  for (int y = 0; y < raster->height; ++y) {
    if (!in.read({raster->storageRow(y), rowBytes})) {
      ended = true;
      return LoadStatus::damaged;
    }
  }
  picture.raster = std::move(raster);
  picture.sourceDepth = sourceDepth;
  picture.partial = partial != 0;
  picture.nothingDecoded = partial == 2;
  picture.iccProfile = std::move(profile);
  picture.exif = std::move(*exif);
  return LoadStatus::loaded;
}

}  // namespace

bool BlockSource::read(std::span<std::uint8_t> out) {
  if (out.size() > block_.size()) return false;
  std::copy_n(block_.begin(), out.size(), out.begin());
  block_ = block_.subspan(out.size());
  return true;
}

std::vector<std::uint8_t> encodeRequest(const HelperRequest& request) {
  const std::size_t nameLength = std::min(request.format.size(), kMaxHelperFormatName);
  Writer out(Kind::request, kRequestBytes + nameLength);
  out.u64(request.fileSize);
  out.u64(request.memoryBudget);
  out.u32(request.cpuSeconds);
  out.u8(request.upTo == ReadUpTo::header ? 0 : 1);
  out.u8(static_cast<std::uint8_t>(nameLength));
  out.append({reinterpret_cast<const std::uint8_t*>(request.format.data()), nameLength});
  return out.take();
}

std::optional<HelperRequest> readRequest(ByteSource& in) {
  std::array<std::uint8_t, kFrameBytes> frame{};
  if (!in.read(frame)) return std::nullopt;
  ByteCursor head(frame);
  const auto kind = static_cast<Kind>(head.u8());
  if (kind != Kind::request || head.u8() != 0 || head.u8() != 0 || head.u8() != 0) return std::nullopt;
  const std::uint32_t length = head.u32();
  if (length < kRequestBytes || length > kRequestBytes + kMaxHelperFormatName) return std::nullopt;
  std::vector<std::uint8_t> fixed(length);
  if (!in.read(fixed)) return std::nullopt;
  ByteCursor cursor(fixed);
  HelperRequest request;
  request.fileSize = u64(cursor);
  request.memoryBudget = u64(cursor);
  request.cpuSeconds = cursor.u32();
  const std::uint8_t upTo = cursor.u8();
  const std::uint8_t nameLength = cursor.u8();
  if (upTo > 1 || nameLength != length - kRequestBytes) return std::nullopt;
  const auto name = cursor.take(nameLength);
  if (!cursor.ok() || !name) return std::nullopt;
  request.upTo = upTo == 0 ? ReadUpTo::header : ReadUpTo::picture;
  for (const std::uint8_t c : *name) {
    if (c < 0x20 || c > 0x7E) return std::nullopt;
    request.format.push_back(static_cast<char>(c));
  }
  return request;
}

std::vector<std::uint8_t> encodeTarget(std::optional<PictureSize> target) {
  const bool given = target && target->width >= 1 && target->width <= kMaxSide && target->height >= 1 &&
                     target->height <= kMaxSide;
  Writer out(Kind::target, kTargetBytes);
  out.u8(given ? 1 : 0);
  out.u32(given ? static_cast<std::uint32_t>(target->width) : 0);
  out.u32(given ? static_cast<std::uint32_t>(target->height) : 0);
  return out.take();
}

bool readTarget(ByteSource& in, std::optional<PictureSize>& target) {
  bool ended = false;
  const auto message = readMessage(
      in, [](Kind kind) { return kind == Kind::target ? std::optional(kTargetBytes) : std::nullopt; }, ended);
  if (!message) return false;
  ByteCursor cursor(message->fixed);
  const std::uint8_t given = cursor.u8();
  if (given == 0) {
    target.reset();
    return cursor.u32() == 0 && cursor.u32() == 0 && cursor.ok();
  }
  target = sizeIn(cursor);
  return given == 1 && target.has_value();
}

std::vector<std::uint8_t> encodeHeader(PictureSize upright) {
  Writer out(Kind::header, kHeaderBytes);
  out.u32(static_cast<std::uint32_t>(upright.width));
  out.u32(static_cast<std::uint32_t>(upright.height));
  return out.take();
}

std::vector<std::uint8_t> encodeFailure(LoadStatus status) {
  Writer out(Kind::failure, kFailureBytes);
  std::uint8_t code = 0;  // read back as damaged
  for (const auto& [known, wire] : kStatusCodes) {
    if (known == status) code = wire;
  }
  out.u8(code);
  return out.take();
}

std::vector<std::uint8_t> encodeHeaderRead(const HeaderFacts& header) {
  Writer out(Kind::headerRead, kHeaderReadBytes);
  out.u32(static_cast<std::uint32_t>(header.exif.size()));
  out.u8(header.reduced ? 1 : 0);
  out.u8(static_cast<std::uint8_t>(header.rasterDepth));
  out.append(header.exif);
  return out.take();
}

std::size_t pictureRowBytes(const Raster& raster) {
  return static_cast<std::size_t>(raster.width) * static_cast<std::size_t>(raster.bytesPerPixel());
}

std::vector<std::uint8_t> encodePictureHead(const DecodedPicture& picture) {
  const Raster& raster = *picture.raster;
  Writer out(Kind::picture, kPictureBytes);
  out.u32(static_cast<std::uint32_t>(raster.width));
  out.u32(static_cast<std::uint32_t>(raster.height));
  out.u8(static_cast<std::uint8_t>(raster.depth));
  out.u8(static_cast<std::uint8_t>(std::clamp(picture.sourceDepth, 0, 255)));
  out.u8(!picture.partial ? 0 : picture.nothingDecoded ? 2 : 1);  // 2: not a row came from the data
  out.u8(0);
  out.u32(static_cast<std::uint32_t>(picture.iccProfile.size()));
  out.u32(static_cast<std::uint32_t>(picture.exif.size()));
  out.append(picture.iccProfile);
  out.append(picture.exif);
  return out.take();
}

PictureSize returnedSize(PictureSize picture, std::optional<PictureSize> target) {
  const ReduceTo asked = [target](int, int) { return target; };
  return reductionFor(&asked, picture.width, picture.height).value_or(picture);
}

HelperReply receiveDecode(ByteSource& in, ReadUpTo upTo, std::uint64_t memoryBudget,
                          const AnswerHeader& answer) {
  HelperReply reply;
  LoadedPicture& loaded = reply.loaded;
  loaded.status = LoadStatus::damaged;
  // A header only first; then the last message of the mode asked.
  const auto fixedOf = [&loaded, upTo](Kind kind) -> std::optional<std::size_t> {
    switch (kind) {
      case Kind::header:
        if (!loaded.headerTaken) return kHeaderBytes;
        break;
      case Kind::failure:
        return kFailureBytes;
      case Kind::picture:
        if (loaded.headerTaken && upTo == ReadUpTo::picture) return kPictureBytes;
        break;
      case Kind::headerRead:
        if (loaded.headerTaken && upTo == ReadUpTo::header) return kHeaderReadBytes;
        break;
      default:
        break;
    }
    return std::nullopt;
  };
  PictureSize expected;
  for (;;) {
    const std::optional<Message> message = readMessage(in, fixedOf, reply.ended);
    if (!message) return reply;  // damaged, or ended
    ByteCursor cursor(message->fixed);
    switch (message->kind) {
      case Kind::header: {
        const std::optional<PictureSize> size = sizeIn(cursor);
        if (!size) return reply;
        loaded.headerTaken = true;
        loaded.picture.source = *size;
        expected = returnedSize(*size, answer(*size));
        continue;
      }
      case Kind::failure: {
        const std::optional<LoadStatus> status = statusOfCode(cursor.u8());
        if (status) loaded.status = *status;
        return reply;
      }
      case Kind::headerRead: {
        const std::uint32_t exifBytes = cursor.u32();
        const std::uint8_t reduced = cursor.u8();
        const std::uint8_t depth = cursor.u8();
        if (exifBytes > kMaxExifBytes || exifBytes > memoryBudget || reduced > 1 ||
            (depth != 24 && depth != 32))
          return reply;
        loaded.header.reduced = reduced == 1;
        loaded.header.rasterDepth = depth;
        std::optional<std::vector<std::uint8_t>> exif = receiveExif(in, exifBytes, reply.ended);
        if (!exif) return reply;
        loaded.header.exif = std::move(*exif);
        loaded.status = LoadStatus::loaded;
        return reply;
      }
      case Kind::picture:
        loaded.status = receivePicture(in, *message, expected, memoryBudget, loaded.picture, reply.ended);
        if (!loaded.loaded()) loaded.picture.raster.reset();
        return reply;
      default:
        return reply;
    }
  }
}

}  // namespace pixmoor::image
