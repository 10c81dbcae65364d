// Colour profiles: the reassembly of a JPEG's APP2 segments, and a source's
// profile carried byte for byte into JPEG and PNG output (never into palette
// output, never with other metadata).
#include "metadata/icc_profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "codecs/decode_test_support.h"
#include "codecs/format_registry.h"
#include "encoders/encode.h"
#include "encoders/encode_test_support.h"
#include "image_store/image_store.h"

namespace pixmoor::image {
namespace {

using decodetest::Bytes;

Bytes displayP3() {
  return decodetest::readFile(decodetest::testData("icc/DisplayP3.icc"));
}

// An APP2 payload: "ICC_PROFILE\0", sequence number, count, then `part`.
Bytes iccSegment(int number, int count, const Bytes& part) {
  Bytes out = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
  out.push_back(static_cast<std::uint8_t>(number));
  out.push_back(static_cast<std::uint8_t>(count));
  out.insert(out.end(), part.begin(), part.end());
  return out;
}

// Part k (0-based) of `profile` cut into `count` nearly equal parts.
Bytes part(const Bytes& profile, int k, int count) {
  const std::size_t from = profile.size() * static_cast<std::size_t>(k) / static_cast<std::size_t>(count);
  const std::size_t to = profile.size() * static_cast<std::size_t>(k + 1) / static_cast<std::size_t>(count);
  return Bytes(profile.begin() + static_cast<std::ptrdiff_t>(from),
               profile.begin() + static_cast<std::ptrdiff_t>(to));
}

// The same profile grown to `size` bytes with a zero tail and its size field
// set to match: large enough to need several segments.
Bytes grown(Bytes profile, std::size_t size) {
  profile.resize(size, 0);
  for (int i = 0; i < 4; ++i)
    profile[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
  return profile;
}

// Segment `number` of `count`, holding part `part` of the profile cut in
// `parts`; number -1 is an APP2 segment of another kind.
struct Segment {
  int number, count, part, parts;
  bool whole = true;
};

struct AssemblyCase {
  const char* what;
  std::vector<Segment> segments;
  bool kept;
  void (*spoil)(Bytes& profile) = nullptr;
};

class JpegAssembly : public ::testing::TestWithParam<AssemblyCase> {};

TEST_P(JpegAssembly, KeepsOnlyAWholeConsistentRgbProfile) {
  const AssemblyCase& c = GetParam();
  const Bytes p3 = displayP3();
  ASSERT_GT(p3.size(), 128u);
  Bytes profile = p3;
  if (c.spoil != nullptr) c.spoil(profile);
  std::vector<Bytes> payloads;
  for (const Segment& s : c.segments) {
    payloads.push_back(s.number < 0 ? Bytes{'M', 'P', 'F', 0, 1}
                                    : iccSegment(s.number, s.count, part(profile, s.part, s.parts)));
  }
  std::vector<JpegAppSegment> segments;
  for (std::size_t i = 0; i < payloads.size(); ++i) segments.push_back({payloads[i], c.segments[i].whole});
  EXPECT_EQ(assembleJpegIccProfile(segments), c.kept ? p3 : Bytes{}) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JpegAssembly,
    ::testing::Values(
        AssemblyCase{"one segment", {{1, 1, 0, 1}}, true},
        AssemblyCase{"three out of order among others",
                     {{2, 3, 1, 3}, {-1, 0, 0, 1}, {3, 3, 2, 3}, {1, 3, 0, 3}},
                     true},
        AssemblyCase{"cut short", {{1, 1, 0, 1, false}}, false},
        AssemblyCase{"counts differ", {{1, 2, 0, 2}, {2, 3, 1, 2}}, false},
        AssemblyCase{"number 0", {{0, 1, 0, 1}}, false}, AssemblyCase{"count 0", {{1, 0, 0, 1}}, false},
        AssemblyCase{"number beyond the count", {{2, 1, 0, 1}}, false},
        AssemblyCase{"number twice", {{1, 2, 0, 2}, {1, 2, 1, 2}}, false},
        AssemblyCase{"number missing", {{1, 3, 0, 3}, {3, 3, 2, 3}}, false},
        AssemblyCase{
            "grey profile", {{1, 1, 0, 1}}, false, [](Bytes& p) { std::copy_n("GRAY", 4, p.begin() + 16); }},
        AssemblyCase{"size field wrong", {{1, 1, 0, 1}}, false, [](Bytes& p) { p[3] ^= 1; }},
        AssemblyCase{"no profile", {}, false}));

// ---- Through the store and the writers ----

// The profile of a written JPEG, read straight from its APP2 segments in
// file order.
Bytes jpegProfileOf(const Bytes& file, int* segments) {
  Bytes profile;
  *segments = 0;
  for (std::size_t at = 2; at + 4 <= file.size() && file[at + 1] != 0xDA;) {
    const std::size_t length = static_cast<std::size_t>(file[at + 2]) << 8 | file[at + 3];
    if (file[at + 1] == 0xE2 && length >= 16 &&
        std::equal(file.begin() + static_cast<std::ptrdiff_t>(at) + 4,
                   file.begin() + static_cast<std::ptrdiff_t>(at) + 16, iccSegment(0, 0, {}).begin())) {
      profile.insert(profile.end(), file.begin() + static_cast<std::ptrdiff_t>(at + 18),
                     file.begin() + static_cast<std::ptrdiff_t>(at + 2 + length));
      ++*segments;
    }
    at += 2 + length;
  }
  return profile;
}

// The profile of a written PNG: its iCCP chunk, inflated.
Bytes pngProfileOf(const std::vector<testing::PngChunk>& chunks) {
  const testing::PngChunk* iccp = testing::findChunk(chunks, "iCCP");
  if (iccp == nullptr) return {};
  const auto name = std::find(iccp->data.begin(), iccp->data.end(), 0);
  if (iccp->data.end() - name < 2 || name[1] != 0) return {};
  Bytes out(kMaxIccProfileBytes);
  uLongf size = static_cast<uLongf>(out.size());
  const auto* compressed = &*(name + 2);
  if (uncompress(out.data(), &size, compressed, static_cast<uLong>(iccp->data.end() - name - 2)) != Z_OK)
    return {};
  out.resize(size);
  return out;
}

std::vector<std::string> chunkTypes(const std::vector<testing::PngChunk>& chunks) {
  std::vector<std::string> types;
  for (const auto& c : chunks) {
    if (types.empty() || types.back() != c.type) types.push_back(c.type);
  }
  return types;
}

decodetest::JpegRecipe greyRamp(int width, int height) {
  decodetest::JpegRecipe recipe;
  recipe.width = width;
  recipe.height = height;
  for (int i = 0; i < width * height * 3; ++i) recipe.samples.push_back(static_cast<std::uint8_t>(i * 7));
  return recipe;
}

class CarriedProfile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    registerJpegDecoder();
    registerJpegEncoder();
    registerPngDecoder();
    registerPngEncoder();
  }

