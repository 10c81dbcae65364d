// The table of picture formats. Adding a format is adding its entry here
// (and its reader); nothing else lists formats.
#include "image/format_registry.h"

#include <algorithm>
#include <array>
#include <atomic>

#include "image/bmp_reader.h"
#include "image/decoder.h"
#include "image/encode.h"
#include "image/icon_reader.h"
#include "image/jpeg_reader.h"
#include "image/png_reader.h"

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

// JPEG 2000 and TIFF are names alone: the window takes such files, which
// then fail to load. Icon data is read from a file of any of these names,
// but no name is taken for it.
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
    FormatDescriptor{.name = "TIFF", .extensions = kTiffNames},
    FormatDescriptor{.name = "Windows icon",
                     .recognises = isIconContainer,
                     .read = readIconContainer,
                     .fuzzFamily = "ico"},
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

}  // namespace

std::span<const FormatDescriptor> pictureFormats() {
  return kFormats;
}

bool readerRegistered(const FormatDescriptor& format) {
  if (format.read == nullptr) return false;
  return !format.registeredAtStartUp || registered[indexOf(format)].load(std::memory_order_acquire);
}

const FormatDescriptor* formatOf(std::span<const std::uint8_t> head, FormatSet set) {
  head = head.first(std::min(head.size(), kMagicBytes));
  for (const FormatDescriptor& format : kFormats) {
    if (format.recognises != nullptr && format.recognises(head) && takenBy(format, set) &&
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
