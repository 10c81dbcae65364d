#include "isolated_readers/tiff_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "codecs/format_registry.h"
#include "codecs/reference_picture.h"
#include "foreign_test_support.h"
#include "resample/resample.h"
#include "support/temp_folder.h"

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
using image::test_support::readFile;
using image::test_support::readReference;

std::string dataPath(const std::string& relative) {
  return std::string(PIXMOOR_TEST_DATA) + "/tiff/" + relative;
}

// The file read a piece at a time, as the helper reads it.
Reading readPath(const std::string& path, const DecodeLimits& limits = {}, const ReduceTo* reduce = nullptr,
                 ReadUpTo upTo = ReadUpTo::picture) {
  return test_support::readThrough(readTiff, path, limits, reduce, upTo);
}

Reading readBytes(const Bytes& bytes, const DecodeLimits& limits = {}, const ReduceTo* reduce = nullptr) {
  PictureInput input(bytes);
  return readTiff(input, limits, reduce, ReadUpTo::picture);
}

// Every good and questionable file the reader takes against ImageMagick's
// reading of it, turned upright (reference/, see make_references.sh); the
// rest are refused as features it does not take, or (questionable) as data
// it cannot use.
TEST(TiffReader, CorpusFilesMatchAnIndependentDecodingOrAreRefused) {
  const std::set<std::string> unsupported = {
      "lt_logluv-3c-16b.tiff",                       // LogLuv samples, SGILog compression
      "pil_hopper.Lab.tif",                          // CIE Lab samples
      "pil_compression.tif",                         // CCITT RLE, outside the list
      "lt_ojpeg_chewey_subsamp21_multi_strip.tiff",  // old-style JPEG
      "lt_ojpeg_zackthecat_subsamp22_single_strip.tiff",
      "lt_test_float64_predictor2_le_lzw.tif",  // 64-bit floating point
      "pil_10ct_32bit_128.tiff",                // 32-bit samples
      "pil_12bit.cropped.tif",                  // 12-bit samples
      "pil_tiff_strip_cmyk_16l_jpeg.tif",       // 16-bit CMYK
      "lt_minisblack-2c-8b-alpha.tiff",         // grey and alpha in separate planes
  };
  const std::set<std::string> broken = {"lt_testfax3_bug54_1dnoEOL.tif"};  // no end-of-line codes
  int matched = 0;
  for (const char* folder : {"good", "questionable"}) {
    for (const auto& entry : std::filesystem::directory_iterator(dataPath(folder))) {
      const std::string name = entry.path().filename().string();
      SCOPED_TRACE(name);
      const Reading reading = readPath(entry.path().string());
      if (unsupported.count(name) != 0 || broken.count(name) != 0) {
        EXPECT_FALSE(reading.picture.has_value());
        EXPECT_EQ(reading.failure, unsupported.count(name) != 0 ? DecodeFailure::unsupportedFeature
                                                                : DecodeFailure::unrecognised);
        continue;
      }
      const auto reference = readReference(dataPath("reference/" + entry.path().stem().string() + ".png"));
      ASSERT_TRUE(reference.has_value());
      ASSERT_TRUE(reading.picture.has_value());
      const image::Raster& raster = *reading.picture->raster;
      EXPECT_FALSE(reading.picture->partial);
      ASSERT_EQ(raster.width, reference->width);
      ASSERT_EQ(raster.height, reference->height);
      std::string first;
      EXPECT_EQ(countMismatches(raster, *reference, 1, &first), 0) << first;
      ++matched;
    }
  }
  EXPECT_EQ(matched, 32);
}

