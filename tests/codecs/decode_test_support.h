// Helpers shared by the reader and store tests: JPEG and PNG files built in
// memory with the libraries' writers, scratch files, pixel access.
#pragma once

#include <jpeglib.h>
#include <png.h>
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/raster.h"

namespace pixmoor::image::decodetest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::string testData(const std::string& relative) {
  return std::string(PIXMOOR_TEST_DATA) + "/" + relative;
}

// A folder of its own under the temporary folder, removed at the end.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pixmoor-decode-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Bytes of the pixel at picture position (x, y), top-left origin.
inline const std::uint8_t* pixelAt(const Raster& raster, int x, int y) {
  return raster.pictureRow(y) +
         static_cast<std::size_t>(x) * static_cast<std::size_t>(raster.bytesPerPixel());
}

// ---- orientation ----

struct Stored {
  int x;
  int y;
};

// Where the upright pixel (ux, uy) comes from in the stored picture, written
// from each orientation's description.
inline Stored storedPositionFor(int orientation, int ux, int uy, int width, int height) {
  switch (orientation) {
    case 2:
      return {width - 1 - ux, uy};  // mirrored left-right
    case 3:
      return {width - 1 - ux, height - 1 - uy};  // upside down
    case 4:
      return {ux, height - 1 - uy};  // mirrored top-bottom
    case 5:
      return {uy, ux};  // mirrored along the main diagonal
    case 6:
      return {uy, height - 1 - ux};  // needs a quarter turn clockwise
    case 7:
      return {width - 1 - uy, height - 1 - ux};  // mirrored along the other diagonal
    case 8:
      return {width - 1 - uy, ux};  // needs a quarter turn anticlockwise
    default:
      return {ux, uy};
  }
}

// ---- JPEG files made with libjpeg ----

struct JpegRecipe {
  int width = 0;
  int height = 0;
  int components = 3;                  // 1 grey, 3 RGB, 4 CMYK
  J_COLOR_SPACE stored = JCS_UNKNOWN;  // colour space in the file; JCS_UNKNOWN: the library's default
  int quality = 90;
  bool adobeMarker = true;  // four components: write Adobe's APP14 (the library's default)
  int lumaH = 2;            // YCbCr: luma sampling factors (2 x 2 is 4:2:0, 2 x 1 4:2:2, 1 x 1 4:4:4)
  int lumaV = 2;
  bool progressive = false;
  Bytes app1;               // written as an APP1 segment when not empty
  std::vector<Bytes> app2;  // each written as an APP2 segment, in order
  Bytes samples;            // top-down rows of width * components samples
};

