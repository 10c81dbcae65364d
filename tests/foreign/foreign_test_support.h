// Helpers shared by the HEIF and AVIF reader tests: a reader run over a
// file through a PictureInput on its descriptor (as the decode helper runs
// it), pictures as top-down R, G, B, A for comparison, reference PNGs.
#pragma once

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "image/picture_format.h"
#include "image/raster.h"

namespace pixmoor::foreign::test_support {

using Bytes = std::vector<std::uint8_t>;

inline std::string dataPath(const std::string& relative) {
  return std::string(PIXMOOR_TEST_DATA) + "/" + relative;
}

inline Bytes readFile(const std::string& path) {
  Bytes bytes;
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    std::uint8_t buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
      bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(file);
  }
  return bytes;
}

// Runs `reader` over the file at `path` (its size as opened, or `claimedSize`).
inline image::Reading readThrough(image::FormatReader reader, const std::string& path,
                                  const image::DecodeLimits& limits = {},
                                  const image::ReduceTo* reduce = nullptr,
                                  image::ReadUpTo upTo = image::ReadUpTo::picture,
                                  std::uint64_t claimedSize = 0) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  struct stat status {};
  ::fstat(fd, &status);
  image::PictureInput input(fd, claimedSize != 0 ? claimedSize : static_cast<std::uint64_t>(status.st_size));
  image::Reading reading = reader(input, limits, reduce, upTo);
  ::close(fd);
  return reading;
}

// A picture as top-down R, G, B, A (alpha 255 where there is none).
struct Rgba {
  int width = 0;
  int height = 0;
  Bytes pixels;
  int at(int x, int y, int c) const {
    return pixels[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                   static_cast<std::size_t>(x)) *
                      4 +
                  static_cast<std::size_t>(c)];
  }
};

inline Rgba rgbaOf(const image::Raster& raster) {
  Rgba out{raster.width, raster.height, {}};
  out.pixels.reserve(static_cast<std::size_t>(raster.width) * static_cast<std::size_t>(raster.height) * 4);
  for (int y = 0; y < raster.height; ++y) {
    const std::uint8_t* row = raster.pictureRow(y);
    for (int x = 0; x < raster.width; ++x) {
      const std::uint8_t* p = row + static_cast<std::ptrdiff_t>(x) * raster.bytesPerPixel();
      out.pixels.insert(out.pixels.end(), {p[2], p[1], p[0], raster.depth == 32 ? p[3] : std::uint8_t{255}});
    }
  }
  return out;
}

// The storage rows of a raster without their padding.
inline Bytes rowsOf(const image::Raster& raster) {
  Bytes out;
  const auto rowBytes =
      static_cast<std::size_t>(raster.width) * static_cast<std::size_t>(raster.bytesPerPixel());
  for (int y = 0; y < raster.height; ++y)
    out.insert(out.end(), raster.storageRow(y), raster.storageRow(y) + rowBytes);
  return out;
}

// The largest difference of any channel; colour is not compared where both
// pixels are fully transparent. -1 when the sizes differ.
inline int largestDifference(const Rgba& got, const Rgba& want) {
  if (got.width != want.width || got.height != want.height) return -1;
  int largest = 0;
  for (int y = 0; y < got.height; ++y) {
    for (int x = 0; x < got.width; ++x) {
      const bool transparent = got.at(x, y, 3) == 0 && want.at(x, y, 3) == 0;
      for (int c = transparent ? 3 : 0; c < 4; ++c)
        largest = std::max(largest, std::abs(got.at(x, y, c) - want.at(x, y, c)));
    }
  }
  return largest;
}

// Peak signal-to-noise ratio of the colour channels, in dB: a lossy
// picture against its original.
inline double psnr(const Rgba& got, const Rgba& want) {
  if (got.width != want.width || got.height != want.height) return 0;
  double squares = 0;
  for (int y = 0; y < got.height; ++y)
    for (int x = 0; x < got.width; ++x)
      for (int c = 0; c < 3; ++c) {
        const double d = got.at(x, y, c) - want.at(x, y, c);
        squares += d * d;
      }
  const double mean = squares / (3.0 * got.width * got.height);
  return mean == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mean);
}

// An 8-bit PNG reference (RGB or RGBA).
inline std::optional<Rgba> readPng(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::optional<Rgba> out;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_read_png(png, info, PNG_TRANSFORM_EXPAND | PNG_TRANSFORM_SCALE_16 | PNG_TRANSFORM_GRAY_TO_RGB,
                 nullptr);
    const int width = static_cast<int>(png_get_image_width(png, info));
    const int height = static_cast<int>(png_get_image_height(png, info));
    const int channels = png_get_channels(png, info);
    png_bytepp rows = png_get_rows(png, info);
    Rgba picture{width, height, {}};
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        for (int c = 0; c < 4; ++c) picture.pixels.push_back(c < channels ? rows[y][x * channels + c] : 255);
    if (channels == 3 || channels == 4) out = std::move(picture);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return out;
}

}  // namespace pixmoor::foreign::test_support
