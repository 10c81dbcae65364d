// The EXIF editor on a block laid out by hand: what it changes, what it
// removes for good, and every broken block refused whole. The tags an
// output keeps are read back by exiftool in the companion's metadata tests.
#include "metadata/exif_editor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "metadata/exif_orientation.h"

namespace pixmoor::image {
namespace {

using Block = std::vector<std::uint8_t>;

void put16(Block& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(Block& b, std::size_t at, std::uint32_t v) {
  put16(b, at, v & 0xFFFF);
  put16(b, at + 2, v >> 16);
}
std::uint32_t get32(const Block& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
void entry(Block& b, std::size_t at, std::uint16_t tag, std::uint16_t type, std::uint32_t count,
           std::uint32_t value) {
  put16(b, at, tag);
  put16(b, at + 2, type);
  put32(b, at + 4, count);
  put32(b, at + 8, value);
}

// Little-endian, in file order:
//   0   header
//   8   IFD0: Orientation 6, ImageWidth 640, Exif -> 62, GPS -> 104; next IFD1 at 154
//   62  Exif: PixelXDimension 640, PixelYDimension 480, SubjectArea (4 shorts at 122)
//   104 GPS: GPSLatitude (3 rationals at 130)
//   122 SubjectArea's values
//   130 the latitude: 48/1 51/1 2988/100
//   154 IFD1: thumbnail at 184, 16 bytes
//   184 the thumbnail
constexpr std::size_t kIfd0 = 8, kExif = 62, kGps = 104, kLatitude = 130, kIfd1 = 154, kThumbnail = 184;
constexpr std::size_t kSubjectAreaEntry = kExif + 2 + 24;

Block phoneBlock() {
  Block b(200, 0);
  b[0] = 'I';
  b[1] = 'I';
  put16(b, 2, 42);
  put32(b, 4, kIfd0);
  put16(b, kIfd0, 4);
  entry(b, kIfd0 + 2, 0x0112, 3, 1, 6);
  entry(b, kIfd0 + 14, 0x0100, 4, 1, 640);
  entry(b, kIfd0 + 26, 0x8769, 4, 1, kExif);
  entry(b, kIfd0 + 38, 0x8825, 4, 1, kGps);
  put32(b, kIfd0 + 50, kIfd1);
  put16(b, kExif, 3);
  entry(b, kExif + 2, 0xA002, 3, 1, 640);
  entry(b, kExif + 14, 0xA003, 3, 1, 480);
  entry(b, kSubjectAreaEntry, 0x9214, 3, 4, 122);
  put16(b, kGps, 1);
  entry(b, kGps + 2, 0x0002, 5, 3, kLatitude);
  for (std::size_t i = 0; i < 4; ++i) put16(b, 122 + 2 * i, 10 + static_cast<std::uint32_t>(i));
  const std::uint32_t latitude[6] = {48, 1, 51, 1, 2988, 100};
  for (std::size_t i = 0; i < 6; ++i) put32(b, kLatitude + 4 * i, latitude[i]);
  put16(b, kIfd1, 2);
  entry(b, kIfd1 + 2, 0x0201, 4, 1, kThumbnail);
  entry(b, kIfd1 + 14, 0x0202, 4, 1, 16);
  std::fill(b.begin() + kThumbnail, b.end(), std::uint8_t{0xD8});
  return b;
}

TEST(ExifEditor, FitsTheBlockToTheOutputAndDropsTheThumbnail) {
  const std::optional<Block> out = normaliseExif(phoneBlock(), {320, 240, false});
  ASSERT_TRUE(out.has_value());
  Block expected = phoneBlock();
  put16(expected, kIfd0 + 2 + 8, 1);     // upright
  put32(expected, kIfd0 + 14 + 8, 320);  // ImageWidth
  put32(expected, kIfd0 + 50, 0);        // no IFD1
  put16(expected, kExif, 2);             // SubjectArea gone, the table one entry shorter
  put16(expected, kExif + 2 + 8, 320);
  put16(expected, kExif + 14 + 8, 240);
  put32(expected, kSubjectAreaEntry, 0);  // the next-IFD offset moved up
  std::fill(expected.begin() + kSubjectAreaEntry + 4, expected.begin() + kExif + 2 + 36 + 4, std::uint8_t{0});
  expected.resize(kIfd1);  // the thumbnail directory and picture ended the block: cut off
  EXPECT_EQ(*out, expected);
  EXPECT_EQ(tiffOrientation(*out), 1);
  EXPECT_TRUE(exifHasGps(*out));
}

TEST(ExifEditor, RemovingGpsLeavesNoCoordinateInTheBlock) {
  const std::optional<Block> out = normaliseExif(phoneBlock(), {320, 240, true});
  ASSERT_TRUE(out.has_value());
  EXPECT_FALSE(exifHasGps(*out));
  EXPECT_EQ(get32(*out, kIfd0 + 38), 0u) << "the GPS pointer's entry is gone";
  const auto zero = [&out](std::size_t from, std::size_t to) {
    return std::all_of(out->begin() + static_cast<std::ptrdiff_t>(from),
                       out->begin() + static_cast<std::ptrdiff_t>(to), [](auto b) { return b == 0; });
  };
  EXPECT_TRUE(zero(kGps, kGps + 18) && zero(kLatitude, kLatitude + 24)) << "the directory and its values";
  EXPECT_EQ(out->size(), kIfd1);
}

TEST(ExifEditor, AThumbnailThatDoesNotEndTheBlockIsZeroed) {
  Block b = phoneBlock();
  b.insert(b.end(), {1, 2, 3, 4});  // bytes after it, which a maker note might point to
  const std::optional<Block> out = normaliseExif(b, {320, 240, false});
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(out->size(), b.size());
  EXPECT_TRUE(std::all_of(out->begin() + kIfd1, out->begin() + 200, [](auto v) { return v == 0; }));
  EXPECT_EQ((*out)[200], 1);
}

TEST(ExifEditor, BigEndianBlocksAndContainerPayloads) {
  // A big-endian block from a JPEG's APP1 after its mark, and behind a
  // HEIF Exif item's offset.
  Block be = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0};
  const std::optional<Block> out = normaliseExif(be, {10, 10, true});
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(tiffOrientation(be), 8);
  EXPECT_EQ(tiffOrientation(*out), 1);

  Block app1 = {'E', 'x', 'i', 'f', 0, 0};
  app1.insert(app1.end(), be.begin(), be.end());
  EXPECT_EQ(exifTiffIn(app1).size(), be.size());
  Block item = {0, 0, 0, 6, 'E', 'x', 'i', 'f', 0, 0};
  item.insert(item.end(), be.begin(), be.end());
  EXPECT_EQ(exifTiffIn(item).data(), item.data() + 10);
  EXPECT_TRUE(exifTiffIn(Block{0, 0, 0, 200, 'M', 'M', 0, 42}).empty());
  EXPECT_TRUE(exifTiffIn(Block{'J', 'F', 'I', 'F'}).empty());
}

TEST(ExifEditor, BrokenBlocksAreRefusedWhole) {
  struct Case {
    const char* name;
    void (*breakIt)(Block&);
    bool removeGps = false;
  };
  const Case cases[] = {
      {"first directory past the end", [](Block& b) { put32(b, 4, 5000); }},
      {"not a TIFF header", [](Block& b) { put16(b, 2, 43); }},
      {"cut inside the GPS directory", [](Block& b) { b.resize(kGps + 8); }},
      {"cut inside the first directory", [](Block& b) { b.resize(40); }},
      {"Exif directory pointing back to the first", [](Block& b) { put32(b, kIfd0 + 26 + 8, kIfd0); }},
      {"GPS sharing the Exif directory", [](Block& b) { put32(b, kIfd0 + 38 + 8, kExif); }},
      {"a count of 2^31", [](Block& b) { put32(b, kSubjectAreaEntry + 4, 0x80000000u); }},
      {"a value past the end", [](Block& b) { put32(b, kSubjectAreaEntry + 8, 0xFFFFFFF0u); }},
      {"an unknown type", [](Block& b) { put16(b, kSubjectAreaEntry + 2, 99); }},
      {"65535 entries", [](Block& b) { put16(b, kExif, 0xFFFF); }},
      {"a pointer of two values", [](Block& b) { put32(b, kIfd0 + 26 + 4, 2); }},
      {"the first directory over the header", [](Block& b) { put32(b, 4, 6); }},
      {"a value inside the Exif directory", [](Block& b) { put32(b, kSubjectAreaEntry + 8, kExif); }},
      {"the Exif directory over the first", [](Block& b) { put32(b, kIfd0 + 26 + 8, kIfd0 + 14); }},
      {"GPS values inside the first directory, GPS removed", [](Block& b) { put32(b, kGps + 2 + 8, kIfd0); },
       true},
      {"GPS values inside the first directory, GPS kept", [](Block& b) { put32(b, kGps + 2 + 8, kIfd0); }},
  };
  for (const Case& c : cases) {
    Block b = phoneBlock();
    c.breakIt(b);
    EXPECT_FALSE(normaliseExif(b, {320, 240, c.removeGps}).has_value()) << c.name;
  }
  // A broken thumbnail directory goes anyway.
  Block thumbnail = phoneBlock();
  put32(thumbnail, kIfd1 + 2 + 8, 0xFFFFFF00u);
  const std::optional<Block> out = normaliseExif(thumbnail, {320, 240, false});
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(get32(*out, kIfd0 + 50), 0u);
}

}  // namespace
}  // namespace pixmoor::image
