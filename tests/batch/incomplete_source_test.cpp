// A source whose data ended or broke off early, or that changed while it was
// read (a download still being written), never replaces itself: without a
// prefix the picture fails with its reason and the source stays byte for
// byte, in the window's batch and the companion's alike; with a prefix the
// output is written with its warning, unless not one row of it decoded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <thread>

#include "batch/process_picture.h"
#include "batch_test_support.h"
#include "encoders/encode.h"
#include "support/stuck_read.h"

namespace pixmoor::batch {
namespace {

using pixmoor::testing::readBytes;
using pixmoor::testing::TempFolder;
using pixmoor::testing::writeBytes;
using testing::folderNames;
using testing::readPicture;
using testing::writePicture;

settings::Settings withPrefix(const char* prefix, const char* format = "JPG") {
  return testing::relativeSettings(100, 100, format, prefix);
}

std::uint32_t crc32Of(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char c : bytes) {
    crc ^= static_cast<unsigned char>(c);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::uint32_t bigEndian32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// Breaks the picture data of a PNG in its middle while every chunk keeps a
// correct checksum: libpng's own check passes, inflating the data fails.
std::string withBrokenPictureData(std::string png) {
  const std::size_t idat = png.find("IDAT") - 4;
  const std::uint32_t length = bigEndian32(png, idat);
  for (std::size_t i = 0; i < 16; ++i) png[idat + 8 + length / 2 + i] = static_cast<char>(0xFF);
  const std::uint32_t crc = crc32Of(png.substr(idat + 4, 4 + length));
  for (std::size_t i = 0; i < 4; ++i) png[idat + 8 + length + i] = static_cast<char>(crc >> (24 - 8 * i));
  return png;
}

struct Broken {
  std::string name;
  std::string bytes;
  bool someRows;  // rows of it decoded before its data ended or broke
  FailureReason withoutPrefix = FailureReason::incomplete;
};

class IncompleteSource : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(writePicture(folder_.file("whole.jpg"), 400, 300, image::kJpegEncoder));
    ASSERT_TRUE(writePicture(folder_.file("whole.png"), 400, 300, image::kPngEncoder));
    const std::string jpeg = readBytes(folder_.file("whole.jpg"));
    const std::string png = readBytes(folder_.file("whole.png"));
    ::unlink(folder_.file("whole.jpg").c_str());
    ::unlink(folder_.file("whole.png").c_str());
    // The scan's first bytes follow its header (FF DA, then its length).
    const std::size_t scan = jpeg.find("\xFF\xDA");
    const std::size_t scanData =
        scan + 2 +
        (static_cast<unsigned char>(jpeg[scan + 2]) << 8 | static_cast<unsigned char>(jpeg[scan + 3]));
    const std::size_t idat = png.find("IDAT") - 4;
    broken_ = {
        {"half.jpg", jpeg.substr(0, jpeg.size() / 2), true},
        {"scan-begun.jpg", jpeg.substr(0, scanData + 2), false},
        {"half-cut.png", png.substr(0, png.size() / 2), true},
        // No picture data at all: its reader never takes the header.
        {"header-only.png", png.substr(0, idat), false, FailureReason::unknownFormat},
        {"data-begun.png", png.substr(0, idat + 8 + 12), false},
        {"broken-data.png", withBrokenPictureData(png), true},
    };
    for (const Broken& picture : broken_) writeBytes(folder_.file(picture.name), picture.bytes);
  }

