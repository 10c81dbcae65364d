// The GIF reader, called in this process: the corpus of tests/data/gif
// against Pillow's renderings of the first frame, frames placed on their
// screen in files made here with giflib's encoder, the reduction against
// resampling the whole picture, the header alone, the budget, a cancel and
// every prefix of a file.
#include "isolated_readers/gif_reader.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "codecs/reference_picture.h"
#include "resample/resample.h"

namespace pixmoor::foreign {
namespace {

using image::DecodeFailure;
using image::ReadUpTo;
using image::test_support::Bytes;
using image::test_support::pixelAt;
using image::test_support::readFile;

std::string dataPath(const std::string& relative) {
  return std::string(PIXMOOR_TEST_DATA) + "/" + relative;
}

image::Reading readBytes(const Bytes& bytes, const image::DecodeLimits& limits = {},
                         const image::ReduceTo* reduce = nullptr, ReadUpTo upTo = ReadUpTo::picture) {
  image::PictureInput input(bytes);
  return readGif(input, limits, reduce, upTo);
}

// ---- the corpus --------------------------------------------------------

struct CorpusFile {
  std::string path;    // relative to tests/data
  std::string expect;  // MUST_DECODE, EITHER, MUST_NOT_CRASH
};

std::vector<CorpusFile> manifest() {
  std::vector<CorpusFile> files;
  std::ifstream in(dataPath("gif/MANIFEST.tsv"));
  std::string line;
  std::getline(in, line);  // the column names
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    if (fields.size() >= 5) files.push_back({fields[0], fields[4]});
  }
  return files;
}

class GifCorpus : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(GifCorpus, GoodFilesMatchTheirReferenceAndNoFileHarms) {
  const CorpusFile& file = GetParam();
  const Bytes bytes = readFile(dataPath(file.path));
  ASSERT_FALSE(bytes.empty());
  const image::Reading reading = readBytes(bytes);
  if (file.expect != "MUST_DECODE") return;  // loaded or refused, without harm (the sanitizers watch)
  ASSERT_TRUE(reading.picture);
  const image::DecodedPicture& picture = *reading.picture;
  EXPECT_FALSE(picture.partial);
  const std::string stem =
      file.path.substr(file.path.rfind('/') + 1, file.path.size() - file.path.rfind('/') - 5);
  const auto reference = image::test_support::readReference(dataPath("gif/reference/" + stem + ".png"));
  ASSERT_TRUE(reference);
  ASSERT_EQ(picture.raster->width, reference->width);
  ASSERT_EQ(picture.raster->height, reference->height);
  std::string first;
  EXPECT_EQ(image::test_support::countMismatches(*picture.raster, *reference, 1, &first), 0) << first;
}

std::string testName(const ::testing::TestParamInfo<CorpusFile>& info) {
  std::string name = info.param.path.substr(4);
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Files, GifCorpus, ::testing::ValuesIn(manifest()), testName);

// What the bad files give: a clean refusal with its reason, or what was
// decoded before the data broke.
TEST(GifReader, BadFilesGiveTheirReason) {
  struct Row {
    const char* file;
    bool loads;
    DecodeFailure failure;  // when refused
    bool partial;           // when loaded
    bool nothingDecoded = false;
  };
  const Row rows[] = {
      {"hdr_igif_2x2_screen-65535x65535.gif", false, DecodeFailure::tooLarge, false},
      {"pil_zero_width.gif", false, DecodeFailure::unrecognised, false},
      {"igif_issue-96-small-codesize.gif", false, DecodeFailure::unrecognised, false},
      {"trunc_pil_hopper_in-palette.gif", false, DecodeFailure::unrecognised, false},
      {"pil_decompression_bomb.gif", false, DecodeFailure::unrecognised, false},
      // A 2 x 2 screen under a frame that claims 65535 x 65535: no row decodes.
      {"hdr_igif_2x2_frame-65535x65535.gif", true, {}, true, true},
      // The first frame is whole; the file breaks in a later one.
      {"trunc_igif_moon_impact_half.gif", true, {}, false},
      {"pil_decompression_bomb_extents.gif", true, {}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file);
    const image::Reading reading = readBytes(readFile(dataPath(std::string("gif/bad/") + row.file)));
    ASSERT_EQ(reading.picture.has_value(), row.loads);
    if (row.loads) {
      EXPECT_EQ(reading.picture->partial, row.partial);
      EXPECT_EQ(reading.picture->nothingDecoded, row.nothingDecoded);
    } else {
      EXPECT_EQ(reading.failure, row.failure);
    }
  }
}

// ---- files made here ---------------------------------------------------

struct Frame {
  int left = 0, top = 0, width = 0, height = 0;
  bool interlaced = false;
  std::vector<GifColorType> localPalette;
  int transparentIndex = -1;
  std::vector<std::uint8_t> indices;  // top-down rows
};

int appendOutput(GifFileType* gif, const GifByteType* data, int length) {
  auto* out = static_cast<Bytes*>(gif->UserData);
  out->insert(out->end(), data, data + length);
  return length;
}

Bytes makeGif(int screenWidth, int screenHeight, const std::vector<GifColorType>& globalPalette,
              const Frame& frame) {
  Bytes out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, appendOutput, &error);
  EGifSetGifVersion(gif, true);
  ColorMapObject* global =
      globalPalette.empty() ? nullptr
                            : GifMakeMapObject(static_cast<int>(globalPalette.size()), globalPalette.data());
  EGifPutScreenDesc(gif, screenWidth, screenHeight, 8, 0, global);
  if (frame.transparentIndex >= 0) {
    const GraphicsControlBlock control{0, false, 0, frame.transparentIndex};
    GifByteType extension[4];
    const auto length = EGifGCBToExtension(&control, extension);
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension);
  }
  ColorMapObject* local =
      frame.localPalette.empty()
          ? nullptr
          : GifMakeMapObject(static_cast<int>(frame.localPalette.size()), frame.localPalette.data());
  EGifPutImageDesc(gif, frame.left, frame.top, frame.width, frame.height, frame.interlaced, local);
  // An interlaced frame is written in the order of its passes.
  std::vector<int> order;
  if (frame.interlaced) {
    for (const auto& [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
      for (int row = start; row < frame.height; row += step) order.push_back(row);
  } else {
    for (int row = 0; row < frame.height; ++row) order.push_back(row);
  }
  for (const int row : order) {
    std::vector<GifPixelType> line(frame.indices.begin() + row * frame.width,
                                   frame.indices.begin() + (row + 1) * frame.width);
    EGifPutLine(gif, line.data(), frame.width);
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(global);
  GifFreeMapObject(local);
  return out;
}

const std::vector<GifColorType> kGlobal = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {100, 110, 120}};
const std::vector<GifColorType> kLocal = {{200, 0, 0}, {0, 200, 0}, {0, 0, 200}, {9, 9, 9}};

// A frame whose rows are numbered: row r holds index (r + column) % 4.
Frame numberedFrame(int left, int top, int width, int height) {
  Frame frame;
  frame.left = left;
  frame.top = top;
  frame.width = width;
  frame.height = height;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) frame.indices.push_back(static_cast<std::uint8_t>((x + y) % 4));
  return frame;
}

