// Helpers shared by the reader tests of the helper's formats: a reader run over a
// file through a PictureInput on its descriptor (as the decode helper runs
// it), pictures as top-down R, G, B, A for comparison.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "codecs/reference_picture.h"
#include "image/picture_format.h"
#include "image/raster.h"

namespace pixmoor::foreign::test_support {

using image::test_support::Bytes;
using image::test_support::readFile;

inline std::string dataPath(const std::string& relative) {
  return std::string(PIXMOOR_TEST_DATA) + "/" + relative;
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

// Pictures as top-down R, G, B, A (alpha 255 where there is none).
using image::test_support::readReference;
using image::test_support::Rgba;

inline int channel(const Rgba& picture, int x, int y, int c) {
  return picture.pixels[(static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.width) +
                         static_cast<std::size_t>(x)) *
                            4 +
                        static_cast<std::size_t>(c)];
}

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
      const bool transparent = channel(got, x, y, 3) == 0 && channel(want, x, y, 3) == 0;
      for (int c = transparent ? 3 : 0; c < 4; ++c)
        largest = std::max(largest, std::abs(channel(got, x, y, c) - channel(want, x, y, c)));
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
        const double d = channel(got, x, y, c) - channel(want, x, y, c);
        squares += d * d;
      }
  const double mean = squares / (3.0 * got.width * got.height);
  return mean == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mean);
}

}  // namespace pixmoor::foreign::test_support