// The G4 files store one picture turned five ways by their Orientation tag:
// upright, all but a few pixels agree (their pictures differ by some 0.2 %;
// a turn taken wrong differs by half).
TEST(TiffReader, OneStoredPictureFiveWaysIsOneUprightPicture) {
  const Reading first = readPath(dataPath("good/pil_g4_orientation_2.tif"));
  ASSERT_TRUE(first.picture.has_value());
  const image::Raster& upright = *first.picture->raster;
  for (const int orientation : {3, 5, 6, 8}) {
    const std::string name = "good/pil_g4_orientation_" + std::to_string(orientation) + ".tif";
    const Reading other = readPath(dataPath(name));
    ASSERT_TRUE(other.picture.has_value());
    ASSERT_EQ(other.picture->raster->width, upright.width) << name;
    ASSERT_EQ(other.picture->raster->height, upright.height) << name;
    int differing = 0;
    for (int y = 0; y < upright.height; ++y)
      for (int x = 0; x < upright.width; ++x)
        differing += image::test_support::pixelAt(upright, x, y) !=
                     image::test_support::pixelAt(*other.picture->raster, x, y);
    EXPECT_LT(differing, upright.width * upright.height / 200) << name;
  }
}

// libtiff's own published decodings (PNM, comments allowed in the
// header): 16-bit samples rounded to 8 bits, v * 255 / 65535 to the nearest,
// exactly; 8-bit grey as it is.
TEST(TiffReader, SamplesMatchLibtiffsReferencesExactly) {
  for (const char* name : {"rgb-3c-16b", "minisblack-1c-8b"}) {
    SCOPED_TRACE(name);
    const bool colour = name[0] == 'r';
    const Bytes pnm =
        readFile(dataPath(std::string("reference/libtiff/") + name + (colour ? ".ppm" : ".pgm")));
    std::vector<long> fields;  // width, height, largest value
    std::size_t at = 2;
    while (fields.size() < 3 && at < pnm.size()) {
      if (pnm[at] == '#') {
        while (at < pnm.size() && pnm[at] != '\n') ++at;
      } else if (std::isdigit(pnm[at]) != 0) {
        fields.push_back(std::strtol(reinterpret_cast<const char*>(&pnm[at]), nullptr, 10));
        while (std::isdigit(pnm[at]) != 0) ++at;
        continue;
      }
      ++at;
    }
    ASSERT_EQ(fields.size(), 3u);
    ++at;  // the one blank before the samples
    const Reading reading = readPath(dataPath(std::string("good/lt_") + name + ".tiff"));
    ASSERT_TRUE(reading.picture.has_value());
    const image::Raster& raster = *reading.picture->raster;
    ASSERT_EQ(raster.width, fields[0]);
    const int channels = colour ? 3 : 1;
    const int bytes = fields[2] > 255 ? 2 : 1;
    int mismatches = 0;
    for (int y = 0; y < raster.height; ++y) {
      for (int x = 0; x < raster.width; ++x) {
        const auto got = image::test_support::pixelAt(raster, x, y);
        for (int c = 0; c < 3; ++c) {
          const std::size_t i =
              at + static_cast<std::size_t>(((y * raster.width + x) * channels + (c % channels)) * bytes);
          const long v = bytes == 2 ? (pnm[i] << 8 | pnm[i + 1]) : pnm[i];
          const long want = bytes == 2 ? (v * 255 + 32767) / 65535 : v;
          mismatches += got[c] != want;
        }
      }
    }
    EXPECT_EQ(mismatches, 0);
  }
}

// How a test picture is stored: its photometric, samples per pixel, the
// ExtraSamples value of its last sample (-1: no such tag), strips,
// compression (with the horizontal predictor where there is one) and turn.
struct Stored {
  const char* what;
  std::uint16_t photometric;
  int samples;
  int extra;
  std::uint32_t rowsPerStrip;
  std::uint16_t compression;
  std::uint16_t orientation;
};

// `samples` written by libtiff at `path` in the file's own order: pixel
// after pixel, or in separate planes plane after plane.
void writeTiff(const std::string& path, const Stored& layout, int width, int height,
               std::vector<std::uint8_t> samples, bool planes) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tiff, nullptr);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, layout.photometric);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, planes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, layout.rowsPerStrip);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, layout.compression);
  if (layout.compression == COMPRESSION_LZW || layout.compression == COMPRESSION_ADOBE_DEFLATE)
    TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  TIFFSetField(tiff, TIFFTAG_ORIENTATION, layout.orientation);
  const auto extra = static_cast<std::uint16_t>(layout.extra);
  if (layout.extra >= 0) TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
  const int lines = planes ? height * layout.samples : height;
  const auto lineBytes = samples.size() / static_cast<std::size_t>(lines);
  for (int line = 0; line < lines; ++line)
    ASSERT_EQ(TIFFWriteScanline(tiff, &samples[static_cast<std::size_t>(line) * lineBytes],
                                static_cast<std::uint32_t>(line % height),
                                static_cast<std::uint16_t>(line / height)),
              1);
  TIFFClose(tiff);
}