// R, G, B, A of `palette`'s entry `index` (alpha 0 for the transparent one).
std::array<int, 4> colourOf(const std::vector<GifColorType>& palette, int index, int transparent) {
  const GifColorType& c = palette[static_cast<std::size_t>(index)];
  return {c.Red, c.Green, c.Blue, index == transparent ? 0 : 255};
}

TEST(GifReader, TheFirstFrameLandsAtItsPlaceOnATransparentScreen) {
  for (const bool interlaced : {false, true}) {
    for (const bool local : {false, true}) {
      SCOPED_TRACE(std::string(interlaced ? "interlaced" : "in order") + (local ? ", local palette" : ""));
      Frame frame = numberedFrame(2, 1, 3, 10);
      frame.interlaced = interlaced;
      frame.transparentIndex = 3;
      if (local) frame.localPalette = kLocal;
      const auto& palette = local ? kLocal : kGlobal;
      // The screen is 6 x 9: the frame's last row falls below it.
      const image::Reading reading = readBytes(makeGif(6, 9, kGlobal, frame));
      ASSERT_TRUE(reading.picture);
      const image::Raster& raster = *reading.picture->raster;
      ASSERT_EQ(raster.depth, 32);
      ASSERT_EQ(raster.width, 6);
      ASSERT_EQ(raster.height, 9);
      EXPECT_FALSE(reading.picture->partial);
      EXPECT_EQ(reading.picture->sourceDepth, 32);
      for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 6; ++x) {
          const bool inFrame = x >= 2 && x < 5 && y >= 1;
          const std::array<int, 4> want =
              inFrame ? colourOf(palette, (x - 2 + y - 1) % 4, 3) : std::array<int, 4>{0, 0, 0, 0};
          EXPECT_EQ(pixelAt(raster, x, y), want) << x << "," << y;
        }
      }
    }
  }
}

