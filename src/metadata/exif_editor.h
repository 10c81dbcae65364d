// The EXIF block carried from a source picture into its resized output.
//
// A block is a TIFF structure ("II" or "MM" first), as a PNG's eXIf chunk
// holds it and a JPEG's APP1 segment after its "Exif\0\0" mark. It is
// hostile: every offset and count of the directories the output keeps is
// checked against the block, a directory met twice is a loop, and a block
// that fails any check is refused whole, never half-edited. A block that
// passes is edited in place, so that nothing it holds moves (a maker note's
// own offsets stay valid):
//  - Orientation becomes 1: the output's pixels are already upright;
//  - ImageWidth, ImageLength, PixelXDimension and PixelYDimension, where
//    present, take the output's size;
//  - SubjectArea and SubjectLocation go (they point into the old pixels);
//  - the thumbnail directory (IFD1) is unlinked, and its bytes are cut off
//    where they end the block, or zeroed;
//  - on request the GPS directory goes: its pointer removed (from IFD0,
//    Exif or Interop, wherever it is), its bytes zeroed, and the maker
//    note with it, whose private layout may hold a location too; so that no
//    coordinate is left anywhere in the block. A block with two GPS
//    pointers, a GPS directory chaining another or a thumbnail directory
//    naming one is refused then.
// Pure functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pixmoor::image {

// The largest block a picture carries (a PNG's eXIf chunk may be larger in
// principle; no camera writes one so big).
inline constexpr std::size_t kMaxExifBytes = std::size_t{1} << 20;
// The most a JPEG's APP1 segment holds after its "Exif\0\0" mark.
inline constexpr std::size_t kMaxJpegExifBytes = 65533 - 6;

struct ExifEdits {
  int width = 0;  // the output's size
  int height = 0;
  bool removeGps = false;
};

// The edited block, or nullopt when `tiff` is no block the checks accept.
std::optional<std::vector<std::uint8_t>> normaliseExif(std::span<const std::uint8_t> tiff,
                                                       const ExifEdits& edits);

// Whether a block names a GPS directory from any of its directories.
bool exifHasGps(std::span<const std::uint8_t> tiff);

// The TIFF structure inside a container's EXIF payload: after a JPEG's
// "Exif\0\0" mark, after the 4-byte offset of a HEIF Exif item, or the
// payload itself; empty when none of them starts a TIFF header.
std::span<const std::uint8_t> exifTiffIn(std::span<const std::uint8_t> payload);

}  // namespace pixmoor::image
