// What the fuzz targets of the decode helper's readers share: each input is
// read by the reader directly (this process never reaches these readers
// through loadPicture), to its header, then whole with a reduction chosen by
// its last byte (a third to an eighth, sometimes one side only).
//
// In the capped mode (fuzz_support.h) the header must agree with the
// picture, and every reduced picture whose data was whole is checked against
// reading it whole and resampling it: the bytes must be the same, or the run
// stops with a crash.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "fuzz_support.h"
#include "image/picture_format.h"
#include "resample/resample.h"

namespace pixmoor::fuzz {

inline image::Reading readAs(image::FormatReader reader, std::span<const std::uint8_t> block,
                             const image::ReduceTo* reduce, image::ReadUpTo upTo) {
  image::PictureInput input(block);
  return reader(input, setup().limits(), reduce, upTo);
}

inline bool sameRows(const image::Raster& a, const image::Raster& b) {
  if (a.width != b.width || a.height != b.height || a.depth != b.depth) return false;
  const auto bytes = static_cast<std::size_t>(a.width) * static_cast<std::size_t>(a.bytesPerPixel());
  for (int y = 0; y < a.height; ++y) {
    if (std::memcmp(a.storageRow(y), b.storageRow(y), bytes) != 0) return false;
  }
  return true;
}

// Whether two reads of one input must give the same picture. libde265 (under
// libheif) reads memory it never wrote while decoding some damaged streams,
// so two reads of such a file may end differently; the HEIF run checks only
// that nothing crashes or leaks and that the header agrees with the picture.
enum class Repeatable { yes, notForDamagedData };

// One input through `reader`; answers libFuzzer's value (-1: not kept).
inline int fuzzForeignReader(image::FormatReader reader, const std::uint8_t* data, std::size_t size,
                             Repeatable repeatable = Repeatable::yes) {
  using namespace pixmoor::image;
  const std::span<const std::uint8_t> block(data, size);
  if (size == 0 || !worthReading(block)) return -1;
  const int divisor = 3 + data[size - 1] % 6;
  const bool oneSide = data[size - 1] >= 0xC0;
  const ReduceTo reduce = [divisor, oneSide](int width, int height) -> std::optional<PictureSize> {
    return PictureSize{std::max(1, width / divisor), oneSide ? height : std::max(1, height / divisor)};
  };
  const Reading header = readAs(reader, block, nullptr, ReadUpTo::header);
  const Reading reduced = readAs(reader, block, &reduce, ReadUpTo::picture);
  if (!reduced.picture) return 0;
  const DecodedPicture& picture = *reduced.picture;
  touchEveryRow(*picture.raster);
  if (setup().memoryBudget != 0) return 0;
  // What the header said is what the picture is.
  if (!header.header || header.header->size.width != picture.source.width ||
      header.header->size.height != picture.source.height)
    std::abort();
  const std::optional<PictureSize> target = reduce(picture.source.width, picture.source.height);
  const bool wasReduced = picture.raster->width == target->width &&
                          picture.raster->height == target->height &&
                          (target->width != picture.source.width || target->height != picture.source.height);
  if (picture.partial || !wasReduced || repeatable != Repeatable::yes) return 0;
  const Reading whole = readAs(reader, block, nullptr, ReadUpTo::picture);
  if (!whole.picture || whole.picture->partial) std::abort();  // the same data read two ways
  const auto twoSteps = resampledCopy(*whole.picture->raster, target->width, target->height);
  if (twoSteps == nullptr || !sameRows(*picture.raster, *twoSteps)) std::abort();
  return 0;
}

}  // namespace pixmoor::fuzz
