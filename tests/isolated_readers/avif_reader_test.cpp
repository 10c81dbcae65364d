// The AVIF reader over the conformance files: each good file equals
// libavif's own whole-picture decode (as avifdec makes it, samples above 8
// bits rounded) with the file's crop, rotation and mirror applied here in
// the plainest way, within one level; the transformed files also match the
// upright originals they were made from; the others give their reason.
// Reduction, header, budget, cancel, and the colours of code points.
#include "isolated_readers/avif_reader.h"

#include <avif/avif.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "foreign_test_support.h"
#include "metadata/nclx_profile.h"
#include "resample/resample.h"

namespace pixmoor::foreign {
namespace {

using image::DecodeFailure;
using image::PictureSize;
using image::ReadUpTo;
using namespace test_support;

// The first picture as libavif decodes it from memory, as stored (no
// transformation), to RGBA at its own depth, rounded here to 8 bits.
std::optional<Rgba> libraryDecode(const Bytes& file) {
  std::unique_ptr<avifDecoder, decltype(&avifDecoderDestroy)> decoder(avifDecoderCreate(),
                                                                      avifDecoderDestroy);
  std::unique_ptr<avifImage, decltype(&avifImageDestroy)> image(avifImageCreateEmpty(), avifImageDestroy);
  decoder->strictFlags = AVIF_STRICT_DISABLED;
  if (avifDecoderReadMemory(decoder.get(), image.get(), file.data(), file.size()) != AVIF_RESULT_OK)
    return std::nullopt;
  avifRGBImage rgb;
  avifRGBImageSetDefaults(&rgb, image.get());
  rgb.format = AVIF_RGB_FORMAT_RGBA;
  avifRGBImageAllocatePixels(&rgb);
  const avifResult converted = avifImageYUVToRGB(image.get(), &rgb);
  Rgba out{static_cast<int>(rgb.width), static_cast<int>(rgb.height), {}};
  const unsigned maximum = (1u << rgb.depth) - 1;
  for (std::uint32_t y = 0; converted == AVIF_RESULT_OK && y < rgb.height; ++y) {
    const std::uint8_t* row = rgb.pixels + std::size_t{y} * rgb.rowBytes;
    for (std::uint32_t i = 0; i < rgb.width * 4; ++i) {
      unsigned value = row[i];
      if (rgb.depth > 8) {
        std::uint16_t sample;
        std::memcpy(&sample, row + 2 * i, 2);
        value = (sample * 255u + maximum / 2) / maximum;
      }
      out.pixels.push_back(static_cast<std::uint8_t>(value));
    }
  }
  avifRGBImageFreePixels(&rgb);
  if (converted != AVIF_RESULT_OK) return std::nullopt;
  return out;
}

struct Crop {
  int x = 0, y = 0, width = 0, height = 0;  // width 0: none
};

// Crop, then `turns` quarter turns anti-clockwise, then a mirror (0: top and
// bottom exchanged, 1: left and right exchanged; -1: none).
Rgba transformed(Rgba picture, const Crop& crop, int turns, int mirror) {
  const auto remap = [&picture](int width, int height, auto from) {
    Rgba out{width, height, {}};
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const auto [sx, sy] = from(x, y);
        for (int c = 0; c < 4; ++c)
          out.pixels.push_back(static_cast<std::uint8_t>(channel(picture, sx, sy, c)));
      }
    picture = std::move(out);
  };
  if (crop.width != 0)
    remap(crop.width, crop.height, [&](int x, int y) { return std::pair{crop.x + x, crop.y + y}; });
  for (int turn = 0; turn < turns; ++turn) {
    const int w = picture.width;
    // The new row y is the old column w - 1 - y.
    remap(picture.height, w, [&](int x, int y) { return std::pair{w - 1 - y, x}; });
  }
  const int w = picture.width, h = picture.height;
  if (mirror == 0) remap(w, h, [&](int x, int y) { return std::pair{x, h - 1 - y}; });
  if (mirror == 1) remap(w, h, [&](int x, int y) { return std::pair{w - 1 - x, y}; });
  return picture;
}

enum class Expect { equalsLibrary, refused };

struct AvifFile {
  const char* path;
  Expect expect;
  PictureSize size = {};  // upright
  int depth = 24;
  int turns = 0;                   // irot, as the file's notes give it
  int mirror = -1;                 // imir
  Crop crop = {};                  // clap
  const char* original = nullptr;  // the upright picture the file was made from
  DecodeFailure reason = DecodeFailure::unrecognised;
};

void PrintTo(const AvifFile& file, std::ostream* out) {
  *out << file.path;
}

class AvifCorpus : public ::testing::TestWithParam<AvifFile> {};

TEST_P(AvifCorpus, ReadsAsExpected) {
  const AvifFile& file = GetParam();
  const std::string path = dataPath("avif/" + std::string(file.path));
  const image::Reading reading = readThrough(readAvif, path, {std::uint64_t{1} << 30});
  if (file.expect == Expect::refused) {
    EXPECT_FALSE(reading.picture.has_value());
    EXPECT_EQ(reading.failure, file.reason);
    return;
  }
  ASSERT_TRUE(reading.picture.has_value()) << static_cast<int>(reading.failure);
  const image::DecodedPicture& picture = *reading.picture;
  EXPECT_FALSE(picture.partial);
  EXPECT_EQ(picture.source.width, file.size.width);
  EXPECT_EQ(picture.source.height, file.size.height);
  ASSERT_EQ(picture.raster->depth, file.depth);
  const Rgba got = rgbaOf(*picture.raster);
  const auto stored = libraryDecode(readFile(path));
  ASSERT_TRUE(stored.has_value());
  EXPECT_LE(largestDifference(got, transformed(*stored, file.crop, file.turns, file.mirror)), 1);
  if (file.original != nullptr) {
    // Lossy copies: the right orientation gives 34 to 36 dB, a wrong one 11 to 13.
    const auto original = readReference(dataPath("avif/reference/" + std::string(file.original)));
    ASSERT_TRUE(original.has_value());
    EXPECT_GT(psnr(got, *original), 30.0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, AvifCorpus,
    ::testing::Values(
        AvifFile{"good/lu_fox.profile0.10bpc.yuv420.avif", Expect::equalsLibrary, {1204, 800}},
        AvifFile{"good/lu_fox.profile0.10bpc.yuv420.monochrome.avif", Expect::equalsLibrary, {1204, 800}},
        AvifFile{"good/lu_fox.profile0.10bpc.yuv420.odd-width.odd-height.avif",
                 Expect::equalsLibrary,
                 {1203, 799}},
        AvifFile{"good/lu_fox.profile0.8bpc.yuv420.avif", Expect::equalsLibrary, {1204, 800}},
        AvifFile{"good/lu_fox.profile0.8bpc.yuv420.odd-height.avif", Expect::equalsLibrary, {1204, 799}},
        AvifFile{"good/lu_fox.profile0.8bpc.yuv420.odd-width.avif", Expect::equalsLibrary, {1203, 800}},
        AvifFile{"good/lu_fox.profile1.10bpc.yuv444.avif", Expect::equalsLibrary, {1204, 800}},
        AvifFile{"good/lu_fox.profile1.10bpc.yuv444.odd-width.odd-height.avif",
                 Expect::equalsLibrary,
                 {1203, 799}},
        AvifFile{"good/lu_fox.profile1.8bpc.yuv444.odd-height.avif", Expect::equalsLibrary, {1204, 799}},
        AvifFile{
            "good/lu_fox.profile1.8bpc.yuv444.odd-width.odd-height.avif", Expect::equalsLibrary, {1203, 799}},
        AvifFile{"good/lu_fox.profile2.10bpc.yuv422.monochrome.avif", Expect::equalsLibrary, {1204, 800}},
        AvifFile{"good/lu_fox.profile2.10bpc.yuv422.odd-width.odd-height.avif",
                 Expect::equalsLibrary,
                 {1203, 799}},
        AvifFile{"good/lu_fox.profile2.12bpc.yuv420.monochrome.avif", Expect::equalsLibrary, {1204, 800}},
        AvifFile{"good/lu_fox.profile2.12bpc.yuv420.odd-width.odd-height.avif",
                 Expect::equalsLibrary,
                 {1203, 799}},
        AvifFile{"good/lu_fox.profile2.12bpc.yuv422.odd-width.odd-height.avif",
                 Expect::equalsLibrary,
                 {1203, 799}},
        AvifFile{"good/lu_fox.profile2.12bpc.yuv444.avif", Expect::equalsLibrary, {1204, 800}},
        AvifFile{"good/lu_fox.profile2.8bpc.yuv422.avif", Expect::equalsLibrary, {1204, 800}},
        AvifFile{"good/lu_fox.profile2.8bpc.yuv422.monochrome.avif", Expect::equalsLibrary, {1204, 800}},
        AvifFile{"good/lu_hato.profile0.8bpc.yuv420.no-cdef.avif", Expect::equalsLibrary, {3082, 2048}},
        AvifFile{"good/lu_hato.profile2.10bpc.yuv422.no-cdef.no-restoration.avif",
                 Expect::equalsLibrary,
                 {3082, 2048}},
        AvifFile{"good/lu_kimono.mirror-horizontal.avif",
                 Expect::equalsLibrary,
                 {722, 1024},
                 24,
                 0,
                 1,
                 {},
                 "linku/kimono.png"},
        AvifFile{"good/lu_kimono.mirror-vertical.avif",
                 Expect::equalsLibrary,
                 {722, 1024},
                 24,
                 0,
                 0,
                 {},
                 "linku/kimono.png"},
        AvifFile{"good/lu_kimono.rotate270.avif",
                 Expect::equalsLibrary,
                 {722, 1024},
                 24,
                 1,
                 -1,
                 {},
                 "linku/kimono.png"},
        AvifFile{"good/lu_kimono.rotate90.avif",
                 Expect::equalsLibrary,
                 {722, 1024},
                 24,
                 3,
                 -1,
                 {},
                 "linku/kimono.png"},
        AvifFile{"good/pil_exif.avif", Expect::equalsLibrary, {512, 512}},
        AvifFile{"good/pil_hopper.avif", Expect::equalsLibrary, {128, 128}},
        AvifFile{"good/pil_icc_profile_none.avif", Expect::equalsLibrary, {57, 57}},
        AvifFile{"good/pil_rot0mir0.avif", Expect::equalsLibrary, {640, 427}, 24, 0, 0},
        AvifFile{"good/pil_rot1mir0.avif", Expect::equalsLibrary, {640, 427}, 24, 1, 0},
        AvifFile{"good/pil_rot1mir1.avif", Expect::equalsLibrary, {640, 427}, 24, 3, 0},
        AvifFile{"good/pil_rot2mir1.avif", Expect::equalsLibrary, {640, 427}, 24, 0, 0},
        AvifFile{"good/pil_rot3mir0.avif", Expect::equalsLibrary, {640, 427}, 24, 3, 0},
        AvifFile{"good/pil_transparency.avif", Expect::equalsLibrary, {64, 64}, 32},
        AvifFile{"good/pil_xmp_tags_orientation.avif", Expect::equalsLibrary, {326, 268}},  // XMP ignored
        AvifFile{"good/made_p3.avif", Expect::equalsLibrary, {96, 64}},
        AvifFile{"good/made_12bit-444-alpha.avif", Expect::equalsLibrary, {96, 64}, 32},
        // An odd crop on 4:2:0 (libavif's strict mode refuses it), taken from the RGB rows.
        AvifFile{"questionable/lu_kimono.crop.avif",
                 Expect::equalsLibrary,
                 {385, 330},
                 24,
                 0,
                 -1,
                 {272, 39, 385, 330},
                 "linku/kimono.crop.png"},
        AvifFile{"questionable/pil_hopper-missing-pixi.avif", Expect::equalsLibrary, {128, 128}},
        AvifFile{.path = "questionable/made_pq.avif",  // PQ: an HDR curve
                 .expect = Expect::refused,
                 .reason = DecodeFailure::unsupportedFeature},
        // More pixels than libavif 0.11 takes (16384 x 16384).
        AvifFile{.path = "bad/hdr_lu_fox.profile0.8bpc.yuv420_ispe-30000x30000.avif",
                 .expect = Expect::refused,
                 .reason = DecodeFailure::tooLarge},
        AvifFile{"bad/trunc_lu_fox.profile0.8bpc.yuv420_half.avif", Expect::refused},
        AvifFile{"bad/trunc_pil_transparency_in-colour-data.avif", Expect::refused}));

TEST(AvifReader, TableCoversEveryFile) {
  std::size_t files = 0;
  for (const char* folder : {"good", "questionable", "bad"})
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dataPath("avif/") + folder))
      ++files;
  EXPECT_EQ(files, 42u);
}

// Reduced while converted, through the band of 4:2:0 rows and through a
// turn: byte for byte what resampling the whole picture gives.
TEST(AvifReader, ReducedWhileConvertedEqualsResamplingTheWhole) {
  for (const char* file : {"good/lu_fox.profile0.10bpc.yuv420.odd-width.odd-height.avif",
                           "good/lu_kimono.rotate90.avif", "questionable/lu_kimono.crop.avif"}) {
    SCOPED_TRACE(file);
    const std::string path = dataPath("avif/" + std::string(file));
    const image::Reading whole = readThrough(readAvif, path);
    ASSERT_TRUE(whole.picture.has_value());
    const int width = whole.picture->raster->width, height = whole.picture->raster->height;
    const image::ReduceTo reduce = [&](int w, int h) -> std::optional<PictureSize> {
      EXPECT_EQ(w, width);
      EXPECT_EQ(h, height);
      return PictureSize{w * 2 / 5, h / 3};
    };
    const image::Reading reduced = readThrough(readAvif, path, {}, &reduce);
    ASSERT_TRUE(reduced.picture.has_value());
    auto target = image::makeRaster(width * 2 / 5, height / 3, 24);
    ASSERT_TRUE(image::resampleOpaque(*whole.picture->raster, *target));
    EXPECT_EQ(rowsOf(*reduced.picture->raster), rowsOf(*target));
  }
}

TEST(AvifReader, HeaderAloneBudgetAndCancel) {
  const std::string path = dataPath("avif/good/lu_kimono.rotate90.avif");
  const image::Reading header = readThrough(readAvif, path, {}, nullptr, ReadUpTo::header);
  ASSERT_TRUE(header.header.has_value());
  EXPECT_EQ(header.header->size.width, 722);
  EXPECT_EQ(header.header->size.height, 1024);
  EXPECT_FALSE(header.picture.has_value());
  // The raster alone is 2.2 MB; dav1d's planes are counted beside it.
  const image::Reading tight = readThrough(readAvif, path, {std::uint64_t{3} << 20});
  EXPECT_FALSE(tight.header.has_value());
  EXPECT_EQ(tight.failure, DecodeFailure::overBudget);
  const image::CancelFlag raised{true};
  EXPECT_EQ(readThrough(readAvif, path, {image::kNoMemoryBudget, &raised}).failure, DecodeFailure::cancelled);
  // Raised once the header is taken: the picture's data is never decoded.
  image::CancelFlag later{false};
  const image::ReduceTo raise = [&later](int, int) {
    later = true;
    return std::optional<PictureSize>();
  };
  const image::Reading stopped = readThrough(readAvif, path, {image::kNoMemoryBudget, &later}, &raise);
  EXPECT_TRUE(stopped.header.has_value());
  EXPECT_FALSE(stopped.picture.has_value());
  EXPECT_EQ(stopped.failure, DecodeFailure::cancelled);
  // A file that lost its end after it was opened.
  const image::Reading shrunk =
      readThrough(readAvif, dataPath("avif/bad/trunc_lu_fox.profile0.8bpc.yuv420_half.avif"), {}, nullptr,
                  ReadUpTo::picture, 63490);
  EXPECT_FALSE(shrunk.picture.has_value());
  EXPECT_EQ(shrunk.failure, DecodeFailure::unrecognised);
}

// Colours given by code points: Display P3 carries its profile, sRGB none.
TEST(AvifReader, ColoursOfCodePointsBecomeAProfile) {
  const image::Reading p3 = readThrough(readAvif, dataPath("avif/good/made_p3.avif"));
  ASSERT_TRUE(p3.picture.has_value());
  EXPECT_EQ(p3.picture->iccProfile, profileForNclx({12, 13}).iccProfile);
  EXPECT_FALSE(p3.picture->iccProfile.empty());
  const image::Reading srgb = readThrough(readAvif, dataPath("avif/good/pil_hopper.avif"));
  ASSERT_TRUE(srgb.picture.has_value());
  EXPECT_TRUE(srgb.picture->iccProfile.empty());
}

}  // namespace
}  // namespace pixmoor::foreign