  // Loads the source, reduces it to 2/3 as a batch would, and writes it as
  // JPEG and as PNG at the source's depth.
  void convert(const Bytes& source) {
    ASSERT_NE(store.loadFromMemory(kWorkingPicture, source), 0u);
    ASSERT_NE(store.resample(kWorkingPicture, 20, 14, ResampleMode::smooth), 0u);
    ASSERT_EQ(store.save(kWorkingPicture, folder.file("out.jpg"), kJpegEncoder, 8, -1), SaveStatus::saved);
    ASSERT_EQ(store.save(kWorkingPicture, folder.file("out.png"), kPngEncoder, 7, -1), SaveStatus::saved);
    jpeg = testing::readBytes(folder.file("out.jpg"));
    png = testing::pngChunks(testing::readBytes(folder.file("out.png")));
  }

  testing::ScratchFolder folder;
  ImageStore store;
  Bytes jpeg;
  std::vector<testing::PngChunk> png;
};

TEST_F(CarriedProfile, JpegAndPngSourcesKeepTheirProfileByteForByte) {
  const Bytes p3 = displayP3();
  decodetest::JpegRecipe fromJpeg = greyRamp(30, 21);
  for (int k = 0; k < 3; ++k) fromJpeg.app2.push_back(iccSegment(k + 1, 3, part(p3, k, 3)));
  decodetest::PngRecipe fromPng;
  fromPng.width = 30;
  fromPng.height = 21;
  fromPng.rows.assign(21, Bytes(90, 77));
  fromPng.iccProfile = p3;
  for (const Bytes& source : {decodetest::makeJpeg(fromJpeg), decodetest::makePng(fromPng)}) {
    convert(source);
    int segments = 0;
    EXPECT_EQ(jpegProfileOf(jpeg, &segments), p3);
    EXPECT_EQ(segments, 1);
    EXPECT_EQ(pngProfileOf(png), p3);
    EXPECT_EQ(chunkTypes(png), (std::vector<std::string>{"IHDR", "iCCP", "IDAT", "IEND"}));
  }
}

TEST_F(CarriedProfile, ALargeProfileSpansSeveralSegmentsBothWays) {
  const Bytes big = grown(displayP3(), 150000);
  decodetest::JpegRecipe source = greyRamp(30, 21);
  for (int k = 0; k < 4; ++k) source.app2.push_back(iccSegment(k + 1, 4, part(big, k, 4)));
  convert(decodetest::makeJpeg(source));
  int segments = 0;
  EXPECT_EQ(jpegProfileOf(jpeg, &segments), big);
  EXPECT_EQ(segments, 3);  // 65519 bytes a segment
}

TEST_F(CarriedProfile, AProfileTooLargeForJpegIsLeftOut) {
  const auto raster = makeRaster(8, 8, 24);
  const Bytes huge = grown(displayP3(), kMaxIccProfileBytes + 1);
  ASSERT_EQ(saveRaster(*raster, 24, folder.file("out.jpg"), kJpegEncoder, 8, -1, nullptr, huge),
            SaveStatus::saved);
  int segments = 0;
  EXPECT_TRUE(jpegProfileOf(testing::readBytes(folder.file("out.jpg")), &segments).empty());
}

TEST_F(CarriedProfile, BrokenSegmentsAndOtherMetadataStayOut) {
  const Bytes p3 = displayP3();
  decodetest::JpegRecipe source = greyRamp(30, 21);
  source.app1 = decodetest::exifWithOrientation(1, false);
  source.app2 = {iccSegment(1, 2, part(p3, 0, 2)), iccSegment(3, 2, part(p3, 1, 2))};
  convert(decodetest::makeJpeg(source));
  int segments = 0;
  EXPECT_TRUE(jpegProfileOf(jpeg, &segments).empty());
  std::vector<int> markers;  // what precedes the frame: JFIF and the tables only
  for (std::size_t at = 2; at + 4 <= jpeg.size() && jpeg[at + 1] != 0xC0;
       at += 2 + (jpeg[at + 2] << 8 | jpeg[at + 3])) {
    markers.push_back(jpeg[at + 1]);
  }
  EXPECT_EQ(markers, (std::vector<int>{0xE0, 0xDB, 0xDB}));
  EXPECT_EQ(chunkTypes(png), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
}

// Many cameras embed an early sRGB profile that libpng knows as broken and
// would refuse to write: it is carried like any other.
TEST_F(CarriedProfile, TheEarlySrgbProfileOfCamerasIsCarriedToo) {
  convert(decodetest::readFile(decodetest::testData("jpeg/questionable/pil_truncated_app14.jpg")));
  const Bytes& profile = store.record(kWorkingPicture)->iccProfile;
  ASSERT_EQ(profile.size(), 3144u);
  int segments = 0;
  EXPECT_EQ(jpegProfileOf(jpeg, &segments), profile);
  EXPECT_EQ(pngProfileOf(png), profile);
  EXPECT_EQ(chunkTypes(png), (std::vector<std::string>{"IHDR", "iCCP", "IDAT", "IEND"}));
}

TEST_F(CarriedProfile, PaletteOutputHasOnlyItsGamma) {
  decodetest::PngRecipe source;
  source.width = 30;
  source.height = 21;
  source.colourType = PNG_COLOR_TYPE_PALETTE;
  source.palette = {{200, 10, 10}, {10, 10, 200}};
  for (int y = 0; y < 21; ++y) source.rows.push_back(Bytes(30, static_cast<std::uint8_t>(y % 2)));
  source.iccProfile = displayP3();
  convert(decodetest::makePng(source));
  EXPECT_EQ(store.record(kWorkingPicture)->iccProfile, displayP3());
  EXPECT_EQ(chunkTypes(png), (std::vector<std::string>{"IHDR", "gAMA", "PLTE", "IDAT", "IEND"}));
}

}  // namespace
}  // namespace pixmoor::image
