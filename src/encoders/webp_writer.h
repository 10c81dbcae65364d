// The WebP writers: B G R (A) rows to a lossy or a lossless WebP file
// through libwebp, for pixmoor-batch's --format webp.
//
// Lossy: the program's 0..10 quality maps to libwebp's 20, 30, 40, 50, 60,
// 70, 75, 80, 85, 90, 95 (webpLibraryQuality), method 4, and from quality 8
// up the sharp RGB to YUV conversion (slower, crisper colour edges).
// Lossless: libwebp's preset of level min(quality, 6) (higher levels take
// tens of seconds per picture for a few per cent), every pixel kept exactly,
// the colour under transparent pixels too. 32-bit rows keep their alpha (a
// picture without a transparent pixel is written without an alpha channel).
// The picture's ICC profile and EXIF block (RowSource), when it has them,
// go into ICCP and EXIF chunks through libwebpmux; nothing else is written.
// Sides are at most 16383 (the format's limit): a larger picture answers
// BadRequest before anything is encoded.
//
// One call encodes on the calling thread alone and holds no state between
// calls, so that an encode into memory at a given quality may be repeated
// cheaply. The cancel flag is looked at through libwebp's progress hook,
// which the library calls many times per picture, so that a Stop ends an
// encode part-way (Cancelled); memory the library could not have gives
// OutOfMemory; a failed write gives WriteFailed. Reentrant.
#pragma once

#include "encoders/encoder_registry.h"

namespace pixmoor::image {

// The libwebp quality used for the program's quality `quality` (clamped).
constexpr int webpLibraryQuality(int quality) {
  constexpr int kQualities[] = {20, 30, 40, 50, 60, 70, 75, 80, 85, 90, 95};
  return kQualities[quality < 0 ? 0 : quality > 10 ? 10 : quality];
}
inline constexpr int kWebpMethod = 4;
inline constexpr int kWebpSharpYuvFrom = 8;
inline constexpr int kWebpLosslessLevelMost = 6;

// Lossy; 24-bit or 32-bit rows. `depth` is not used.
SaveStatus writeWebp(TempOutput& out, const RowSource& rows, int quality, int depth,
                     const CancelFlag* cancel);
// Lossless; 24-bit or 32-bit rows. `depth` is not used.
SaveStatus writeWebpLossless(TempOutput& out, const RowSource& rows, int quality, int depth,
                             const CancelFlag* cancel);

}  // namespace pixmoor::image