// The common contiguous 8-bit layouts come out as the same bytes as one
// picture stored in separate planes as RGB (grey spread to three equal
// planes) with the same extra sample: alpha, its rounding and the turn
// included. The samples are noise, so that colours above their alpha and
// every alpha from 0 to 255 turn up.
TEST(TiffReader, ContiguousSamplesDecodeAsTheSamePictureInPlanes) {
  const Stored layouts[] = {
      {"RGB, a short last strip", PHOTOMETRIC_RGB, 3, -1, 5, COMPRESSION_NONE, 1},
      {"RGB, LZW, predictor, turned", PHOTOMETRIC_RGB, 3, -1, 4, COMPRESSION_LZW, 6},
      {"RGBA associated", PHOTOMETRIC_RGB, 4, EXTRASAMPLE_ASSOCALPHA, 3, COMPRESSION_ADOBE_DEFLATE, 1},
      {"RGBA unassociated, mirrored", PHOTOMETRIC_RGB, 4, EXTRASAMPLE_UNASSALPHA, 7, COMPRESSION_PACKBITS, 2},
      {"RGB, a fourth sample not described", PHOTOMETRIC_RGB, 4, -1, 61, COMPRESSION_NONE, 1},
      {"RGB, unspecified extra", PHOTOMETRIC_RGB, 4, EXTRASAMPLE_UNSPECIFIED, 6, COMPRESSION_LZW, 1},
      {"grey, LZW, predictor, turned", PHOTOMETRIC_MINISBLACK, 1, -1, 4, COMPRESSION_LZW, 8},
      {"grey, associated alpha", PHOTOMETRIC_MINISBLACK, 2, EXTRASAMPLE_ASSOCALPHA, 5, COMPRESSION_NONE, 1},
      {"grey, unassociated alpha", PHOTOMETRIC_MINISBLACK, 2, EXTRASAMPLE_UNASSALPHA, 5, COMPRESSION_LZW, 3},
      {"grey, unspecified extra", PHOTOMETRIC_MINISBLACK, 2, EXTRASAMPLE_UNSPECIFIED, 9, COMPRESSION_NONE, 1},
  };
  const int width = 37, height = 23;
  const std::size_t pixels = width * height;
  const testing::TempFolder folder;
  std::uint32_t noise = 12345;
  for (const Stored& layout : layouts) {
    SCOPED_TRACE(layout.what);
    const bool grey = layout.photometric == PHOTOMETRIC_MINISBLACK;
    Stored spread = layout;
    spread.photometric = PHOTOMETRIC_RGB;
    spread.samples += grey ? 2 : 0;
    const auto n = static_cast<std::size_t>(layout.samples),
               planes = static_cast<std::size_t>(spread.samples);
    std::vector<std::uint8_t> stored(pixels * n), planar(pixels * planes);
    for (auto& sample : stored)
      sample = static_cast<std::uint8_t>((noise = noise * 1103515245 + 12345) >> 16);
    for (std::size_t p = 0; p < planes; ++p)
      for (std::size_t i = 0; i < pixels; ++i)
        planar[p * pixels + i] = stored[i * n + (grey ? std::max<std::size_t>(p, 2) - 2 : p)];
    writeTiff(folder.file("contiguous.tif"), layout, width, height, stored, false);
    writeTiff(folder.file("planes.tif"), spread, width, height, planar, true);
    const Reading got = readPath(folder.file("contiguous.tif"));
    const Reading want = readPath(folder.file("planes.tif"));
    ASSERT_TRUE(got.picture.has_value());
    ASSERT_TRUE(want.picture.has_value());
    const image::Raster& a = *got.picture->raster;
    const image::Raster& b = *want.picture->raster;
    ASSERT_EQ(std::tie(a.width, a.height, a.depth), std::tie(b.width, b.height, b.depth));
    for (int y = 0; y < a.height; ++y)
      ASSERT_EQ(
          std::memcmp(a.pictureRow(y), b.pictureRow(y), static_cast<std::size_t>(a.width * a.depth / 8)), 0)
          << "row " << y;
  }
}