TEST(GifReader, AFrameCoveringItsScreenWithoutTransparencyIsOpaque) {
  const Frame frame = numberedFrame(0, 0, 5, 3);
  const image::Reading reading = readBytes(makeGif(5, 3, kGlobal, frame));
  ASSERT_TRUE(reading.picture);
  const image::Raster& raster = *reading.picture->raster;
  EXPECT_EQ(raster.depth, 24);
  EXPECT_EQ(reading.picture->sourceDepth, 2);  // the palette's four entries
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(pixelAt(raster, x, y), colourOf(kGlobal, (x + y) % 4, -1));
}

// ---- the reduction, the header, the budget, a cancel --------------------

TEST(GifReader, AReducedPictureIsTheWholePictureResampled) {
  // One stored in order, one interlaced, and one whose data breaks part-way.
  Bytes broken = readFile(dataPath("gif/good/pil_test.colors.gif"));
  broken.resize(broken.size() / 2);
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"in order", readFile(dataPath("gif/good/pil_test.colors.gif"))},
      {"interlaced", readFile(dataPath("gif/good/igif_interlaced.gif"))},
      {"broken", broken}};
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    image::Reading whole = readBytes(bytes);
    ASSERT_TRUE(whole.picture);
    ASSERT_EQ(whole.picture->raster->depth, 24);
    const int width = whole.picture->raster->width * 2 / 7;
    const int height = whole.picture->raster->height / 3;
    int asked = 0;
    const image::ReduceTo reduce = [&](int w, int h) -> std::optional<image::PictureSize> {
      ++asked;
      EXPECT_EQ(w, whole.picture->source.width);
      EXPECT_EQ(h, whole.picture->source.height);
      return image::PictureSize{width, height};
    };
    const image::Reading reduced = readBytes(bytes, {}, &reduce);
    ASSERT_TRUE(reduced.picture);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(reduced.picture->partial, whole.picture->partial);
    EXPECT_EQ(reduced.picture->partial, name == "broken");
    const auto expected = image::resampledCopy(*whole.picture->raster, width, height);
    const image::Raster& got = *reduced.picture->raster;
    ASSERT_EQ(got.width, width);
    ASSERT_EQ(got.height, height);
    EXPECT_EQ(Bytes(got.data(), got.data() + got.sizeBytes()),
              Bytes(expected->data(), expected->data() + expected->sizeBytes()));
  }
}

