// Helpers shared by the BMP and icon reader tests: reading files and the
// reference renderings, comparing a raster with a reference, and writing
// little-endian fields of hand-made files.
#pragma once

#include <png.h>

#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "image/raster.h"

namespace pixmoor::image::test_support {

using Bytes = std::vector<std::uint8_t>;

inline Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A reference rendering as top-down R, G, B, A rows.
struct Rgba {
  int width = 0;
  int height = 0;
  Bytes pixels;
};

// libpng's simplified reader takes 16-bit samples as linear light and hands
// them back gamma-encoded (or premultiplied); the references store plain
// scaled values, so they are read with the ordinary interface and 16-bit
// samples are rounded to 8 bits.
inline std::optional<Rgba> readReference(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  Rgba out;
  bool ok = false;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_read_png(png, info, PNG_TRANSFORM_EXPAND | PNG_TRANSFORM_GRAY_TO_RGB, nullptr);
    out.width = static_cast<int>(png_get_image_width(png, info));
    out.height = static_cast<int>(png_get_image_height(png, info));
    const int channels = png_get_channels(png, info);
    const bool sixteen = png_get_bit_depth(png, info) == 16;
    png_bytepp rows = png_get_rows(png, info);
    out.pixels.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height) * 4);
    std::size_t at = 0;
    for (int y = 0; y < out.height; ++y) {
      for (int x = 0; x < out.width; ++x) {
        for (int c = 0; c < 4; ++c) {
          int value = 255;
          if (c < channels) {
            const std::size_t i = static_cast<std::size_t>(x * channels + c);
            value = sixteen ? ((rows[y][2 * i] << 8 | rows[y][2 * i + 1]) * 255 + 32767) / 65535 : rows[y][i];
          }
          out.pixels[at++] = static_cast<std::uint8_t>(value);
        }
      }
    }
    ok = channels == 3 || channels == 4;
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  if (!ok) return std::nullopt;
  return out;
}

// Pixel (x, y) of the picture, y counted from the top, as R, G, B, A; a
// 24-bit raster answers alpha 255.
inline std::array<int, 4> pixelAt(const Raster& raster, int x, int y) {
  const std::uint8_t* p =
      raster.pictureRow(y) + static_cast<std::size_t>(x) * static_cast<std::size_t>(raster.bytesPerPixel());
  return {p[2], p[1], p[0], raster.depth == 32 ? p[3] : 255};
}

// Number of pixels that differ from the reference by more than `tolerance`
// in some channel; colour is not compared where both are fully transparent.
inline int countMismatches(const Raster& raster, const Rgba& reference, int tolerance, std::string* first) {
  int mismatches = 0;
  for (int y = 0; y < raster.height; ++y) {
    for (int x = 0; x < raster.width; ++x) {
      const auto got = pixelAt(raster, x, y);
      const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(reference.width) +
                              static_cast<std::size_t>(x)) *
                             4;
      const std::array<int, 4> want = {reference.pixels[at], reference.pixels[at + 1],
                                       reference.pixels[at + 2], reference.pixels[at + 3]};
      bool same = std::abs(got[3] - want[3]) <= tolerance;
      if (want[3] != 0 || got[3] != 0)
        for (int c = 0; c < 3; ++c) same = same && std::abs(got[c] - want[c]) <= tolerance;
      if (!same) {
        if (mismatches == 0 && first != nullptr) {
          *first = "at " + std::to_string(x) + "," + std::to_string(y) + " got " + std::to_string(got[0]) +
                   " " + std::to_string(got[1]) + " " + std::to_string(got[2]) + " " +
                   std::to_string(got[3]) + " want " + std::to_string(want[0]) + " " +
                   std::to_string(want[1]) + " " + std::to_string(want[2]) + " " + std::to_string(want[3]);
        }
        ++mismatches;
      }
    }
  }
  return mismatches;
}

inline void put16(Bytes& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

inline void put32(Bytes& out, std::uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

}  // namespace pixmoor::image::test_support
