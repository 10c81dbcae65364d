// Conformance of the JPEG and PNG readers over the test corpora of
// tests/data/jpeg and tests/data/png (MANIFEST.tsv gives each file's
// expectation): good files load with the pixels of an independent decode,
// files that must be refused are refused, every other file loads or fails
// cleanly, and every prefix of a few real files fails or loads partly.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "codecs/format_registry.h"
#include "decode_test_support.h"
#include "image_store/image_store.h"

namespace pixmoor::image {
namespace {

using decodetest::Bytes;
using decodetest::pixelAt;
using decodetest::readFile;
using decodetest::testData;

struct CorpusFile {
  std::string path;    // relative to tests/data
  std::string expect;  // MUST_DECODE, EITHER, MUST_NOT_CRASH, MUST_REJECT
};

std::vector<CorpusFile> manifest(const std::string& kind) {
  std::vector<CorpusFile> files;
  std::ifstream in(testData(kind + "/MANIFEST.tsv"));
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream split(line);
    std::string field;
    while (std::getline(split, field, '\t')) fields.push_back(field);
    if (fields.size() < 5) continue;
    // Paths in the manifest start with the kind's folder name.
    files.push_back({fields[0], fields[4]});
  }
  return files;
}

std::string nameOf(const CorpusFile& file) {
  std::string name = file.path.substr(file.path.find('/') + 1);
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

class Corpus : public ::testing::TestWithParam<CorpusFile> {
 protected:
  static void SetUpTestSuite() {
    registerJpegDecoder();
    registerPngDecoder();
  }
};

// ---- JPEG: TurboJPEG's decode, turned as the orientation tag says ----

struct Reference {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bgr;  // top-down, 3 bytes a pixel, upright
};

// Pillow's orientation files and the exo_Landscape_N set carry their tag in
// the name; the rest are upright.
int orientationFromName(const std::string& path) {
  for (const std::string_view tag : {"orientation_", "exo_Landscape_"}) {
    const auto at = path.find(tag);
    if (at != std::string::npos) return path[at + tag.size()] - '0';
  }
  return 1;
}

Reference jpegReference(const Bytes& jpeg, int orientation) {
  Reference out;
  tjhandle handle = tjInitDecompress();
  int width = 0, height = 0, subsampling = 0, colourspace = 0;
  if (tjDecompressHeader3(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), &width, &height,
                          &subsampling, &colourspace) != 0) {
    tjDestroy(handle);
    return out;
  }
  const bool inks = colourspace == TJCS_CMYK || colourspace == TJCS_YCCK;
  const int format = inks ? TJPF_CMYK : TJPF_BGR;
  const int size = inks ? 4 : 3;
  std::vector<std::uint8_t> stored(static_cast<std::size_t>(width) * height * size);
  const int status = tjDecompress2(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                                   stored.data(), width, 0, height, format, TJFLAG_ACCURATEDCT);
  tjDestroy(handle);
  if (status != 0) return out;
  const bool swap = orientation >= 5;
  out.width = swap ? height : width;
  out.height = swap ? width : height;
  out.bgr.resize(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* s = &stored[(static_cast<std::size_t>(y) * width + x) * size];
      std::uint8_t bgr[3];
      if (inks) {
        // Every four-component file here carries Adobe's marker: ink is inverted.
        for (int c = 0; c < 3; ++c) bgr[2 - c] = static_cast<std::uint8_t>(std::lround(s[c] * s[3] / 255.0));
      } else {
        std::copy(s, s + 3, bgr);
      }
      int ux = x, uy = y;
      switch (orientation) {
        case 2:
          ux = width - 1 - x;
          break;
        case 3:
          ux = width - 1 - x;
          uy = height - 1 - y;
          break;
        case 4:
          uy = height - 1 - y;
          break;
        case 5:
          ux = y;
          uy = x;
          break;
        case 6:
          ux = height - 1 - y;
          uy = x;
          break;
        case 7:
          ux = height - 1 - y;
          uy = width - 1 - x;
          break;
        case 8:
          ux = y;
          uy = width - 1 - x;
          break;
        default:
          break;
      }
      std::copy(bgr, bgr + 3, &out.bgr[(static_cast<std::size_t>(uy) * out.width + ux) * 3]);
    }
  }
  return out;
}

