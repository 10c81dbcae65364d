// The format registry: one description per picture format the program knows
// (image/picture_format.h), in a fixed table, and the questions everyone asks of
// it: which format some data is, which file names a program takes, which
// families the fuzzers run.
//
// The table is constant. What start-up changes is which library decoders
// are there (registerJpegDecoder, registerPngDecoder: a second call does
// nothing); that is done before any worker runs, and the flags are atomic,
// so every question may be asked from any thread. The window takes the
// names ".jpg", ".jpeg", ".jp2", ".bmp", ".png" and ".tif" and reads JPEG,
// PNG, BMP and icon data, whatever formats the companion gains.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "image/picture_format.h"

namespace pixmoor::image {

// Every format, in the order the window compares its file extensions.
std::span<const FormatDescriptor> pictureFormats();

// How many first bytes of some data a magic test is shown.
// (enough for the brands of an ISO base media file's "ftyp" box).
inline constexpr std::size_t kMagicBytes = 64;

// The format whose content starts as `head` does, among those `set` reads
// now (a reader of that set, registered when it must be); null when none.
const FormatDescriptor* formatOf(std::span<const std::uint8_t> head, FormatSet set);

// The file extensions `set` takes, in table order: the window's are exactly
// ".jpg", ".jpeg", ".jp2", ".bmp", ".png", ".tif" (JPEG 2000 and TIFF
// have no reader there: such files are taken and fail to load).
std::vector<std::string_view> pictureExtensions(FormatSet set);
// True when `extension` (lower case, dot included) is one of those.
bool acceptsExtension(std::string_view extension, FormatSet set);

// The library decoders: the window's start-up registers them (JPEG first);
// until then no JPEG or PNG data is read.
void registerJpegDecoder();
void registerPngDecoder();
// Whether a format's reader may be used now.
bool readerRegistered(const FormatDescriptor& format);

}  // namespace pixmoor::image
