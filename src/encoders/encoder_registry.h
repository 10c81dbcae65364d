// The encoder registry: which writer handles which encoder identifier.
//
// An ordered list, appended to at start-up; lookup is linear and the first
// entry with an identifier wins. Each entry has a writer for 24-bit rasters
// and, optionally, one that keeps the alpha of 32-bit rasters. Writers put
// their bytes into a TempOutput that saveRaster owns and commits, so a writer
// never opens, renames or deletes files itself.
//
// The list is guarded by a lock, so registration and lookup may come from
// any thread; in practice it is filled once before any worker starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "encoders/encode.h"
#include "encoders/temp_output.h"
#include "image/raster.h"

namespace pixmoor::image {

// Pixel rows handed to a writer: B G R (A) bytes, `stride` bytes apart. With
// `bottomUp` the first row in memory is the bottom picture row, so writers
// start from the last row in memory to put the top row first in the file.
struct RowSource {
  const std::uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;
  int bytesPerPixel = 3;  // 3 or 4
  bool bottomUp = true;
  std::span<const std::uint8_t> iccProfile = {};  // the picture's ICC profile, empty when none
  // Its EXIF block, fitted to the output (metadata/exif_editor.h), or none.
  std::span<const std::uint8_t> exif = {};

  // Picture row y, 0 being the top row of the picture.
  const std::uint8_t* row(int y) const {
    const int storage = bottomUp ? height - 1 - y : y;
    return pixels + static_cast<std::ptrdiff_t>(stride) * storage;
  }
};

// A writer. `quality` is the program's 0..10 scale, `depth` the requested
// output depth (a palette for 1, 2, 4 or 8 where the format has one). Answers
// Saved, WriteFailed, OutOfMemory or Cancelled; never commits `out`.
using EncoderEntry = SaveStatus (*)(TempOutput& out, const RowSource& rows, int quality, int depth,
                                    const CancelFlag* cancel);

struct Encoder {
  std::uint32_t id = 0;
  EncoderEntry write24 = nullptr;  // always present
  EncoderEntry write32 = nullptr;  // null: 32-bit rasters are flattened onto white first
};

// Appends an entry (an entry without a 24-bit writer is ignored).
void addEncoder(const Encoder& encoder);
// The first entry with this identifier.
std::optional<Encoder> findEncoder(std::uint32_t id);
// How many entries the list holds (for checks of the registration rules).
std::size_t encoderCount();

}  // namespace pixmoor::image
