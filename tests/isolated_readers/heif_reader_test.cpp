// The HEIF reader over the conformance files: each good file equals the
// library's own whole-picture decode (interleaved RGB, as heif-convert
// makes it) within one level, the others give their reason; reduction,
// header, budget, cancel and a file that shrinks under the reader.
#include "isolated_readers/heif_reader.h"

#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <algorithm>
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

// Samples of the library's interleaved output rounded to 8 bits.
int eightBits(const std::uint8_t* samples, int index, int bits) {
  if (bits <= 8) return samples[index];
  const unsigned value = samples[2 * index] | samples[2 * index + 1] << 8;
  const unsigned maximum = (1u << bits) - 1;
  return static_cast<int>((value * 255 + maximum / 2) / maximum);
}

// The primary picture as libheif decodes it from memory to interleaved RGB
// or RGBA, transformations applied: the reference each good file must equal.
std::optional<Rgba> libraryDecode(const Bytes& file) {
  std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(),
                                                                      heif_context_free);
  heif_image_handle* handle = nullptr;
  if (heif_context_read_from_memory_without_copy(context.get(), file.data(), file.size(), nullptr).code !=
          0 ||
      heif_context_get_primary_image_handle(context.get(), &handle).code != 0)
    return std::nullopt;
  const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
  const int bits = heif_image_handle_get_luma_bits_per_pixel(handle);
  const heif_chroma chroma =
      bits > 8 ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
               : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
  heif_image* image = nullptr;
  const heif_error error = heif_decode_image(handle, &image, heif_colorspace_RGB, chroma, nullptr);
  heif_image_handle_release(handle);
  if (error.code != 0) return std::nullopt;
  Rgba out{heif_image_get_width(image, heif_channel_interleaved),
           heif_image_get_height(image, heif_channel_interleaved),
           {}};
  int stride = 0;
  const std::uint8_t* plane = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
  const int channels = alpha ? 4 : 3;
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x)
      for (int c = 0; c < 4; ++c)
        out.pixels.push_back(static_cast<std::uint8_t>(
            c < channels ? eightBits(plane + y * stride, x * channels + c, bits) : 255));
  heif_image_release(image);
  return out;
}

enum class Expect { equalsLibrary, refused };

struct HeifFile {
  const char* path;
  Expect expect;
  PictureSize size = {};  // upright, as the file's notes give it
  int depth = 24;
  DecodeFailure reason = DecodeFailure::unrecognised;  // when refused
};

void PrintTo(const HeifFile& file, std::ostream* out) {
  *out << file.path;
}

class HeifCorpus : public ::testing::TestWithParam<HeifFile> {};

