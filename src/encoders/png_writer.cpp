#include "encoders/png_writer.h"

#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

#include "encoders/neuquant.h"

namespace pixmoor::image {
namespace {

// Everything the encoding needs, held by the caller so that the function
// with setjmp has no locals of its own worth restoring.
struct PngJob {
  png_structp png;
  png_infop info;
  TempOutput* out;
  const RowSource* rows;
  int colourType;  // 2 or 6 for true colour
  int depth;       // palette depth, 0 for true colour
  const PaletteQuantizer* quantizer;
  std::uint8_t* packedRow;  // one row of palette indices, packed
  png_color palette[256];
  const CancelFlag* cancel;
  SaveStatus status;
  bool outOfMemory;  // an allocation of libpng's or zlib's failed
};

[[noreturn]] void onError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void onWarning(png_structp, png_const_charp) {}

// libpng's and zlib's allocations, so that a lack of memory is told apart
// from the library's other errors.
png_voidp allocate(png_structp png, png_alloc_size_t size) {
  void* memory = std::malloc(size);
  if (memory == nullptr) static_cast<PngJob*>(png_get_mem_ptr(png))->outOfMemory = true;
  return memory;
}
void release(png_structp, png_voidp memory) {
  std::free(memory);
}

void onWrite(png_structp png, png_bytep data, png_size_t size) {
  auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
  if (!job->out->write(data, size)) png_error(png, "write failed");
}
void onFlush(png_structp) {}

// Maps picture row y to palette indices, packed with the first pixel in the
// high bits of each byte.
void packRow(const PngJob& job, int y) {
  const RowSource& rows = *job.rows;
  const std::uint8_t* in = rows.row(y);
  const int bpp = rows.bytesPerPixel;
  const int depth = job.depth;
  const int perByte = 8 / depth;
  const std::size_t rowBytes =
      (static_cast<std::size_t>(rows.width) * static_cast<std::size_t>(depth) + 7) / 8;
  std::memset(job.packedRow, 0, rowBytes);
  // Neighbouring pixels are often equal; remember the last answer.
  std::uint32_t lastKey = 0;
  int lastIndex = -1;
  for (int x = 0; x < rows.width; ++x, in += bpp) {
    const std::uint8_t alpha = bpp == 4 ? in[3] : 255;
    const std::uint32_t key = static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
                              static_cast<std::uint32_t>(in[2]) << 16 |
                              static_cast<std::uint32_t>(alpha) << 24;
    if (lastIndex < 0 || key != lastKey) {
      lastIndex = job.quantizer->indexOf(in[0], in[1], in[2], alpha);
      lastKey = key;
    }
    const int shift = 8 - depth * (x % perByte + 1);
    job.packedRow[x / perByte] |= static_cast<std::uint8_t>(lastIndex << shift);
  }
}

// The one function that holds the setjmp. Its only local state lives in
// `job`, which outlives the jump.
void encode(PngJob& job) {
  job.status = SaveStatus::writeFailed;
  job.png =
      png_create_write_struct_2(PNG_LIBPNG_VER_STRING, &job, onError, onWarning, &job, allocate, release);
  // Only memory stops the structures being made: the version is the header's.
  if (job.png == nullptr) {
    job.status = SaveStatus::outOfMemory;
    return;
  }
  job.info = png_create_info_struct(job.png);
  if (job.info == nullptr) {
    job.status = SaveStatus::outOfMemory;
    png_destroy_write_struct(&job.png, nullptr);
    return;
  }
  if (setjmp(png_jmpbuf(job.png)) != 0) {
    // A failed write is left for the output to explain: it knows why.
    if (job.outOfMemory) job.status = SaveStatus::outOfMemory;
    png_destroy_write_struct(&job.png, &job.info);
    return;
  }
  png_set_write_fn(job.png, &job, onWrite, onFlush);
  png_set_filter(job.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_compression_level(job.png, 9);

  const auto width = static_cast<png_uint_32>(job.rows->width);
  const auto height = static_cast<png_uint_32>(job.rows->height);
  // The EXIF block as an eXIf chunk, which libpng writes with the header,
  // before the picture data, where readers take it.
  const auto exif = job.rows->exif;
  if (!exif.empty()) {
    png_set_eXIf_1(job.png, job.info, static_cast<png_uint_32>(exif.size()),
                   const_cast<png_bytep>(exif.data()));
  }
  if (job.depth != 0) {
    png_set_IHDR(job.png, job.info, width, height, job.depth, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_set_PLTE(job.png, job.info, job.palette, 1 << job.depth);
    png_set_gAMA_fixed(job.png, job.info, static_cast<png_fixed_point>(kPaletteGamma));
    png_write_info(job.png, job.info);
  } else {
    png_set_IHDR(job.png, job.info, width, height, 8, job.colourType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    // The source's colour profile, as it came. Palette output keeps its
    // gAMA alone. libpng would compare the profile with the sRGB profiles it
    // knows, refuse an early broken one that cameras still embed and add
    // gAMA and cHRM chunks of its own: that comparison is skipped. Any other
    // check it fails is a warning (benign errors), and the picture is then
    // written without the profile.
    const auto profile = job.rows->iccProfile;
    if (!profile.empty()) {
      png_set_option(job.png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
      png_set_benign_errors(job.png, 1);
      png_set_iCCP(job.png, job.info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, profile.data(),
                   static_cast<png_uint_32>(profile.size()));
    }
    png_write_info(job.png, job.info);
    png_set_bgr(job.png);
  }

  for (int y = 0; y < job.rows->height; ++y) {
    if (cancelled(job.cancel)) {
      job.status = SaveStatus::cancelled;
      png_destroy_write_struct(&job.png, &job.info);
      return;
    }
    if (job.depth != 0) {
      packRow(job, y);
      png_write_row(job.png, job.packedRow);
    } else {
      // libpng only reads the rows it is given.
      png_write_row(job.png, const_cast<png_bytep>(job.rows->row(y)));
    }
  }
  png_write_end(job.png, job.info);
  png_destroy_write_struct(&job.png, &job.info);
  job.status = SaveStatus::saved;
}

// The quantiser learns from contiguous B G R A pixels in memory order: a
// 32-bit raster as it is, a 24-bit one copied with alpha 255 (row by row,
// each after a look at the cancel flag: a large picture's copy takes a
// while). Sets `noMemory` when that copy could not be made.
std::optional<PaletteQuantizer> learnPalette(const RowSource& rows, int colours, const CancelFlag* cancel,
                                             bool& noMemory) {
  const std::size_t count = static_cast<std::size_t>(rows.width) * static_cast<std::size_t>(rows.height);
  if (rows.bytesPerPixel == 4 && rows.stride == rows.width * 4) {
    return PaletteQuantizer::learn(rows.pixels, count, colours, cancel);
  }
  std::vector<std::uint8_t> bgra;
  try {
    bgra.resize(count * 4);
  } catch (const std::bad_alloc&) {
    noMemory = true;
    return std::nullopt;
  }
  std::uint8_t* out = bgra.data();
  for (int y = 0; y < rows.height; ++y) {
    if (cancelled(cancel)) return std::nullopt;
    const std::uint8_t* in = rows.pixels + static_cast<std::ptrdiff_t>(rows.stride) * y;
    for (int x = 0; x < rows.width; ++x, in += rows.bytesPerPixel, out += 4) {
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
      out[3] = rows.bytesPerPixel == 4 ? in[3] : 255;
    }
  }
  return PaletteQuantizer::learn(bgra.data(), count, colours, cancel);
}

SaveStatus writePng(TempOutput& out, const RowSource& rows, int colourType, int depth,
                    const CancelFlag* cancel) {
  if (rows.width <= 0 || rows.height <= 0 || rows.bytesPerPixel != (colourType == 6 ? 4 : 3)) {
    return SaveStatus::badRequest;
  }
  const bool palette = depth == 1 || depth == 2 || depth == 4 || depth == 8;

  PngJob job{};
  job.out = &out;
  job.rows = &rows;
  job.colourType = colourType;
  job.cancel = cancel;
  std::optional<PaletteQuantizer> quantizer;
  std::vector<std::uint8_t> packedRow;
  if (palette) {
    bool noMemory = false;
    quantizer = learnPalette(rows, 1 << depth, cancel, noMemory);
    if (!quantizer) {
      if (noMemory) return SaveStatus::outOfMemory;
      return cancelled(cancel) ? SaveStatus::cancelled : SaveStatus::writeFailed;
    }
    const auto& colours = quantizer->palette();
    for (std::size_t i = 0; i < colours.size(); ++i) {
      job.palette[i] = png_color{colours[i].red, colours[i].green, colours[i].blue};
    }
    try {
      packedRow.resize((static_cast<std::size_t>(rows.width) * static_cast<std::size_t>(depth) + 7) / 8);
    } catch (const std::bad_alloc&) {
      return SaveStatus::outOfMemory;
    }
    job.depth = depth;
    job.quantizer = &*quantizer;
    job.packedRow = packedRow.data();
  }
  encode(job);
  if (job.status == SaveStatus::saved && out.failed()) return SaveStatus::writeFailed;
  return job.status;
}

}  // namespace

SaveStatus writePngRgb(TempOutput& out, const RowSource& rows, int, int depth, const CancelFlag* cancel) {
  return writePng(out, rows, PNG_COLOR_TYPE_RGB, depth, cancel);
}

SaveStatus writePngRgba(TempOutput& out, const RowSource& rows, int, int depth, const CancelFlag* cancel) {
  return writePng(out, rows, PNG_COLOR_TYPE_RGB_ALPHA, depth, cancel);
}

void registerPngEncoder() {
  static std::once_flag once;
  std::call_once(once, [] { addEncoder(Encoder{kPngEncoder, writePngRgb, writePngRgba}); });
}

}  // namespace pixmoor::image
