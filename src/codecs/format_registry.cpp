// The table of picture formats. Adding a format is adding its entry here
// (and its reader); nothing else lists formats.
#include "codecs/format_registry.h"

#include <algorithm>
#include <array>
#include <atomic>

#include "codecs/bmp_reader.h"
#include "codecs/decoder.h"
#include "codecs/icon_reader.h"
#include "codecs/jpeg_reader.h"
#include "codecs/png_reader.h"
#include "encoders/encode.h"

namespace pixmoor::image {
namespace {

bool startsWith(std::span<const std::uint8_t> head, std::initializer_list<std::uint8_t> bytes) {
  return head.size() >= bytes.size() && std::equal(bytes.begin(), bytes.end(), head.begin());
}

bool isJpeg(std::span<const std::uint8_t> head) {
  return startsWith(head, {0xFF, 0xD8});
}
bool isPng(std::span<const std::uint8_t> head) {
  return startsWith(head, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
}
bool isBmp(std::span<const std::uint8_t> head) {
  return startsWith(head, {'B', 'M'});
}
// Classic TIFF (version 42) or BigTIFF (43, 64-bit offsets), either byte order.
bool isTiff(std::span<const std::uint8_t> head) {
  return startsWith(head, {'I', 'I', 42, 0}) || startsWith(head, {'M', 'M', 0, 42}) ||
         startsWith(head, {'I', 'I', 43, 0}) || startsWith(head, {'M', 'M', 0, 43});
}
bool isGif(std::span<const std::uint8_t> head) {
  return startsWith(head, {'G', 'I', 'F', '8', '7', 'a'}) || startsWith(head, {'G', 'I', 'F', '8', '9', 'a'});
}
bool isWebp(std::span<const std::uint8_t> head) {
  return head.size() >= 12 && startsWith(head, {'R', 'I', 'F', 'F'}) &&
         std::equal(head.begin() + 8, head.begin() + 12, "WEBP");
}

// The brands of an ISO base media file's leading "ftyp" box, as far as the
// head holds them: the major brand, then the compatible ones.
std::vector<std::string_view> fileTypeBrands(std::span<const std::uint8_t> head) {
  std::vector<std::string_view> brands;
  if (head.size() < 12 || !std::equal(head.begin() + 4, head.begin() + 8, "ftyp")) return brands;
  const std::size_t boxSize =
      (std::size_t{head[0]} << 24) | (std::size_t{head[1]} << 16) | (std::size_t{head[2]} << 8) | head[3];
  const std::size_t end = std::min(boxSize, head.size());
  const auto* chars = reinterpret_cast<const char*>(head.data());
  brands.emplace_back(chars + 8, 4);
  for (std::size_t at = 16; at + 4 <= end; at += 4) brands.emplace_back(chars + at, 4);
  return brands;
}
bool hasBrand(const std::vector<std::string_view>& brands, std::initializer_list<std::string_view> wanted) {
  return std::any_of(brands.begin(), brands.end(), [&](std::string_view b) {
    return std::find(wanted.begin(), wanted.end(), b) != wanted.end();
  });
}
// AV1 in an image container: AVIF, whatever other brands it names.
bool isAvif(std::span<const std::uint8_t> head) {
  return hasBrand(fileTypeBrands(head), {"avif", "avis"});
}
// Any other still-image container of the HEIF family (HEVC pictures).
bool isHeif(std::span<const std::uint8_t> head) {
  const std::vector<std::string_view> brands = fileTypeBrands(head);
  return !hasBrand(brands, {"avif", "avis"}) &&
         hasBrand(brands, {"heic", "heix", "hevc", "hevx", "heim", "heis", "hevm", "hevs", "mif1", "msf1"});
}

// Little-endian 0 and 1: an icon container (cursors, type 2, are not).
bool isIconContainer(std::span<const std::uint8_t> head) {
  return startsWith(head, {0, 0, 1, 0});
}

Reading readJpeg(PictureInput& input, const DecodeLimits& limits, const ReduceTo* reduce, ReadUpTo upTo) {
  return readWith(jpegDecoder(), input, limits, reduce, upTo);
}
Reading readPng(PictureInput& input, const DecodeLimits& limits, const ReduceTo* reduce, ReadUpTo upTo) {
  return readWith(pngDecoder(), input, limits, reduce, upTo);
}
Reading readIconContainer(PictureInput& input, const DecodeLimits& limits, const ReduceTo*, ReadUpTo upTo) {
  return readIcon(input, limits, upTo, decodePng);
}

constexpr std::string_view kJpegNames[] = {".jpg", ".jpeg"};
constexpr std::string_view kJpeg2000Names[] = {".jp2"};
constexpr std::string_view kBmpNames[] = {".bmp"};
constexpr std::string_view kPngNames[] = {".png"};
constexpr std::string_view kTiffNames[] = {".tif"};
constexpr std::string_view kTiffCompanionNames[] = {".tiff"};
constexpr std::string_view kHeifNames[] = {".heic", ".heif"};
constexpr std::string_view kAvifNames[] = {".avif"};
constexpr std::string_view kWebpNames[] = {".webp"};
constexpr std::string_view kGifNames[] = {".gif"};

// JPEG 2000 is a name alone, and so is TIFF for the window: it takes such
// files, which then fail to load. Icon data is read from a file of any of
// these names, but no name is taken for it. The formats decoded in the
// helper process are the companion's alone.
constexpr std::array kFormats = {
    FormatDescriptor{.name = "JPEG",
                     .extensions = kJpegNames,
                     .recognises = isJpeg,
                     .read = readJpeg,
                     .registeredAtStartUp = true,
                     .writer = kJpegEncoder,
                     .fuzzFamily = "jpeg"},
    FormatDescriptor{.name = "JPEG 2000", .extensions = kJpeg2000Names},
    FormatDescriptor{
        .name = "BMP", .extensions = kBmpNames, .recognises = isBmp, .read = readBmp, .fuzzFamily = "bmp"},
    FormatDescriptor{.name = "PNG",
                     .extensions = kPngNames,
                     .recognises = isPng,
                     .read = readPng,
                     .registeredAtStartUp = true,
                     .writer = kPngEncoder,
                     .fuzzFamily = "png"},
    FormatDescriptor{.name = "TIFF",
                     .extensions = kTiffNames,
                     .companionExtensions = kTiffCompanionNames,
                     .recognises = isTiff,
                     .decodedIn = DecodePlace::helperProcess,
                     .fuzzFamily = "tiff"},
    FormatDescriptor{.name = "Windows icon",
                     .recognises = isIconContainer,
                     .read = readIconContainer,
                     .fuzzFamily = "ico"},
    FormatDescriptor{.name = "HEIF",
                     .companionExtensions = kHeifNames,
                     .recognises = isHeif,
                     .companionOnly = true,
                     .decodedIn = DecodePlace::helperProcess,
                     .fuzzFamily = "heif"},
    FormatDescriptor{.name = "AVIF",
                     .companionExtensions = kAvifNames,
                     .recognises = isAvif,
                     .companionOnly = true,
                     .decodedIn = DecodePlace::helperProcess,
                     .fuzzFamily = "avif"},
    FormatDescriptor{.name = "WebP",
                     .companionExtensions = kWebpNames,
                     .recognises = isWebp,
                     .companionOnly = true,
                     .decodedIn = DecodePlace::helperProcess,
                     .fuzzFamily = "webp"},
    FormatDescriptor{.name = "GIF",
                     .companionExtensions = kGifNames,
                     .recognises = isGif,
                     .companionOnly = true,
                     .decodedIn = DecodePlace::helperProcess,
                     .fuzzFamily = "gif"},
};

// Which library decoders start-up registered, by place in the table.
std::array<std::atomic<bool>, kFormats.size()> registered{};

std::size_t indexOf(const FormatDescriptor& format) {
  return static_cast<std::size_t>(&format - kFormats.data());
}

void registerFormat(std::string_view name) {
  for (const FormatDescriptor& format : kFormats) {
    if (format.name == name) registered[indexOf(format)].store(true, std::memory_order_release);
  }
}

bool takenBy(const FormatDescriptor& format, FormatSet set) {
  return set == FormatSet::companion || !format.companionOnly;
}

// The window reads no format that needs the helper process, TIFF included,
// although it takes ".tif" names.
bool readBy(const FormatDescriptor& format, FormatSet set) {
  return takenBy(format, set) && (set == FormatSet::companion || format.decodedIn == DecodePlace::inProcess);
}

}  // namespace

std::span<const FormatDescriptor> pictureFormats() {
  return kFormats;
}

bool readerRegistered(const FormatDescriptor& format) {
  if (format.decodedIn == DecodePlace::helperProcess) return true;  // read by the helper's own readers
  if (format.read == nullptr) return false;
  return !format.registeredAtStartUp || registered[indexOf(format)].load(std::memory_order_acquire);
}

const FormatDescriptor* formatOf(std::span<const std::uint8_t> head, FormatSet set) {
  head = head.first(std::min(head.size(), kMagicBytes));
  for (const FormatDescriptor& format : kFormats) {
    if (format.recognises != nullptr && format.recognises(head) && readBy(format, set) &&
        readerRegistered(format))
      return &format;
  }
  return nullptr;
}

std::vector<std::string_view> pictureExtensions(FormatSet set) {
  std::vector<std::string_view> names;
  for (const FormatDescriptor& format : kFormats) {
    if (!takenBy(format, set)) continue;
    names.insert(names.end(), format.extensions.begin(), format.extensions.end());
    if (set == FormatSet::companion)
      names.insert(names.end(), format.companionExtensions.begin(), format.companionExtensions.end());
  }
  return names;
}

bool acceptsExtension(std::string_view extension, FormatSet set) {
  for (const FormatDescriptor& format : kFormats) {
    if (!takenBy(format, set)) continue;
    if (std::find(format.extensions.begin(), format.extensions.end(), extension) != format.extensions.end())
      return true;
    if (set == FormatSet::companion &&
        std::find(format.companionExtensions.begin(), format.companionExtensions.end(), extension) !=
            format.companionExtensions.end())
      return true;
  }
  return false;
}

void registerJpegDecoder() {
  registerFormat("JPEG");
}
void registerPngDecoder() {
  registerFormat("PNG");
}

}  // namespace pixmoor::image