// A picture as libtiff writes it: TIFFOpen's mode ("8" BigTIFF, "b"
// big-endian), square tiles of `tile` pixels or strips of 4 rows (0),
// 8 or 16-bit samples, RGB or RGB and associated alpha, in one plane or
// plane after plane.
struct Written {
  const char* what;
  const char* mode;
  std::uint32_t tile;
  int bits;
  int samples;
  bool planes;
};

// `values` (one a sample, pixel after pixel) written by libtiff at `path`.
void writeTiff(const std::string& path, const Written& w, int width, int height,
               const std::vector<std::uint16_t>& values) {
  TIFF* tiff = TIFFOpen(path.c_str(), w.mode);
  ASSERT_NE(tiff, nullptr);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, w.bits);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, w.samples);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, w.planes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  const std::uint16_t associated = EXTRASAMPLE_ASSOCALPHA;
  if (w.samples == 4) TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &associated);
  if (w.tile != 0) {
    TIFFSetField(tiff, TIFFTAG_TILEWIDTH, w.tile);
    TIFFSetField(tiff, TIFFTAG_TILELENGTH, w.tile);
  } else {
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 4);
  }
  const int across = w.tile != 0 ? static_cast<int>(w.tile) : width;
  const int down = w.tile != 0 ? static_cast<int>(w.tile) : 4;
  const int perPixel = w.planes ? 1 : w.samples;
  const int bytes = w.bits / 8;
  for (int plane = 0; plane < (w.planes ? w.samples : 1); ++plane) {
    for (int top = 0; top < height; top += down) {
      for (int left = 0; left < width; left += across) {
        // The piece, zeros where it runs past the picture.
        std::vector<std::uint8_t> piece(static_cast<std::size_t>(across * down * perPixel * bytes));
        for (int y = top; y < std::min(height, top + down); ++y)
          for (int x = left; x < std::min(width, left + across); ++x)
            for (int c = 0; c < perPixel; ++c) {
              const std::uint16_t v =
                  values[static_cast<std::size_t>((y * width + x) * w.samples + plane + c)];
              const auto at =
                  static_cast<std::size_t>((((y - top) * across + x - left) * perPixel + c) * bytes);
              if (bytes == 1) piece[at] = static_cast<std::uint8_t>(v);
              if (bytes == 2) std::memcpy(&piece[at], &v, 2);
            }
        const auto size = static_cast<tmsize_t>(piece.size());
        if (w.tile != 0) {
          const std::uint32_t tile =
              TIFFComputeTile(tiff, static_cast<std::uint32_t>(left), static_cast<std::uint32_t>(top), 0,
                              static_cast<std::uint16_t>(plane));
          ASSERT_EQ(TIFFWriteEncodedTile(tiff, tile, piece.data(), size), size);
        } else {
          const std::uint32_t strip =
              TIFFComputeStrip(tiff, static_cast<std::uint32_t>(top), static_cast<std::uint16_t>(plane));
          const auto rows = static_cast<tmsize_t>(std::min(down, height - top));
          ASSERT_EQ(TIFFWriteEncodedStrip(tiff, strip, piece.data(), size / down * rows), size / down * rows);
        }
      }
    }
  }
  TIFFClose(tiff);
}

