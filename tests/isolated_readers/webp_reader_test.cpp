#include "isolated_readers/webp_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "codecs/reference_picture.h"
#include "foreign_test_support.h"
#include "image/orientation.h"
#include "resample/resample.h"

namespace pixmoor::foreign {
namespace {

using image::DecodeFailure;
using image::DecodeLimits;
using image::PictureInput;
using image::PictureSize;
using image::Reading;
using image::ReadUpTo;
using image::ReduceTo;
using image::test_support::Bytes;
using image::test_support::countMismatches;
using image::test_support::put32;
using image::test_support::readFile;
using image::test_support::readReference;
using image::test_support::Rgba;

std::string dataPath(const std::string& relative) {
  return std::string(PIXMOOR_TEST_DATA) + "/webp/" + relative;
}

// The file read a piece at a time, as the helper reads it.
Reading readPath(const std::string& path, const DecodeLimits& limits = {}, const ReduceTo* reduce = nullptr,
                 ReadUpTo upTo = ReadUpTo::picture) {
  return test_support::readThrough(readWebp, path, limits, reduce, upTo);
}

Reading readBytes(const Bytes& bytes, const DecodeLimits& limits = {}, const ReduceTo* reduce = nullptr,
                  ReadUpTo upTo = ReadUpTo::picture) {
  PictureInput input(bytes);
  return readWebp(input, limits, reduce, upTo);
}

bool hasTransparency(const Rgba& reference) {
  for (std::size_t at = 3; at < reference.pixels.size(); at += 4)
    if (reference.pixels[at] != 255) return true;
  return false;
}

// Every good and questionable file against what libwebp's own tools make of
// it (reference/, see make_references.py): the first frame of an animation on
// its canvas, an EXIF orientation applied; 24 bits unless something shows
// through.
TEST(WebpReader, EveryGoodFileMatchesTheLibrarysOwnDecoding) {
  int files = 0;
  for (const char* folder : {"good", "questionable"}) {
    for (const auto& entry : std::filesystem::directory_iterator(dataPath(folder))) {
      SCOPED_TRACE(entry.path().filename().string());
      const auto reference = readReference(dataPath("reference/" + entry.path().stem().string() + ".png"));
      ASSERT_TRUE(reference.has_value());
      const Reading reading = readPath(entry.path().string());
      ASSERT_TRUE(reading.picture.has_value());
      const image::Raster& raster = *reading.picture->raster;
      EXPECT_FALSE(reading.picture->partial);
      ASSERT_EQ(raster.width, reference->width);
      ASSERT_EQ(raster.height, reference->height);
      EXPECT_EQ(reading.picture->source.width, reference->width);
      EXPECT_EQ(raster.depth, hasTransparency(*reference) ? 32 : 24);
      std::string first;
      EXPECT_EQ(countMismatches(raster, *reference, 1, &first), 0) << first;
      ++files;
    }
  }
  EXPECT_EQ(files, 25);
}

// libwebp's own expected output of its example file (a PPM, R G B).
TEST(WebpReader, LibwebpsExampleMatchesItsPublishedReference) {
  const Bytes ppm = readFile(dataPath("reference/libwebp/test_ref.ppm"));
  const std::string header = "P6\n128 128\n255\n";
  ASSERT_EQ(std::string(ppm.begin(), ppm.begin() + static_cast<long>(header.size())), header);
  Rgba reference{128, 128, {}};
  for (std::size_t at = header.size(); at + 3 <= ppm.size(); at += 3)
    reference.pixels.insert(reference.pixels.end(), {ppm[at], ppm[at + 1], ppm[at + 2], 255});
  const Reading reading = readPath(dataPath("good/lw_test.webp"));
  ASSERT_TRUE(reading.picture.has_value());
  EXPECT_EQ(countMismatches(*reading.picture->raster, reference, 1, nullptr), 0);
}

TEST(WebpReader, CarriesTheColourProfile) {
  const Reading reading = readPath(dataPath("good/pil_flower2.webp"));
  ASSERT_TRUE(reading.picture.has_value());
  // Taken out of the file with webpmux -get icc.
  EXPECT_EQ(reading.picture->iccProfile, readFile(dataPath("reference/pil_flower2.icc")));
}

// Damaged files give a reason or what they hold, never more.
TEST(WebpReader, BadFilesGiveAReasonOrTheRowsTheyHold) {
  struct Case {
    const char* file;
    bool picture;
    DecodeFailure failure;
  };
  const Case cases[] = {
      // A still picture whose canvas is not its size, as libwebp refuses it.
      {"bad/hdr_go_gopher-doc.1bpp_vp8x-canvas-16383.webp", false, DecodeFailure::unrecognised},
      // The picture's chunk is whole; only the container's size lies.
      {"bad/hdr_go_video-001_riff-size-4GiB.webp", true, {}},
      // Cut in its alpha plane, before any row can be made.
      {"bad/trunc_go_yellow_rose.lossy-with-alpha_in-alpha.webp", false, DecodeFailure::unrecognised},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const Reading reading = readPath(dataPath(c.file));
    EXPECT_EQ(reading.picture.has_value(), c.picture);
    if (!c.picture) {
      EXPECT_EQ(reading.failure, c.failure);
    }
  }
  // Cut before anything usable: nothing, no header, the container's head.
  const Bytes whole = readFile(dataPath("good/go_video-001.lossy.webp"));
  for (const long length : {0L, 11L, 30L}) {
    const Reading reading = readBytes(Bytes(whole.begin(), whole.begin() + length));
    EXPECT_FALSE(reading.picture.has_value()) << length;
    EXPECT_EQ(reading.failure, DecodeFailure::unrecognised) << length;
  }
}

// A file cut part-way keeps the rows that came, the rest black and clear.
TEST(WebpReader, TruncatedFileGivesThePartThatCame) {
  for (const char* file : {"bad/trunc_go_tux.lossless_half.webp", "good/go_yellow_rose.lossy.webp"}) {
    SCOPED_TRACE(file);
    Bytes bytes = readFile(dataPath(file));
    if (std::string(file).find("good") != std::string::npos) bytes.resize(bytes.size() / 2);
    const Reading reading = readBytes(bytes);
    ASSERT_TRUE(reading.picture.has_value());
    EXPECT_TRUE(reading.picture->partial);
    EXPECT_FALSE(reading.picture->nothingDecoded) << "its first rows came";
    const image::Raster& raster = *reading.picture->raster;
    const auto last = raster.pictureRow(raster.height - 1);
    EXPECT_TRUE(
        std::all_of(last, last + raster.width * raster.bytesPerPixel(), [](auto v) { return v == 0; }));
  }
}

// Every good file cut short gives the part that came or a reason. A picture
// not marked partial must be the whole file's: the cut fell after all it
// uses (an animation's later frames), never in its EXIF block.
TEST(WebpReader, EveryPrefixOfAGoodFileIsPartialOrRefused) {
  for (const auto& entry : std::filesystem::directory_iterator(dataPath("good"))) {
    const Bytes whole = readFile(entry.path().string());
    const Reading uncut = readBytes(whole);
    ASSERT_TRUE(uncut.picture.has_value());
    const image::Raster& full = *uncut.picture->raster;
    for (const std::size_t quarter : {1, 2, 3}) {
      SCOPED_TRACE(entry.path().filename().string() + " " + std::to_string(quarter) + "/4");
      const Reading reading =
          readBytes(Bytes(whole.begin(), whole.begin() + static_cast<long>(whole.size() * quarter / 4)));
      if (!reading.picture) {
        EXPECT_EQ(reading.failure, DecodeFailure::unrecognised);
      } else if (!reading.picture->partial) {
        ASSERT_EQ(reading.picture->raster->sizeBytes(), full.sizeBytes());
        ASSERT_EQ(std::memcmp(reading.picture->raster->data(), full.data(), full.sizeBytes()), 0);
      }
    }
  }
}

// go_video-001 (150 x 103) in an extended container with an EXIF block
// (big-endian, no "Exif" mark) saying `orientation`.
Bytes turnedVideo(int orientation) {
  const Bytes simple = readFile(dataPath("good/go_video-001.lossy.webp"));
  const Bytes image(simple.begin() + 12, simple.end());  // its VP8 chunk
  const std::uint8_t exif[] = {'M',  'M',  0, 42, 0, 0, 0, 8, 0, 1,
                               0x01, 0x12, 0, 3,  0, 0, 0, 1, 0, static_cast<std::uint8_t>(orientation),
                               0,    0,    0, 0,  0, 0};
  Bytes body = {'W', 'E', 'B', 'P', 'V', 'P', '8', 'X'};
  put32(body, 10);
  body.insert(body.end(), {0x08, 0, 0, 0, 149, 0, 0, 102, 0, 0});  // EXIF present; 150 x 103
  body.insert(body.end(), image.begin(), image.end());
  body.insert(body.end(), {'E', 'X', 'I', 'F'});
  put32(body, sizeof exif);
  body.insert(body.end(), std::begin(exif), std::end(exif));
  Bytes file = {'R', 'I', 'F', 'F'};
  put32(file, static_cast<std::uint32_t>(body.size()));
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

TEST(WebpReader, ExifOrientationTurnsThePictureUpright) {
  const auto reference = readReference(dataPath("reference/go_video-001.lossy.png"));
  ASSERT_TRUE(reference.has_value());
  for (const int orientation : {3, 6, 7}) {
    SCOPED_TRACE(orientation);
    const Bytes file = turnedVideo(orientation);
    const Reading header = readBytes(file, {}, nullptr, ReadUpTo::header);
    ASSERT_TRUE(header.header.has_value());
    EXPECT_FALSE(header.picture.has_value());
    const bool turned = orientation >= 5;
    EXPECT_EQ(header.header->size.width, turned ? 103 : 150);
    const Reading reading = readBytes(file);
    ASSERT_TRUE(reading.picture.has_value());
    const image::Raster& raster = *reading.picture->raster;
    ASSERT_EQ(raster.height, turned ? 150 : 103);
    int mismatches = 0;
    for (int y = 0; y < 103; ++y) {
      for (int x = 0; x < 150; ++x) {
        const image::Position at = image::orientedPosition(orientation, x, y, 150, 103);
        const auto got = image::test_support::pixelAt(raster, at.x, at.y);
        const std::uint8_t* want = &reference->pixels[static_cast<std::size_t>(y * 150 + x) * 4];
        for (int c = 0; c < 3; ++c) mismatches += std::abs(got[c] - want[c]) > 1;
      }
    }
    EXPECT_EQ(mismatches, 0);
    // Cut in its EXIF block, after the picture: it may have lost its turn.
    const Reading cut = readBytes(Bytes(file.begin(), file.end() - 10));
    ASSERT_TRUE(cut.picture.has_value());
    EXPECT_TRUE(cut.picture->partial);
  }
}

// The five hopper files store one picture turned five ways: upright, they
// are the same picture, up to their lossy coding (a turn taken wrong differs
// by tens of levels on average).
TEST(WebpReader, OneStoredPictureFiveWaysIsOneUprightPicture) {
  const Reading first = readPath(dataPath("good/pil_hopper_orientation_2.webp"));
  ASSERT_TRUE(first.picture.has_value());
  for (const int orientation : {3, 5, 6, 8}) {
    const std::string name = "good/pil_hopper_orientation_" + std::to_string(orientation) + ".webp";
    const Reading other = readPath(dataPath(name));
    ASSERT_TRUE(other.picture.has_value());
    long difference = 0;
    for (int y = 0; y < 128; ++y) {
      for (int x = 0; x < 128; ++x) {
        const auto a = image::test_support::pixelAt(*first.picture->raster, x, y);
        const auto b = image::test_support::pixelAt(*other.picture->raster, x, y);
        for (int c = 0; c < 3; ++c) difference += std::abs(a[c] - b[c]);
      }
    }
    EXPECT_LT(difference / (128 * 128 * 3), 5) << name;
  }
}

// Reduced while decoded, an opaque picture is byte for byte the whole
// picture resampled; one with alpha comes back whole for the caller.
TEST(WebpReader, ReductionEqualsResamplingTheWholePicture) {
  struct Case {
    std::string name;
    Bytes file;
  };
  const std::vector<Case> cases = {
      {"lossy", readFile(dataPath("good/go_blue-purple-pink-large.simple-filter.lossy.webp"))},
      {"lossless", readFile(dataPath("good/go_blue-purple-pink-large.lossless.webp"))},
      {"orientation 6", turnedVideo(6)},
      {"orientation 5", readFile(dataPath("good/pil_hopper_orientation_5.webp"))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ReduceTo reduce = [](int width, int height) { return PictureSize{width / 3, height * 2 / 5}; };
    const Reading whole = readBytes(c.file);
    const Reading reduced = readBytes(c.file, {}, &reduce);
    ASSERT_TRUE(whole.picture.has_value());
    ASSERT_TRUE(reduced.picture.has_value());
    const image::Raster& source = *whole.picture->raster;
    auto expected = image::makeRaster(source.width / 3, source.height * 2 / 5, 24);
    ASSERT_TRUE(image::resampleOpaque(source, *expected));
    const image::Raster& got = *reduced.picture->raster;
    ASSERT_EQ(got.width, expected->width);
    ASSERT_EQ(got.height, expected->height);
    EXPECT_EQ(reduced.picture->source.width, source.width);
    for (int y = 0; y < got.height; ++y)
      ASSERT_EQ(
          std::memcmp(got.pictureRow(y), expected->pictureRow(y), static_cast<std::size_t>(got.width) * 3), 0)
          << "row " << y;
  }
  const ReduceTo half = [](int width, int height) { return PictureSize{width / 2, height / 2}; };
  const Reading alpha = readPath(dataPath("good/go_tux.lossless.webp"), {}, &half);
  ASSERT_TRUE(alpha.picture.has_value());
  EXPECT_EQ(alpha.picture->raster->width, 386);
}

TEST(WebpReader, LimitsAreCheckedFromTheHeader) {
  const std::string large = dataPath("good/go_blue-purple-pink-large.lossless.webp");  // 600 x 400
  for (const ReadUpTo upTo : {ReadUpTo::header, ReadUpTo::picture}) {
    // Less than the picture's own raster.
    const Reading reading = readPath(large, {600 * 400 * 3, nullptr}, nullptr, upTo);
    EXPECT_FALSE(reading.header.has_value());
    EXPECT_EQ(reading.failure, DecodeFailure::overBudget);
  }
  // The library's own planes count: a lossless picture is decoded whole as
  // 32-bit pixels, a lossy one a few rows at a time.
  const DecodeLimits tight{2'500'000, nullptr};
  EXPECT_EQ(readBytes(readFile(large), tight).failure, DecodeFailure::overBudget);
  EXPECT_TRUE(
      readBytes(readFile(dataPath("good/go_blue-purple-pink-large.no-filter.lossy.webp")), tight).picture);
  // An animation canvas wider than 32767.
  Bytes wide = readFile(dataPath("good/made_pil_different_transparency_mixed.webp"));
  wide[24] = 0x3E;  // 40000 - 1, little-endian in three bytes
  wide[25] = 0x9C;
  wide[26] = 0x00;
  EXPECT_EQ(readBytes(wide, {}, nullptr, ReadUpTo::header).failure, DecodeFailure::tooLarge);
  // A vast canvas its small first frame leaves empty is refused before any
  // raster; up to 16 megapixels it is a picture.
  Bytes vast = readFile(dataPath("good/made_pil_different_transparency_mixed.webp"));
  for (const int at : {24, 27}) {
    vast[at] = 0xFE;  // 16383 - 1
    vast[at + 1] = 0x3F;
  }
  const Reading refused = readBytes(vast, {}, nullptr, ReadUpTo::header);
  EXPECT_FALSE(refused.header.has_value());
  EXPECT_EQ(refused.failure, DecodeFailure::unrecognised);
  for (const int at : {24, 27}) {
    vast[at] = 0x9F;  // 4000 - 1
    vast[at + 1] = 0x0F;
  }
  EXPECT_TRUE(readBytes(vast, {}, nullptr, ReadUpTo::header).header.has_value());
}

// A Stop raised once the header is read ends the decode with no picture.
TEST(WebpReader, CancelIsSeenWhileDecoding) {
  for (const char* file :
       {"good/go_yellow_rose.lossy.webp", "good/go_blue-purple-pink-large.lossless.webp"}) {
    std::atomic<bool> cancel{false};
    const ReduceTo raise = [&cancel](int, int) {
      cancel = true;
      return std::nullopt;
    };
    const Reading reading = readPath(dataPath(file), {image::kNoMemoryBudget, &cancel}, &raise);
    EXPECT_FALSE(reading.picture.has_value()) << file;
    EXPECT_EQ(reading.failure, DecodeFailure::cancelled) << file;
  }
}

}  // namespace
}  // namespace pixmoor::foreign