  TempFolder folder_;
  std::vector<Broken> broken_;
};

TEST_F(IncompleteSource, NeverReplacesItselfWithoutAPrefix) {
  for (const image::FormatSet formats : {image::FormatSet::window, image::FormatSet::companion}) {
    for (const Broken& picture : broken_) {
      const std::string path = folder_.file(picture.name);
      // The output format of the source's own, so that the output is the source.
      const bool png = picture.name.ends_with(".png");
      const PictureOutcome outcome =
          processPicture(path, withPrefix("0", png ? "PNG" : "JPG"), nullptr, nullptr, std::nullopt, formats);
      EXPECT_EQ(outcome.outputPath, path);
      EXPECT_EQ(outcome.reason, picture.withoutPrefix) << picture.name;
      EXPECT_TRUE(readBytes(path) == picture.bytes) << picture.name << " was replaced";
    }
  }
  std::vector<std::string> names;
  for (const Broken& picture : broken_) names.push_back(picture.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(folderNames(folder_.path()), names);
}

TEST_F(IncompleteSource, WithAPrefixIsWrittenWithItsWarningUnlessNothingDecoded) {
  for (const Broken& picture : broken_) {
    const PictureOutcome outcome = processPicture(folder_.file(picture.name), withPrefix("p_"), nullptr);
    const std::string output = folder_.file("p_" + picture.name.substr(0, picture.name.find('.')) + ".jpg");
    if (picture.someRows) {
      EXPECT_TRUE(outcome.written()) << picture.name;
      EXPECT_EQ(outcome.warnings, std::vector<PictureWarning>{PictureWarning::truncated}) << picture.name;
      const auto facts = readPicture(output);
      ASSERT_TRUE(facts) << picture.name;
      EXPECT_EQ(facts->width, 100);
    } else {
      // Every pixel would be fill: no output that looks like a resized picture.
      EXPECT_EQ(outcome.reason, picture.withoutPrefix) << picture.name;
      EXPECT_FALSE(std::filesystem::exists(output)) << picture.name;
    }
  }
}

// A run-length BMP, 40 x 30, whose data ends before its first pixel, or
// half-way (an uncompressed one with less than half its rows is refused
// before it is decoded).
TEST_F(IncompleteSource, BmpWithoutAPixelIsNotWritten) {
  const auto bmp = [](const std::string& runs) {
    std::string file(54, '\0');
    const auto put32 = [&file](std::size_t at, std::uint32_t v) {
      for (std::size_t i = 0; i < 4; ++i) file[at + i] = static_cast<char>(v >> (8 * i));
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(10, 54 + 1024);
    put32(14, 40);
    put32(18, 40);  // width
    put32(22, 30);  // height
    put32(26, 1 | 8 << 16);
    put32(30, 1);  // RLE8
    for (std::uint32_t i = 0; i < 256; ++i)
      for (int c = 0; c < 4; ++c) file.push_back(static_cast<char>(c == 3 ? 0 : i));
    return file + runs;
  };
  std::string rows;
  for (int y = 0; y < 15; ++y) rows += std::string("\x28\x05\x00\x00", 4);    // 40 pixels, end of row
  writeBytes(folder_.file("no-pixel.bmp"), bmp(std::string("\x00\x02", 2)));  // a move without its offsets
  writeBytes(folder_.file("half.bmp"), bmp(rows));
  EXPECT_EQ(processPicture(folder_.file("no-pixel.bmp"), withPrefix("p_"), nullptr).reason,
            FailureReason::incomplete);
  const PictureOutcome half = processPicture(folder_.file("half.bmp"), withPrefix("p_"), nullptr);
  EXPECT_TRUE(half.written());
  EXPECT_EQ(half.warnings, std::vector<PictureWarning>{PictureWarning::truncated});
}

// The source grows (or is touched) while its first bytes are being read:
// its size or time at the end of the read is not what it was at the start.
class ChangedWhileRead : public ::testing::Test {
 protected:
  // Runs the pipeline on `source`, holding its first read until `change` has run.
  PictureOutcome processChanging(const std::string& source, const char* prefix,
                                 const std::function<void()>& change) {
    stuck_read::hangOn(source);
    PictureOutcome outcome;
    std::thread worker([&] { outcome = processPicture(source, withPrefix(prefix), nullptr); });
    const bool entered = stuck_read::waitUntilEntered();
    if (entered) change();
    stuck_read::release();
    worker.join();
    stuck_read::stopHanging();
    EXPECT_TRUE(entered);
    return outcome;
  }

  TempFolder folder_;
};

TEST_F(ChangedWhileRead, NeverReplacesTheSourceWithoutAPrefix) {
  const std::string source = folder_.file("download.jpg");
  ASSERT_TRUE(writePicture(source, 400, 300, image::kJpegEncoder));
  const std::string original = readBytes(source);
  const auto append = [&] {
    const int fd = ::open(source.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "more", 4), 4);
    ::close(fd);
  };
  PictureOutcome outcome = processChanging(source, "0", append);
  EXPECT_EQ(outcome.reason, FailureReason::changedWhileRead);
  EXPECT_TRUE(readBytes(source) == original + "more");

  // The same size, a new time.
  const auto touch = [&] {
    const std::array<timespec, 2> times{timespec{0, UTIME_OMIT}, timespec{1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times.data(), 0), 0);
  };
  outcome = processChanging(source, "0", touch);
  EXPECT_EQ(outcome.reason, FailureReason::changedWhileRead);
  EXPECT_TRUE(readBytes(source) == original + "more");
  EXPECT_EQ(folderNames(folder_.path()), std::vector<std::string>{"download.jpg"});

  // Untouched, it is replaced as usual.
  outcome = processChanging(source, "0", [] {});
  EXPECT_TRUE(outcome.written());
  EXPECT_TRUE(outcome.warnings.empty());
  EXPECT_FALSE(readBytes(source) == original + "more");
}

TEST_F(ChangedWhileRead, WithAPrefixIsWrittenWithAWarning) {
  const std::string source = folder_.file("download.jpg");
  ASSERT_TRUE(writePicture(source, 400, 300, image::kJpegEncoder));
  const PictureOutcome outcome = processChanging(source, "p_", [&] {
    const int fd = ::open(source.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "more", 4), 4);
    ::close(fd);
  });
  EXPECT_TRUE(outcome.written());
  EXPECT_EQ(outcome.warnings, std::vector<PictureWarning>{PictureWarning::changedWhileRead});
  EXPECT_TRUE(readPicture(folder_.file("p_download.jpg")));
}

}  // namespace
}  // namespace pixmoor::batch
