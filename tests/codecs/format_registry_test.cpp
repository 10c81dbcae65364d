// The format registry: the window's names and readers stay as they are,
// every format's good test files are recognised as that format and no
// other, and the table keeps the rules a new entry must follow.
#include "codecs/format_registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <string_view>

#include "decode_test_support.h"
#include "encoders/encoder_registry.h"

namespace pixmoor::image {
namespace {

TEST(FormatRegistry, TheWindowTakesExactlyItsSixNames) {
  const std::vector<std::string_view> window = {".jpg", ".jpeg", ".jp2", ".bmp", ".png", ".tif"};
  EXPECT_EQ(pictureExtensions(FormatSet::window), window);
  for (const std::string_view name : window) EXPECT_TRUE(acceptsExtension(name, FormatSet::window)) << name;
  for (const std::string_view name : {".tiff", ".gif", ".ico", ".cur", ".jpe", ".JPG", ".", ""})
    EXPECT_FALSE(acceptsExtension(name, FormatSet::window)) << name;
  // The companion takes at least the window's names.
  for (const std::string_view name : window)
    EXPECT_TRUE(acceptsExtension(name, FormatSet::companion)) << name;
}

TEST(FormatRegistry, EveryGoodFileIsRecognisedAsItsOwnFormat) {
  registerJpegDecoder();
  registerPngDecoder();
  std::set<std::string_view> readBy;
  for (const FormatDescriptor& format : pictureFormats()) {
    if (format.fuzzFamily.empty()) continue;
    for (const char* good : {"good", "g"}) {
      const std::filesystem::path folder = decodetest::testData(std::string(format.fuzzFamily) + "/" + good);
      if (!std::filesystem::is_directory(folder)) continue;
      for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const decodetest::Bytes bytes = decodetest::readFile(entry.path().string());
        // A few good files of other suites are other formats under this
        // family's name (a PNG named .jpg); the content decides.
        const FormatDescriptor* found = formatOf(bytes, FormatSet::companion);
        ASSERT_NE(found, nullptr) << entry.path();
        if (found == &format) readBy.insert(format.name);
        // The window reads none of the formats decoded in the helper (TIFF
        // among them, though it takes ".tif" names).
        const bool windowReads = !found->companionOnly && found->decodedIn != DecodePlace::helperProcess;
        EXPECT_EQ(formatOf(bytes, FormatSet::window), windowReads ? found : nullptr) << entry.path();
      }
    }
  }
  EXPECT_EQ(readBy, (std::set<std::string_view>{"JPEG", "PNG", "BMP", "Windows icon", "GIF", "WebP", "TIFF",
                                                "HEIF", "AVIF"}));
  // TIFF is a name the window takes but never reads; the companion reads it,
  // BigTIFF (version 43) included, in both byte orders.
  for (const std::vector<std::uint8_t>& head :
       std::vector<std::vector<std::uint8_t>>{{'I', 'I', 42, 0},
                                              {'M', 'M', 0, 42},
                                              {'I', 'I', 43, 0, 8, 0, 0, 0},
                                              {'M', 'M', 0, 43, 0, 8, 0, 0}}) {
    const FormatDescriptor* companion = formatOf(head, FormatSet::companion);
    EXPECT_EQ(formatOf(head, FormatSet::window), nullptr) << head[2] + head[3];
    EXPECT_EQ(companion == nullptr ? std::string_view() : companion->name, "TIFF") << head[2] + head[3];
  }
  EXPECT_EQ(formatOf(std::vector<std::uint8_t>{0, 0, 2, 0}, FormatSet::window), nullptr) << "a cursor";
  EXPECT_EQ(formatOf(std::vector<std::uint8_t>{0xFF}, FormatSet::window), nullptr) << "one byte";
}

// What a new entry must respect: a reader (here or in the helper process)
// comes with a magic test, an in-process one with a fuzz family with seeds;
// a writer is one the encoder registry has. (The window reads nothing out of
// process: the TIFF rows above.)
TEST(FormatRegistry, EntriesKeepTheTableRules) {
  registerJpegEncoder();
  registerPngEncoder();
  std::set<std::string_view> names;
  std::set<std::string_view> families;
  for (const FormatDescriptor& format : pictureFormats()) {
    SCOPED_TRACE(std::string(format.name));
    EXPECT_TRUE(names.insert(format.name).second);
    const bool decoded = format.read != nullptr || format.decodedIn == DecodePlace::helperProcess;
    EXPECT_EQ(decoded, format.recognises != nullptr);
    // Every in-process reader is fuzzed; a family has its seeds.
    if (format.read != nullptr) {
      EXPECT_FALSE(format.fuzzFamily.empty());
    }
    if (!format.fuzzFamily.empty()) {
      EXPECT_TRUE(families.insert(format.fuzzFamily).second);
      EXPECT_TRUE(std::filesystem::is_directory(decodetest::testData(std::string(format.fuzzFamily))));
    }
    EXPECT_TRUE(format.writer == 0 || findEncoder(format.writer).has_value());
    for (const auto names : {format.extensions, format.companionExtensions}) {
      for (const std::string_view name : names) {
        EXPECT_EQ(name.front(), '.');
        for (const char c : name) EXPECT_FALSE(c >= 'A' && c <= 'Z') << name;
      }
    }
  }
}

// The formats of the ISO base media file family are told apart by the brands
// of their "ftyp" box, which may come after a major brand they share.
TEST(FormatRegistry, ContainerBrandsTellHeifFromAvif) {
  using namespace std::string_view_literals;
  const auto ftyp = [](std::string brands) {
    std::vector<std::uint8_t> box = {0,   0,   0,   static_cast<std::uint8_t>(8 + brands.size()),
                                     'f', 't', 'y', 'p'};
    box.insert(box.end(), brands.begin(), brands.end());
    return box;
  };
  const struct {
    std::string_view brands;  // major brand, minor version, compatible brands
    const char* format;       // null: none
  } rows[] = {
      {"mif1\0\0\0\0heicmif1"sv, "HEIF"}, {"heic\0\0\0\0mif1heic"sv, "HEIF"},
      {"heis\0\0\0\0mif1heis"sv, "HEIF"}, {"avif\0\0\0\0avifmif1"sv, "AVIF"},
      {"mif1\0\0\0\0mif1avif"sv, "AVIF"}, {"mp42\0\0\0\0isommp42"sv, nullptr},
  };
  for (const auto& row : rows) {
    const std::string brands(row.brands);
    const FormatDescriptor* found = formatOf(ftyp(brands), FormatSet::companion);
    EXPECT_EQ(found == nullptr ? std::string_view() : found->name, row.format ? row.format : "")
        << row.brands.substr(0, 4);
    EXPECT_EQ(formatOf(ftyp(brands), FormatSet::window), nullptr) << row.brands.substr(0, 4);
  }
}

}  // namespace
}  // namespace pixmoor::image