TEST_P(HeifCorpus, ReadsAsExpected) {
  const HeifFile& file = GetParam();
  // The share of a budget a picture gets in the decode helper.
  const image::DecodeLimits limits{std::uint64_t{1} << 30};
  const image::Reading reading = readThrough(readHeif, dataPath("heif/" + std::string(file.path)), limits);
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
  const auto want = libraryDecode(readFile(dataPath("heif/" + std::string(file.path))));
  ASSERT_TRUE(want.has_value());
  EXPECT_LE(largestDifference(rgbaOf(*picture.raster), *want), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Files, HeifCorpus,
    ::testing::Values(
        HeifFile{"good/ffc_C002.heic", Expect::equalsLibrary, {1280, 720}},
        HeifFile{"good/ffc_C003.heic", Expect::equalsLibrary, {1280, 720}},
        HeifFile{"good/ffc_C006.heic", Expect::equalsLibrary, {1280, 720}, 32},  // alpha
        HeifFile{"good/ffc_C007.heic", Expect::equalsLibrary, {2560, 1440}},     // a grid
        HeifFile{"good/ffc_C010.heic", Expect::equalsLibrary, {1280, 720}},
        HeifFile{"good/ffc_C011.heic", Expect::equalsLibrary, {1280, 720}},
        HeifFile{"good/ffc_C015.heic", Expect::equalsLibrary, {1280, 720}},
        HeifFile{"good/ffc_C016.heic", Expect::equalsLibrary, {1280, 720}},
        HeifFile{"good/ffc_C018.heic", Expect::equalsLibrary, {640, 360}},
        HeifFile{"good/ffc_C019.heic", Expect::equalsLibrary, {640, 360}},  // its overlay crashes libheif
        HeifFile{"good/ffc_C021.heic", Expect::equalsLibrary, {1280, 720}},
        HeifFile{"good/ffc_C022.heic", Expect::equalsLibrary, {1440, 960}},  // a grid cropped
        HeifFile{"good/ffc_C025.heic", Expect::equalsLibrary, {128, 72}},
        HeifFile{"good/ffc_C034.heic", Expect::equalsLibrary, {1280, 720}},
        HeifFile{"good/ffc_C042.heic", Expect::equalsLibrary, {1280, 720}},  // imir: upside down
        HeifFile{"good/ffc_multilayer003.heic", Expect::equalsLibrary, {1024, 512}},
        HeifFile{"good/pil_hopper.heif", Expect::equalsLibrary, {128, 128}},
        HeifFile{"good/made_10bit-alpha.heic", Expect::equalsLibrary, {96, 64}, 32},
        HeifFile{"good/made_p3.heic", Expect::equalsLibrary, {96, 64}},
        HeifFile{"questionable/made_pq.heic", Expect::refused, {}, 24, DecodeFailure::unsupportedFeature},
        HeifFile{"questionable/ffc_C008.heic", Expect::refused},
        HeifFile{"questionable/ffc_C014.heic", Expect::refused},
        HeifFile{"questionable/ffc_C039.heic", Expect::refused},
        HeifFile{"questionable/ffc_multilayer001.heic", Expect::equalsLibrary, {1024, 512}},
        HeifFile{"questionable/ffc_multilayer004.heic", Expect::refused},
        HeifFile{"questionable/ffc_multilayer005.heic", Expect::equalsLibrary, {512, 256}},
        HeifFile{"bad/hdr_ffc_C002_iloc-length-2GiB.heic", Expect::refused},
        HeifFile{
            "bad/hdr_ffc_C002_ispe-30000x30000.heic", Expect::refused, {}, 24, DecodeFailure::overBudget},
        // libheif answers an error with the profile of an unknown code point, which is still the caller's to
        // free.
        HeifFile{"bad/fuzz_hopper_nclx-primaries-16385.heic", Expect::refused},
        HeifFile{"bad/trunc_ffc_C002_half.heic", Expect::refused},
        HeifFile{"bad/trunc_ffc_C006_in-alpha.heic", Expect::refused}));

// Every file of the folders is in the table above.
TEST(HeifReader, TableCoversEveryFile) {
  std::size_t files = 0;
  for (const char* folder : {"good", "questionable", "bad"})
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dataPath("heif/") + folder))
      ++files;
  EXPECT_EQ(files, 31u);
}

TEST(HeifReader, ReducedWhileConvertedEqualsResamplingTheWhole) {
  const std::string path = dataPath("heif/good/ffc_C042.heic");
  const image::Reading whole = readThrough(readHeif, path);
  ASSERT_TRUE(whole.picture.has_value());
  const image::ReduceTo reduce = [](int width, int height) -> std::optional<PictureSize> {
    EXPECT_EQ(width, 1280);
    EXPECT_EQ(height, 720);
    return PictureSize{333, 187};
  };
  const image::Reading reduced = readThrough(readHeif, path, {}, &reduce);
  ASSERT_TRUE(reduced.picture.has_value());
  EXPECT_EQ(reduced.picture->source.width, 1280);
  auto target = image::makeRaster(333, 187, 24);
  ASSERT_TRUE(image::resampleOpaque(*whole.picture->raster, *target));
  EXPECT_EQ(rowsOf(*reduced.picture->raster), rowsOf(*target));
}

TEST(HeifReader, HeaderAloneBudgetAndCancel) {
  const std::string path = dataPath("heif/good/ffc_C022.heic");
  const image::Reading header = readThrough(readHeif, path, {}, nullptr, ReadUpTo::header);
  ASSERT_TRUE(header.header.has_value());
  EXPECT_EQ(header.header->size.width, 1440);
  EXPECT_EQ(header.header->size.height, 960);
  EXPECT_FALSE(header.picture.has_value());
  // The raster alone is 4 MB; the library's planes are counted beside it.
  const image::Reading tight = readThrough(readHeif, path, {std::uint64_t{8} << 20});
  EXPECT_FALSE(tight.header.has_value());
  EXPECT_EQ(tight.failure, DecodeFailure::overBudget);
  const image::CancelFlag raised{true};
  EXPECT_EQ(readThrough(readHeif, path, {image::kNoMemoryBudget, &raised}).failure, DecodeFailure::cancelled);
}

