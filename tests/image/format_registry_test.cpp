// The format registry: the window's names and readers stay as they are,
// every format's good test files are recognised as that format and no
// other, and the table keeps the rules a new entry must follow.
#include "image/format_registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "decode_test_support.h"
#include "image/encoder_registry.h"

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
        const FormatDescriptor* found = formatOf(bytes, FormatSet::window);
        ASSERT_NE(found, nullptr) << entry.path();
        if (found == &format) readBy.insert(format.name);
        EXPECT_EQ(found, formatOf(bytes, FormatSet::companion)) << entry.path();
      }
    }
  }
  EXPECT_EQ(readBy, (std::set<std::string_view>{"JPEG", "PNG", "BMP", "Windows icon"}));
  EXPECT_EQ(formatOf(std::vector<std::uint8_t>{'I', 'I', 42, 0}, FormatSet::companion), nullptr) << "TIFF";
  EXPECT_EQ(formatOf(std::vector<std::uint8_t>{0, 0, 2, 0}, FormatSet::window), nullptr) << "a cursor";
  EXPECT_EQ(formatOf(std::vector<std::uint8_t>{0xFF}, FormatSet::window), nullptr) << "one byte";
}

// What a new entry must respect: a reader comes with a magic test and a
// fuzz family with seeds; a format decoded in a helper process is the
// companion's alone (the window reads nothing out of process); a writer is
// one the encoder registry has.
TEST(FormatRegistry, EntriesKeepTheTableRules) {
  registerJpegEncoder();
  registerPngEncoder();
  std::set<std::string_view> names;
  std::set<std::string_view> families;
  for (const FormatDescriptor& format : pictureFormats()) {
    SCOPED_TRACE(std::string(format.name));
    EXPECT_TRUE(names.insert(format.name).second);
    EXPECT_EQ(format.read != nullptr, format.recognises != nullptr);
    if (format.read != nullptr) {
      EXPECT_TRUE(families.insert(format.fuzzFamily).second);
      EXPECT_TRUE(std::filesystem::is_directory(decodetest::testData(std::string(format.fuzzFamily))));
    }
    EXPECT_TRUE(format.decodedIn == DecodePlace::inProcess || format.companionOnly);
    EXPECT_TRUE(format.writer == 0 || findEncoder(format.writer).has_value());
    for (const auto names : {format.extensions, format.companionExtensions}) {
      for (const std::string_view name : names) {
        EXPECT_EQ(name.front(), '.');
        for (const char c : name) EXPECT_FALSE(c >= 'A' && c <= 'Z') << name;
      }
    }
  }
}

}  // namespace
}  // namespace pixmoor::image