// Written by libtiff in its other layouts, a picture is recognised as TIFF
// and comes out as its samples say: 16 bits rounded to 8 (v * 255 / 65535
// to the nearest), colours multiplied by a 16-bit alpha divided by it
// before they are rounded. Where alpha is low, dividing the colours
// rounded to 8 bits gives other ones; the rows of associated alpha check
// that their samples tell the two apart.
TEST(TiffReader, LayoutsLibtiffWritesComeOutAsTheirSamples) {
  const Written layouts[] = {
      {"strips", "w", 0, 8, 3, false},
      {"BigTIFF", "w8", 0, 8, 3, false},
      {"BigTIFF, big-endian, 16-bit", "w8b", 0, 16, 3, false},
      {"BigTIFF, big-endian, tiles of 16", "w8b", 16, 8, 3, false},
      {"tiles of 16", "w", 16, 8, 3, false},
      {"tiles of 48", "w", 48, 8, 3, false},
      {"tiles of 48, planes", "w", 48, 8, 3, true},
      {"16-bit, tiles of 16", "w", 16, 16, 3, false},
      {"16-bit, associated alpha", "w", 0, 16, 4, false},
      {"16-bit, associated alpha, planes", "wb", 0, 16, 4, true},
      {"16-bit, associated alpha, tiles of 16", "w", 16, 16, 4, false},
  };
  const int width = 53, height = 37;
  const testing::TempFolder folder;
  std::uint32_t noise = 777;
  const auto next = [&noise] { return (noise = noise * 1103515245 + 12345) >> 8; };
  const auto toEight = [](unsigned v) { return static_cast<int>((v * 255 + 32767) / 65535); };
  for (const Written& layout : layouts) {
    SCOPED_TRACE(layout.what);
    const auto n = static_cast<std::size_t>(layout.samples);
    std::vector<std::uint16_t> values(static_cast<std::size_t>(width * height) * n);
    for (std::size_t i = 0; i < values.size(); i += n) {
      // Alpha below 2048, the colours at most alpha (a 16-bit alpha of 0
      // to 8 in 8 bits).
      const unsigned alpha = n == 4 ? next() % 2048 : 0;
      for (std::size_t c = 0; c < n; ++c)
        values[i + c] = static_cast<std::uint16_t>(n == 4 ? (c == 3 ? alpha : next() % (alpha + 1))
                                                          : next() % (layout.bits == 8 ? 256 : 65536));
    }
    writeTiff(folder.file("written.tif"), layout, width, height, values);
    const Bytes bytes = readFile(folder.file("written.tif"));
    const image::FormatDescriptor* format = image::formatOf(bytes, image::FormatSet::companion);
    EXPECT_TRUE(format != nullptr && format->name == "TIFF");
    const Reading reading = readBytes(bytes);
    ASSERT_TRUE(reading.picture.has_value());
    const image::Raster& raster = *reading.picture->raster;
    const int depth = n == 4 ? 32 : 24;
    ASSERT_EQ(std::tie(raster.width, raster.height, raster.depth), std::tie(width, height, depth));
    int mismatches = 0, roundedFirstDiffers = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const std::uint16_t* v = &values[static_cast<std::size_t>(y * width + x) * n];
        const auto got = image::test_support::pixelAt(raster, x, y);
        const unsigned a = n == 4 ? v[3] : 65535;
        for (std::size_t c = 0; c < 3; ++c) {
          int want = v[c];
          if (layout.bits == 16) {
            const unsigned straight = a == 0 ? 0 : std::min(65535u, (v[c] * 65535u + a / 2) / a);
            want = toEight(straight);
            const int a8 = toEight(a);
            const int roundedFirst = a8 == 0 ? 0 : std::min(255, (toEight(v[c]) * 255 + a8 / 2) / a8);
            roundedFirstDiffers += roundedFirst != want;
          }
          mismatches += got[c] != want;
        }
        mismatches += got[3] != (n == 4 ? toEight(a) : 255);
      }
    }
    EXPECT_EQ(mismatches, 0);
    if (n == 4) {
      EXPECT_GT(roundedFirstDiffers, width * height / 4);
    }
  }
}

TEST(TiffReader, CarriesTheColourProfile) {
  const Reading reading = readPath(dataPath("good/pil_tiff_strip_planar_16bit_RGBa.tiff"));
  ASSERT_TRUE(reading.picture.has_value());
  // Taken out of the file with ImageMagick (convert file.tiff profile.icc).
  EXPECT_EQ(reading.picture->iccProfile,
            readFile(dataPath("reference/pil_tiff_strip_planar_16bit_RGBa.icc")));
}