class JpegCorpus : public Corpus {};

TEST_P(JpegCorpus, MeetsItsExpectation) {
  const CorpusFile& file = GetParam();
  const Bytes data = readFile(testData(file.path));
  ImageStore store;
  const auto [handle, status] = store.loadData(55, data);
  if (file.expect == "MUST_DECODE") {
    ASSERT_NE(handle, 0u);
    const Reference want = jpegReference(data, orientationFromName(file.path));
    ASSERT_GT(want.width, 0);
    const ImageRecord* record = store.record(55);
    ASSERT_EQ(record->width, want.width);
    ASSERT_EQ(record->height, want.height);
    EXPECT_EQ(record->depth, 24);
    for (int y = 0; y < want.height; ++y) {
      for (int x = 0; x < want.width; ++x) {
        const std::uint8_t* got = pixelAt(*record->raster, x, y);
        const std::uint8_t* ref = &want.bgr[(static_cast<std::size_t>(y) * want.width + x) * 3];
        ASSERT_TRUE(got[0] == ref[0] && got[1] == ref[1] && got[2] == ref[2])
            << x << "," << y << ": " << int(got[0]) << " " << int(got[1]) << " " << int(got[2]) << " vs "
            << int(ref[0]) << " " << int(ref[1]) << " " << int(ref[2]);
      }
    }
  } else if (file.expect == "MUST_REJECT") {
    EXPECT_EQ(handle, 0u);
  } else if (handle != 0) {
    EXPECT_GT(store.imageWidth(55), 0);
    EXPECT_GT(store.imageHeight(55), 0);
  } else {
    EXPECT_EQ(store.imageWidth(55), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, JpegCorpus, ::testing::ValuesIn(manifest("jpeg")),
                         [](const auto& info) { return nameOf(info.param); });

// ---- PNG: libpng's simplified interface ----

// The simplified interface converts gamma where the file asks for it; the
// reader never does. Without the colour chunks, 8-bit files come out as
// stored, and 16-bit files in their linear form are stored values too
// (colour premultiplied by alpha, though).
const std::vector<std::string> kColourChunks = {"gAMA", "cHRM", "sRGB", "iCCP"};

class PngCorpus : public Corpus {};

int bitDepthOf(const Bytes& png) {
  return png.size() > 24 ? png[24] : 0;
}

TEST_P(PngCorpus, MeetsItsExpectation) {
  const CorpusFile& file = GetParam();
  const Bytes data = readFile(testData(file.path));
  ImageStore store;
  const auto handle = store.loadFromMemory(55, data);
  if (file.expect == "MUST_REJECT") {
    EXPECT_EQ(handle, 0u);
    return;
  }
  if (file.expect != "MUST_DECODE") {
    if (handle != 0) {
      EXPECT_GT(store.imageWidth(55), 0);
    }
    return;
  }
  ASSERT_NE(handle, 0u);
  const ImageRecord* record = store.record(55);
  const Bytes plain = decodetest::withoutChunks(data, kColourChunks);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_NE(png_image_begin_read_from_memory(&image, plain.data(), plain.size()), 0) << image.message;
  const bool wide = bitDepthOf(data) == 16;
  image.format = wide ? PNG_FORMAT_LINEAR_RGB_ALPHA : PNG_FORMAT_BGRA;
  std::vector<std::uint16_t> wideBuffer(wide ? PNG_IMAGE_SIZE(image) / 2 : 0);
  std::vector<std::uint8_t> buffer(wide ? 0 : PNG_IMAGE_SIZE(image));
  void* target = wide ? static_cast<void*>(wideBuffer.data()) : static_cast<void*>(buffer.data());
  ASSERT_NE(png_image_finish_read(&image, nullptr, target, 0, nullptr), 0) << image.message;
  ASSERT_EQ(record->width, static_cast<int>(image.width));
  ASSERT_EQ(record->height, static_cast<int>(image.height));
  const bool alpha = record->depth == 32;
  for (int y = 0; y < record->height; ++y) {
    for (int x = 0; x < record->width; ++x) {
      const std::uint8_t* got = pixelAt(*record->raster, x, y);
      const std::size_t at = (static_cast<std::size_t>(y) * image.width + x) * 4;
      if (!wide) {
        const std::uint8_t* ref = &buffer[at];
        ASSERT_TRUE(got[0] == ref[0] && got[1] == ref[1] && got[2] == ref[2]) << x << "," << y;
        if (alpha) {
          ASSERT_EQ(got[3], ref[3]) << x << "," << y;
        } else {
          ASSERT_EQ(ref[3], 255) << x << "," << y;
        }
        continue;
      }
      const std::uint16_t* ref = &wideBuffer[at];  // R, G, B, A; colour premultiplied
      const unsigned a = ref[3];
      if (alpha) {
        ASSERT_EQ(got[3], a >> 8) << x << "," << y;
      } else {
        ASSERT_EQ(a, 65535u);
      }
      for (int c = 0; c < 3; ++c) {
        const unsigned mine = got[2 - c];
        if (a == 65535) {
          ASSERT_EQ(mine, ref[c] >> 8u) << x << "," << y << " channel " << c;
        } else if (a >= 32768) {
          const double stored = ref[c] * 65535.0 / a;
          ASSERT_NEAR(mine, stored / 256.0, 1.5) << x << "," << y << " channel " << c;
        }
      }
    }
  }
  png_image_free(&image);
}

INSTANTIATE_TEST_SUITE_P(Files, PngCorpus, ::testing::ValuesIn(manifest("png")),
                         [](const auto& info) { return nameOf(info.param); });

// ---- Truncation: every prefix ----

class Truncation : public ::testing::TestWithParam<const char*> {
 protected:
  static void SetUpTestSuite() {
    registerJpegDecoder();
    registerPngDecoder();
  }
};

TEST_P(Truncation, EveryPrefixFailsOrLoadsAtFullSize) {
  const Bytes whole = readFile(testData(GetParam()));
  ASSERT_FALSE(whole.empty());
  ImageStore store;
  ASSERT_NE(store.loadFromMemory(1, whole), 0u);
  const int width = store.imageWidth(1);
  const int height = store.imageHeight(1);
  std::size_t loaded = 0;
  for (std::size_t n = 0; n < whole.size(); ++n) {
    // A copy of exactly n bytes, so that the sanitizers catch a read beyond it.
    const Bytes prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    if (store.loadFromMemory(55, prefix) == 0) {
      ASSERT_EQ(store.imageWidth(55), 0);
      continue;
    }
    ++loaded;
    ASSERT_EQ(store.imageWidth(55), width) << n;
    ASSERT_EQ(store.imageHeight(55), height) << n;
  }
  EXPECT_GT(loaded, 0u);
}

INSTANTIATE_TEST_SUITE_P(Files, Truncation,
                         ::testing::Values("jpeg/good/ljt_testorig.jpg", "jpeg/good/ljt_testimgp.jpg",
                                           "jpeg/good/moz_jpg-cmyk-1.jpg",
                                           "jpeg/good/pil_hopper_orientation_6.jpg",
                                           "jpeg/good/ljt_testimgari.jpg", "png/good/basi2c16.png",
                                           "png/good/oi9n0g16.png", "png/good/basn3p04.png",
                                           "png/good/basi0g01.png", "png/good/tbbn3p08.png"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace pixmoor::image