// The sides the picture file claims: 32767 is taken (its header), one more
// is too large, whatever the coded picture holds.
TEST(HeifReader, SideAbove32767IsTooLarge) {
  const Bytes file = readFile(dataPath("heif/good/ffc_C002.heic"));
  const auto ispe =
      std::search(file.begin(), file.end(), std::begin("ispe"), std::end("ispe") - 1) - file.begin();
  ASSERT_LT(static_cast<std::size_t>(ispe), file.size());
  const std::string path =
      std::filesystem::temp_directory_path() / ("pixmoor-heif-sides-" + std::to_string(::getpid()));
  for (const std::uint32_t side : {32767u, 32768u}) {
    Bytes patched = file;
    for (int i = 0; i < 4; ++i) patched[ispe + 8 + i] = static_cast<std::uint8_t>(side >> (24 - 8 * i));
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(patched.data(), 1, patched.size(), out);
    std::fclose(out);
    const image::Reading reading = readThrough(readHeif, path, {}, nullptr, ReadUpTo::header);
    if (side == 32767u) {
      ASSERT_TRUE(reading.header.has_value());
      EXPECT_EQ(reading.header->size.width, 32767);
    } else {
      EXPECT_FALSE(reading.header.has_value());
      EXPECT_EQ(reading.failure, DecodeFailure::tooLarge);
    }
  }
  std::remove(path.c_str());
}

// Beyond 16 megapixels a grid must be painted by its tiles: the 2 x 2 grid
// of 1280 x 720 tiles declared larger (in its ispe and its grid data) is
// refused from the header, before libheif allocates the grid.
TEST(HeifReader, AGridItsTilesCannotPaintIsRefusedFromTheHeader) {
  const Bytes file = readFile(dataPath("heif/good/ffc_C007.heic"));
  const auto find = [&file](const Bytes& what) {
    return static_cast<std::size_t>(std::search(file.begin(), file.end(), what.begin(), what.end()) -
                                    file.begin());
  };
  const std::size_t ispe = find({0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x05, 0xA0});  // 2560 x 1440
  const std::size_t grid = find({0, 0, 1, 1, 0x0A, 0x00, 0x05, 0xA0});              // 2 x 2, 2560 x 1440
  ASSERT_LT(ispe, file.size());
  ASSERT_LT(grid, file.size());
  const std::string path =
      std::filesystem::temp_directory_path() / ("pixmoor-heif-grid-" + std::to_string(::getpid()));
  struct Row {
    std::uint32_t side;
    bool refused;
  };
  // 2560 x 2560 is painted by more than half (3.7 of 6.6 megapixels, under
  // the 16 free anyway); 6000 x 6000 and 30000 x 30000 are not.
  for (const Row row : {Row{2560, false}, Row{6000, true}, Row{30000, true}}) {
    Bytes patched = file;
    for (int i = 0; i < 4; ++i) {
      patched[ispe + i] = patched[ispe + 4 + i] = static_cast<std::uint8_t>(row.side >> (24 - 8 * i));
    }
    for (int i = 0; i < 2; ++i) {
      patched[grid + 4 + i] = patched[grid + 6 + i] = static_cast<std::uint8_t>(row.side >> (8 - 8 * i));
    }
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(patched.data(), 1, patched.size(), out);
    std::fclose(out);
    const image::Reading reading = readThrough(readHeif, path, {}, nullptr, ReadUpTo::header);
    EXPECT_EQ(!reading.header, row.refused) << row.side;
    if (row.refused) {
      EXPECT_EQ(reading.failure, DecodeFailure::unrecognised) << row.side;
    }
  }
  std::remove(path.c_str());
}

// Colours given by code points: Display P3 carries its profile, sRGB none.
TEST(HeifReader, ColoursOfCodePointsBecomeAProfile) {
  const image::Reading p3 = readThrough(readHeif, dataPath("heif/good/made_p3.heic"));
  ASSERT_TRUE(p3.picture.has_value());
  EXPECT_FALSE(p3.picture->iccProfile.empty());
  EXPECT_EQ(p3.picture->iccProfile, profileForNclx({12, 13}).iccProfile);
  const image::Reading plain = readThrough(readHeif, dataPath("heif/good/ffc_C002.heic"));
  ASSERT_TRUE(plain.picture.has_value());
  EXPECT_TRUE(plain.picture->iccProfile.empty());
}

// libheif asserts that the data it located can be read: a file that lost
// its end after it was opened is refused, the process lives on.
TEST(HeifReader, FileShorterThanWhenOpenedIsRefused) {
  const std::string path = dataPath("heif/bad/trunc_ffc_C002_half.heic");
  const image::Reading reading = readThrough(readHeif, path, {}, nullptr, ReadUpTo::picture, 111897);
  EXPECT_FALSE(reading.picture.has_value());
  EXPECT_EQ(reading.failure, DecodeFailure::unrecognised);
}

}  // namespace
}  // namespace pixmoor::foreign