TEST(TiffReader, BadFilesGiveAReasonOrTheRowsTheyHold) {
  struct Case {
    const char* file;
    bool picture;
    DecodeFailure failure;
  };
  const Case cases[] = {
      {"hdr_tiff_65000x65000_gray8_raw-strip-10-bytes.tif", false, DecodeFailure::tooLarge},
      {"hdr_tiff_65000x65000_rgb16_deflate-strip-10-bytes.tif", false, DecodeFailure::tooLarge},
      // Directory loops after the first page, which is whole.
      {"lt_test_ifd_loop_subifd.tif", true, {}},
      {"lt_test_ifd_loop_to_first.tif", true, {}},
      {"pil_multipage_multiple_frame_loop.tiff", true, {}},
      {"pil_crash-0c7e0e8e11ce787078f00b5b0ca409a167f070e0.tif", false, DecodeFailure::unrecognised},
      // Bad CCITT codes late in the strip: libtiff fills the row and goes on.
      {"pil_crash-0da013a13571cc8eb457a39fee8db18f8a3c7127.tif", true, {}},
      {"pil_crash-74d2a78403a5a59db1fb0a2b8735ac068a75f6e3.tif", true, {}},
      {"pil_crash-86214e58da443d2b80820cff9677a38a33dcbbca.tif", false, DecodeFailure::unrecognised},
      {"pil_oom-225817ca0f8c663be7ab4b9e717b02c661e66834.tif", false, DecodeFailure::unrecognised},
      // 18689 samples a pixel: libtiff would ask for gigabytes.
      {"fuzz_lt_deflate-last-strip-extra-data_spp18689.tif", false, DecodeFailure::unsupportedFeature},
      // One strip, cut: no row of it can be had.
      {"trunc_lt_testfax4_half.tiff", false, DecodeFailure::unrecognised},
      {"trunc_pil_hopper.Lab_half.tif", false, DecodeFailure::unsupportedFeature},
      {"trunc_pil_tiff_strip_planar_16bit_RGBa_half.tiff", false, DecodeFailure::unrecognised},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const Reading reading = readPath(dataPath(std::string("bad/") + c.file));
    EXPECT_EQ(reading.picture.has_value(), c.picture);
    if (!c.picture) {
      EXPECT_EQ(reading.failure, c.failure);
    }
  }
}

// A file of many strips broken or cut part-way keeps exactly the strips
// before the break; broken in its first strip, it is no picture.
TEST(TiffReader, BrokenFileGivesTheStripsBeforeTheBreak) {
  struct Case {
    const char* file;
    std::size_t end, spoiledFrom, spoiled;  // cut at `end` (0: not cut), bytes set to 0xFF
    int rowsKept;                           // -1: no picture
  };
  const Case cases[] = {
      // LZW strips of 21 rows, codes LZW cannot take from the third on.
      {"good/pil_hopper_lzw.tif", 0, 19000, 19000, 42},
      // Uncompressed strips of 21 rows, the fourth's byte count running past
      // the end: libtiff refuses that strip.
      {"good/pil_hopper.tif", 0, 49440, 4, 63},
      // Deflate strips of 16 rows after the directory, cut in the fifteenth.
      {"questionable/lt_deflate-last-strip-extra-data.tiff", 6000, 0, 0, 224},
      {"questionable/lt_deflate-last-strip-extra-data.tiff", 800, 0, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.end));
    Bytes bytes = readFile(dataPath(c.file));
    const Reading whole = readBytes(bytes);
    ASSERT_TRUE(whole.picture.has_value());
    bytes.resize(c.end != 0 ? c.end : bytes.size());
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(c.spoiledFrom), c.spoiled, 0xFF);
    const Reading reading = readBytes(bytes);
    ASSERT_EQ(reading.picture.has_value(), c.rowsKept >= 0);
    if (!reading.picture) {
      EXPECT_EQ(reading.failure, DecodeFailure::unrecognised);
      continue;
    }
    EXPECT_TRUE(reading.picture->partial);
    const image::Raster& raster = *whole.picture->raster;
    const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(raster.width) * 3);
    for (int y = 0; y < raster.height; ++y)
      ASSERT_EQ(std::memcmp(reading.picture->raster->pictureRow(y),
                            y < c.rowsKept ? raster.pictureRow(y) : zeros.data(), zeros.size()),
                0)
          << "row " << y;
  }
}