inline Bytes makeJpeg(const JpegRecipe& recipe) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(recipe.width);
  cinfo.image_height = static_cast<JDIMENSION>(recipe.height);
  cinfo.input_components = recipe.components;
  cinfo.in_color_space = recipe.components == 1 ? JCS_GRAYSCALE : recipe.components == 4 ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  if (recipe.stored != JCS_UNKNOWN) jpeg_set_colorspace(&cinfo, recipe.stored);
  if (recipe.components == 4) cinfo.write_Adobe_marker = recipe.adobeMarker ? TRUE : FALSE;
  jpeg_set_quality(&cinfo, recipe.quality, TRUE);
  if (recipe.components == 3 && recipe.stored == JCS_UNKNOWN) {
    cinfo.comp_info[0].h_samp_factor = recipe.lumaH;
    cinfo.comp_info[0].v_samp_factor = recipe.lumaV;
  }
  if (recipe.progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  if (!recipe.app1.empty()) {
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, recipe.app1.data(), static_cast<unsigned>(recipe.app1.size()));
  }
  for (const Bytes& app2 : recipe.app2) {
    jpeg_write_marker(&cinfo, JPEG_APP0 + 2, app2.data(), static_cast<unsigned>(app2.size()));
  }
  const std::size_t rowBytes =
      static_cast<std::size_t>(recipe.width) * static_cast<std::size_t>(recipe.components);
  while (cinfo.next_scanline < cinfo.image_height) {
    auto* row = const_cast<JSAMPLE*>(recipe.samples.data() + rowBytes * cinfo.next_scanline);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

// An APP1 "Exif" payload whose IFD0 holds the orientation tag, in either byte
// order, after `padEntries` other entries.
inline Bytes exifWithOrientation(int orientation, bool bigEndian, int padEntries = 0) {
  Bytes out = {'E', 'x', 'i', 'f', 0, 0};
  auto put16 = [&](unsigned v) {
    if (bigEndian) {
      out.push_back(static_cast<std::uint8_t>(v >> 8));
      out.push_back(static_cast<std::uint8_t>(v));
    } else {
      out.push_back(static_cast<std::uint8_t>(v));
      out.push_back(static_cast<std::uint8_t>(v >> 8));
    }
  };
  auto put32 = [&](std::uint32_t v) {
    if (bigEndian) {
      put16(v >> 16);
      put16(v & 0xFFFF);
    } else {
      put16(v & 0xFFFF);
      put16(v >> 16);
    }
  };
  out.push_back(bigEndian ? 'M' : 'I');
  out.push_back(bigEndian ? 'M' : 'I');
  put16(42);
  put32(8);
  put16(static_cast<unsigned>(padEntries + 1));
  for (int i = 0; i < padEntries; ++i) {
    put16(0x010F);  // Make, ASCII, 4 bytes inline
    put16(2);
    put32(4);
    out.insert(out.end(), {'a', 'b', 'c', 0});
  }
  put16(0x0112);
  put16(3);
  put32(1);
  put16(static_cast<unsigned>(orientation));
  put16(0);
  put32(0);  // no next IFD
  return out;
}

// ---- PNG files made with libpng ----

struct PngRecipe {
  int width = 0;
  int height = 0;
  int colourType = PNG_COLOR_TYPE_RGB;
  int bitDepth = 8;
  bool interlaced = false;
  std::vector<png_color> palette;
  std::vector<std::uint8_t> paletteAlpha;  // tRNS of a palette picture
  bool greyOrColourKey = false;            // tRNS of a grey or RGB picture
  png_color_16 key{};
  std::vector<Bytes> rows;  // packed as the file stores them (16-bit big-endian)
  Bytes iccProfile;         // written as an iCCP chunk when not empty
  Bytes exif;               // an eXIf chunk before the picture data when not empty (TIFF, no "Exif" mark)
};

inline void appendPng(png_structp png, png_bytep data, std::size_t length) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

inline void flushNothing(png_structp) {}

inline Bytes makePng(const PngRecipe& recipe) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, appendPng, flushNothing);
  png_set_IHDR(png, info, static_cast<png_uint_32>(recipe.width), static_cast<png_uint_32>(recipe.height),
               recipe.bitDepth, recipe.colourType,
               recipe.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!recipe.palette.empty())
    png_set_PLTE(png, info, recipe.palette.data(), static_cast<int>(recipe.palette.size()));
  if (!recipe.paletteAlpha.empty()) {
    png_set_tRNS(png, info, recipe.paletteAlpha.data(), static_cast<int>(recipe.paletteAlpha.size()),
                 nullptr);
  } else if (recipe.greyOrColourKey) {
    png_color_16 key = recipe.key;
    png_set_tRNS(png, info, nullptr, 0, &key);
  }
  if (!recipe.iccProfile.empty()) {
    png_set_iCCP(png, info, "profile", PNG_COMPRESSION_TYPE_BASE, recipe.iccProfile.data(),
                 static_cast<png_uint_32>(recipe.iccProfile.size()));
  }
  if (!recipe.exif.empty()) {
    Bytes exif = recipe.exif;
    png_set_eXIf_1(png, info, static_cast<png_uint_32>(exif.size()), exif.data());
  }
  png_write_info(png, info);
  const int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass) {
    for (const Bytes& row : recipe.rows) png_write_row(png, row.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

// The chunks of a PNG file without those named in `drop` (CRCs are per
// chunk, so the rest stays valid).
inline Bytes withoutChunks(const Bytes& file, const std::vector<std::string>& drop) {
  if (file.size() < 8) return file;
  Bytes out(file.begin(), file.begin() + 8);
  std::size_t at = 8;
  while (file.size() - at >= 12) {
    const std::uint32_t length = static_cast<std::uint32_t>(file[at]) << 24 |
                                 static_cast<std::uint32_t>(file[at + 1]) << 16 |
                                 static_cast<std::uint32_t>(file[at + 2]) << 8 | file[at + 3];
    if (length > file.size() - at - 12) break;
    const std::string type(file.begin() + static_cast<std::ptrdiff_t>(at + 4),
                           file.begin() + static_cast<std::ptrdiff_t>(at + 8));
    bool keep = true;
    for (const auto& name : drop) keep = keep && name != type;
    if (keep)
      out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(at),
                 file.begin() + static_cast<std::ptrdiff_t>(at + 12 + length));
    at += 12 + length;
  }
  return out;
}

}  // namespace pixmoor::image::decodetest
