// The formats an output is written in, one row each: its extension, its
// encoder, whether the 0..10 quality is a scale a byte limit may search, its
// largest side and the most EXIF one block of it holds. The plan, the run's
// pipeline, the size check, the EXIF fit and the output names walk this
// table; nothing else switches on the format. Plain values; any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "encoders/encode.h"
#include "metadata/exif_editor.h"
#include "settings/settings.h"

namespace pixmoor::batch {

struct OutputFormatRow {
  settings::OutputFormat format;
  std::string_view extension;
  std::uint32_t encoder;
  // The quality reaches the encoder as a scale to search under a byte
  // limit; otherwise it is a level of effort (lossless WebP) or unused (PNG).
  bool qualityScale;
  std::int32_t largestSide;  // the program's own 32767, or less where the format says so
  std::size_t largestExif;
};

inline constexpr std::array<OutputFormatRow, 5> kOutputFormats = {{
    {settings::OutputFormat::jpeg, "jpg", image::kJpegEncoder, true, 32767, image::kMaxJpegExifBytes},
    {settings::OutputFormat::png, "png", image::kPngEncoder, false, 32767, image::kMaxExifBytes},
    {settings::OutputFormat::webp, "webp", image::kWebpEncoder, true, 16383, image::kMaxExifBytes},
    {settings::OutputFormat::webpLossless, "webp", image::kWebpLosslessEncoder, false, 16383,
     image::kMaxExifBytes},
    {settings::OutputFormat::avif, "avif", image::kAvifEncoder, true, 32767, image::kMaxExifBytes},
}};

// The row of `format`; null for a format the settings name but no row has.
const OutputFormatRow* outputFormatRow(settings::OutputFormat format);

// The row whose encoder is `encoder`; null for none.
const OutputFormatRow* outputFormatRowOfEncoder(std::uint32_t encoder);

// Whether an output of `width` x `height` can be written in `row`'s format.
inline bool sidesFit(const OutputFormatRow& row, std::int32_t width, std::int32_t height) {
  return width <= row.largestSide && height <= row.largestSide;
}

}  // namespace pixmoor::batch