// One bit of a Deflate strip's zlib header changed: libtiff takes the strip
// as whole yet leaves bytes of it unwritten. Those come out the same on
// every read, whatever the memory held before (glibc fills each allocation
// with a byte the test chooses; not under the sanitizers, which own malloc).
TEST(TiffReader, BytesLibtiffLeavesUnwrittenAreTheSameOnEveryRead) {
  Bytes bytes = readFile(dataPath("questionable/lt_deflate-last-strip-extra-data.tiff"));
  ASSERT_EQ(bytes.at(742), 0x78);  // a zlib header: Deflate, 32 KiB window
  bytes[742] ^= 1;
  std::vector<std::vector<std::uint8_t>> pictures;
  for (const int fill : {0x5A, 0xA5}) {
    mallopt(M_PERTURB, fill);
    const Reading reading = readBytes(bytes);
    mallopt(M_PERTURB, 0);
    ASSERT_TRUE(reading.picture.has_value());
    const image::Raster& raster = *reading.picture->raster;
    const auto rowBytes =
        static_cast<std::size_t>(raster.width) * static_cast<std::size_t>(raster.bytesPerPixel());
    std::vector<std::uint8_t>& rows = pictures.emplace_back();
    for (int y = 0; y < raster.height; ++y)
      rows.insert(rows.end(), raster.pictureRow(y), raster.pictureRow(y) + rowBytes);
  }
  EXPECT_TRUE(pictures[0] == pictures[1]);
}

// Reduced while decoded, an opaque picture is byte for byte the whole
// picture resampled, turned pictures included.
TEST(TiffReader, ReductionEqualsResamplingTheWholePicture) {
  for (const char* file : {"good/pil_hopper_lzw.tif", "good/lt_quad-tile.jpg.tiff",
                           "good/pil_g4_orientation_6.tif", "good/pil_tiff_tiled_cmyk_jpeg.tif"}) {
    SCOPED_TRACE(file);
    const ReduceTo reduce = [](int width, int height) { return PictureSize{width / 3, height * 2 / 5}; };
    const Reading whole = readPath(dataPath(file));
    const Reading reduced = readPath(dataPath(file), {}, &reduce);
    ASSERT_TRUE(whole.picture.has_value());
    ASSERT_TRUE(reduced.picture.has_value());
    const image::Raster& source = *whole.picture->raster;
    auto expected = image::makeRaster(source.width / 3, source.height * 2 / 5, 24);
    ASSERT_TRUE(image::resampleOpaque(source, *expected));
    const image::Raster& got = *reduced.picture->raster;
    ASSERT_EQ(got.width, expected->width);
    ASSERT_EQ(got.height, expected->height);
    for (int y = 0; y < got.height; ++y)
      ASSERT_EQ(
          std::memcmp(got.pictureRow(y), expected->pictureRow(y), static_cast<std::size_t>(got.width) * 3), 0)
          << "row " << y;
  }
}

TEST(TiffReader, LimitsAreCheckedFromTheHeaderAndStopIsSeen) {
  const std::string file = dataPath("good/lt_testfax4.tiff");  // 2453 x 3369, one strip
  for (const ReadUpTo upTo : {ReadUpTo::header, ReadUpTo::picture}) {
    // The raster fits, the band of 32-bit pixels the one strip needs does not.
    const Reading reading = readPath(file, {2453ull * 3369 * 4, nullptr}, nullptr, upTo);
    EXPECT_FALSE(reading.header.has_value());
    EXPECT_EQ(reading.failure, DecodeFailure::overBudget);
  }
  const Reading header = readPath(dataPath("good/pil_g4_orientation_6.tif"), {}, nullptr, ReadUpTo::header);
  ASSERT_TRUE(header.header.has_value());
  EXPECT_EQ(header.header->size.width, 590);  // stored 88 x 590, turned a quarter
  std::atomic<bool> cancel{false};
  const ReduceTo raise = [&cancel](int, int) {
    cancel = true;
    return std::nullopt;
  };
  const Reading stopped = readPath(file, {image::kNoMemoryBudget, &cancel}, &raise);
  EXPECT_FALSE(stopped.picture.has_value());
  EXPECT_EQ(stopped.failure, DecodeFailure::cancelled);
}

}  // namespace
}  // namespace pixmoor::foreign