// Beyond 16 megapixels a screen must be painted by its frame's data: a
// frame off it or on a small part of it, or a frame whose LZW data is too
// short to fill it, is refused from the header, before any raster.
TEST(GifReader, AVastScreenItsFrameCannotPaintIsRefusedFromTheHeader) {
  const auto zeros = [](int left, int top, int width, int height) {
    Frame frame = numberedFrame(left, top, width, height);
    std::fill(frame.indices.begin(), frame.indices.end(), 0);
    return frame;
  };
  const Bytes whole = makeGif(5000, 4000, kGlobal, zeros(0, 0, 5000, 4000));
  Bytes cut = whole;
  cut.resize(400);
  struct Row {
    const char* what;
    Bytes file;
    bool refused;
  };
  const Row rows[] = {
      {"a 1 x 1 frame off a 32767 x 32767 screen", makeGif(32767, 32767, kGlobal, zeros(40000, 0, 1, 1)),
       true},
      {"a 1 x 1 frame on it", makeGif(32767, 32767, kGlobal, zeros(0, 0, 1, 1)), true},
      {"a frame on a third of a 5000 x 4000 screen", makeGif(5000, 4000, kGlobal, zeros(0, 0, 5000, 1300)),
       true},
      {"a whole frame of 5000 x 4000 cut to 400 bytes", cut, true},
      {"the same frame whole", whole, false},
      {"a frame on two thirds of the screen", makeGif(5000, 4000, kGlobal, zeros(0, 0, 5000, 2700)), false},
      {"a 1 x 1 frame on a 4000 x 4000 screen", makeGif(4000, 4000, kGlobal, zeros(0, 0, 1, 1)), false},
  };
  for (const Row& row : rows) {
    const image::Reading header = readBytes(row.file, {}, nullptr, ReadUpTo::header);
    EXPECT_EQ(!header.header, row.refused) << row.what;
    if (row.refused) {
      EXPECT_EQ(header.failure, DecodeFailure::unrecognised) << row.what;
    }
  }
}

TEST(GifReader, TheHeaderAloneAndTheBudgetAgreeWithTheLoad) {
  const Bytes bytes = readFile(dataPath("gif/good/pil_test.colors.gif"));
  const image::Reading header = readBytes(bytes, {}, nullptr, ReadUpTo::header);
  ASSERT_TRUE(header.header);
  EXPECT_FALSE(header.picture);
  EXPECT_EQ(header.header->size.width, 807);
  EXPECT_EQ(header.header->size.height, 606);
  // The raster (807 x 606 x 3, rows padded) and giflib's 64 KiB do not fit in 1.4 MiB.
  const image::DecodeLimits tight{1'400'000, nullptr};
  for (const ReadUpTo upTo : {ReadUpTo::header, ReadUpTo::picture}) {
    const image::Reading refused = readBytes(bytes, tight, nullptr, upTo);
    EXPECT_FALSE(refused.header);
    EXPECT_EQ(refused.failure, DecodeFailure::overBudget);
  }
  EXPECT_TRUE(readBytes(bytes, {1'600'000, nullptr}).picture);
}

TEST(GifReader, ARaisedCancelFlagStopsTheRead) {
  image::CancelFlag cancel{true};
  const image::Reading reading =
      readBytes(readFile(dataPath("gif/good/igif_interlaced.gif")), {image::kNoMemoryBudget, &cancel});
  EXPECT_FALSE(reading.picture);
  EXPECT_EQ(reading.failure, DecodeFailure::cancelled);
}

TEST(GifReader, AnIccProfileIsCarried) {
  const image::Reading reading = readBytes(readFile(dataPath("gif/good/igif_beacon_icc.gif")));
  ASSERT_TRUE(reading.picture);
  EXPECT_FALSE(reading.picture->iccProfile.empty());
  EXPECT_TRUE(readBytes(readFile(dataPath("gif/good/igif_beacon.gif"))).picture->iccProfile.empty());
}

// A prefix that loads is partial, unless it held every row: then it is the
// whole file's picture.
TEST(GifReader, EveryPrefixFailsCleanlyOrLoadsPartly) {
  const Bytes bytes = readFile(dataPath("gif/good/pil_hopper_resized.gif"));
  const image::Reading whole = readBytes(bytes);
  const image::Raster& all = *whole.picture->raster;
  int partial = 0;
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    const image::Reading reading =
        readBytes(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)));
    if (!reading.picture) continue;
    const image::Raster& raster = *reading.picture->raster;
    if (reading.picture->partial) {
      ++partial;
    } else {
      EXPECT_EQ(Bytes(raster.data(), raster.data() + raster.sizeBytes()),
                Bytes(all.data(), all.data() + all.sizeBytes()))
          << size;
    }
  }
  EXPECT_GT(partial, 0);
}

}  // namespace
}  // namespace pixmoor::foreign
