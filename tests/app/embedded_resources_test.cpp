// The program's own resources as the binary carries them: the icon files
// with their exact entry sizes and depths, the logo and the cue, and their
// loading into the image store under their numbers.
#include "app/embedded_resources.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <span>
#include <utility>
#include <vector>

#include "codecs/format_registry.h"
#include "image_store/image_store.h"
#include "platform_core/wave_data.h"

namespace pixmoor::app::resources {
namespace {

std::uint32_t le16(std::span<const std::uint8_t> d, std::size_t at) {
  return d[at] | d[at + 1] << 8;
}
std::uint32_t le32(std::span<const std::uint8_t> d, std::size_t at) {
  return le16(d, at) | le16(d, at + 2) << 16;
}

// (size, bits per pixel) of every entry, as the directory and the entry's
// own header both say.
std::vector<std::pair<int, int>> iconEntries(std::span<const std::uint8_t> file) {
  std::vector<std::pair<int, int>> entries;
  if (file.size() < 6 || le16(file, 0) != 0 || le16(file, 2) != 1) return entries;
  const std::uint32_t count = le16(file, 4);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = 6 + 16 * i;
    const int size = file[at] == 0 ? 256 : file[at];
    const int bits = static_cast<int>(le16(file, at + 6));
    const std::uint32_t length = le32(file, at + 8);
    const std::uint32_t offset = le32(file, at + 12);
    EXPECT_LE(offset + length, file.size());
    EXPECT_EQ(le32(file, offset), 40u);                             // BITMAPINFOHEADER
    EXPECT_EQ(static_cast<int>(le32(file, offset + 4)), size);      // width
    EXPECT_EQ(static_cast<int>(le32(file, offset + 8)), 2 * size);  // XOR and AND masks
    EXPECT_EQ(static_cast<int>(le16(file, offset + 14)), bits);
    entries.emplace_back(size, bits);
  }
  return entries;
}

using Entries = std::set<std::pair<int, int>>;

TEST(EmbeddedResources, IconFilesHaveTheirEntries) {
  const Entries five = {{16, 4}, {32, 4}, {48, 4}, {16, 8}, {16, 32}};
  const Entries nine = {{16, 4}, {32, 4}, {48, 4}, {16, 8}, {32, 8}, {48, 8}, {16, 32}, {32, 32}, {48, 32}};
  const Entries seven = {{16, 4}, {32, 4}, {48, 4}, {16, 8}, {32, 8}, {16, 32}, {32, 32}};
  const struct {
    const char* name;
    std::span<const std::uint8_t> data;
    std::size_t bytes;
    const Entries* entries;
  } rows[] = {
      {"information", informationIcon(), 5278, &five},
      {"donate", donateIcon(), 5278, &five},
      {"update", updateIcon(), 5278, &five},
      {"visit", visitIcon(), 5278, &five},
      {"french", frenchIcon(), 25214, &nine},
      {"english", englishIcon(), 25214, &nine},
      {"dutch", dutchIcon(), 25214, &nine},
      {"spanish", spanishIcon(), 25214, &nine},
      {"desktop", desktopIcon(), 11790, &seven},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.data.size(), row.bytes);
    const auto entries = iconEntries(row.data);
    EXPECT_EQ(entries.size(), row.entries->size());
    EXPECT_EQ(Entries(entries.begin(), entries.end()), *row.entries);
  }
}

TEST(EmbeddedResources, IconsAndLogoLoadIntoTheStore) {
  image::registerPngDecoder();
  image::ImageStore store;
  const std::pair<int, std::span<const std::uint8_t>> icons[] = {
      {58, informationIcon()}, {59, donateIcon()},  {60, updateIcon()},
      {61, visitIcon()},       {62, frenchIcon()},  {64, englishIcon()},
      {63, dutchIcon()},       {65, spanishIcon()}, {66, desktopIcon()},
  };
  for (const auto& [number, data] : icons) {
    EXPECT_NE(store.loadFromMemory(number, data), 0u) << number;
    ASSERT_NE(store.record(number), nullptr) << number;
    EXPECT_TRUE(store.record(number)->isIcon) << number;
  }
  ASSERT_NE(store.loadFromMemory(57, logoPng()), 0u);
  EXPECT_EQ(store.imageWidth(57), 275);
  EXPECT_EQ(store.imageHeight(57), 47);
}

TEST(EmbeddedResources, CueIsAShortStereoWave) {
  const auto wave = platform::readWave(chimeWave());
  ASSERT_TRUE(wave.has_value());
  EXPECT_EQ(wave->channels, 2);
  EXPECT_EQ(wave->sampleRate, 22050);
  EXPECT_EQ(wave->bitsPerSample, 16);
  EXPECT_EQ(wave->samples.size(), 55684u);
}

}  // namespace
}  // namespace pixmoor::app::resources
