#include "codecs/png_reader.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <span>

#include "image/orientation.h"
#include "image/raster.h"
#include "metadata/exif_editor.h"
#include "metadata/exif_orientation.h"
#include "metadata/icc_profile.h"

namespace pixmoor::image {
namespace {

// Ancillary chunks that libpng keeps in memory (text, profiles) are refused
// beyond this size; picture data is not affected.
constexpr png_alloc_size_t kChunkMemoryLimit = png_alloc_size_t{8} << 20;

// Only the header, palette, transparency, colour profile, EXIF block (for
// its orientation) and picture data matter here. The other ancillary chunks are skipped unread: compressed
// text could otherwise expand to many megabytes from a small file. The profile is bounded by
// kChunkMemoryLimit; libpng checks it and drops a bad one.
constexpr png_byte kSkippedChunks[] = {
    'b', 'K', 'G', 'D', '\0', 'c', 'H', 'R', 'M', '\0', 'g', 'A', 'M', 'A', '\0', 'h', 'I', 'S', 'T', '\0',
    'i', 'T', 'X', 't', '\0', 'o', 'F', 'F', 's', '\0', 'p', 'C', 'A', 'L', '\0', 'p', 'H', 'Y', 's', '\0',
    's', 'B', 'I', 'T', '\0', 's', 'C', 'A', 'L', '\0', 's', 'P', 'L', 'T', '\0', 's', 'R', 'G', 'B', '\0',
    's', 'T', 'E', 'R', '\0', 't', 'E', 'X', 't', '\0', 't', 'I', 'M', 'E', '\0', 'z', 'T', 'X', 't', '\0'};

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

struct PngState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  DecoderContext* context = nullptr;
  int passes = 1;
  int orientation = 1;     // of the eXIf chunk before the picture data
  bool finishing = false;  // every row is in; the chunks up to IEND are read for their checksums
  // The stored rows of a turned picture before they take their upright
  // places: one row, or every row of an interlaced picture, whose passes
  // each add pixels to the rows read before.
  std::unique_ptr<std::uint8_t[]> stored;
};

std::uint32_t bigEndian32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

// Deflate expands a byte into at most 1032 (a 258-byte copy coded in two bits).
constexpr std::uint64_t kInflateRatio = 1032;

// Bytes of picture data the input holds: the IDAT chunks, a cut-off last one
// counted as far as it goes. Only the chunk headers are read.
std::uint64_t pictureDataBytes(PictureInput& input) {
  std::uint64_t total = 0;
  std::uint64_t at = sizeof kSignature;
  std::uint8_t header[8];
  while (input.copy(at, header)) {
    const std::uint64_t length = bigEndian32(header);
    const std::uint8_t* type = header + 4;
    const std::uint64_t present = std::min<std::uint64_t>(length, input.size() - at - 8);
    if (std::memcmp(type, "IDAT", 4) == 0) total += present;
    if (std::memcmp(type, "IEND", 4) == 0 || present < length) break;
    at += 12 + length;
  }
  return total;
}

// True when the picture is beyond the free allowance and the IDAT data,
// inflated at the best ratio deflate has, could not hold its rows.
bool dataCannotPaint(PictureInput& input, std::uint64_t width, std::uint64_t height, int bitDepth,
                     int colourType) {
  if (width * height <= kFreePixels) return false;
  int channels = 1;
  switch (colourType) {
    case PNG_COLOR_TYPE_RGB:
      channels = 3;
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      channels = 2;
      break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      channels = 4;
      break;
    default:
      break;
  }
  // Rows of an interlaced picture take more, so this never refuses a whole file.
  const std::uint64_t rowBytes = (width * static_cast<std::uint64_t>(channels * bitDepth) + 7) / 8;
  return height * (1 + rowBytes) > kInflateRatio * pictureDataBytes(input);
}

// A header declaring a side beyond what a picture may have is refused before
// libpng sees it, and reported as a size refusal rather than a broken file.
bool sidesTooLarge(PictureInput& input) {
  std::uint8_t start[24];
  if (!input.copy(0, start) || std::memcmp(&start[12], "IHDR", 4) != 0) return false;
  const std::uint32_t width = bigEndian32(&start[16]);
  const std::uint32_t height = bigEndian32(&start[20]);
  const auto limit = static_cast<std::uint32_t>(kMaxSide);
  return (width > limit && width <= 0x7FFFFFFFu) || (height > limit && height <= 0x7FFFFFFFu);
}

void readData(png_structp png, png_bytep out, std::size_t length) {
  auto* s = static_cast<PngState*>(png_get_io_ptr(png));
  DecoderContext& context = *s->context;
  // libpng reads a large chunk in pieces: a Stop is seen between them.
  if (stopRequested(context)) png_error(png, "stopped");
  const auto piece = context.input->bytes(context.position, length);
  if (piece.size() < length) {
    // Past the picture, a missing end is no loss.
    if (!s->finishing) context.ranShort = true;
    png_error(png, "read past the end of the data");
  }
  std::memcpy(out, piece.data(), length);
  context.position += length;
}

// libpng checks every chunk's CRC as it reads it (once: nothing else does).
// A damaged critical chunk refuses the picture whole rather than leaving it
// with a silently broken part; a file cut off is still read as far as it goes.
[[noreturn]] void onError(png_structp png, png_const_charp message) {
  auto* s = static_cast<PngState*>(png_get_error_ptr(png));
  if (s != nullptr && message != nullptr && std::strstr(message, "CRC error") != nullptr)
    s->context->rejected = true;
  png_longjmp(png, 1);
}
void onWarning(png_structp, png_const_charp) {}

// libpng's own allocations: none beyond kChunkMemoryLimit. libpng 1.6.39
// allocates an eXIf chunk at the length the file declares, without the chunk
// limit, so a file of 57 bytes could have it reserve a gigabyte; refused
// here, the chunk is dropped with a warning. Rows, palettes and zlib's state
// stay far below the limit (a row of 32767 16-bit RGBA pixels is 256 KiB).
png_voidp boundedAllocate(png_structp, png_alloc_size_t size) {
  return size <= kChunkMemoryLimit ? std::malloc(size) : nullptr;
}

void boundedFree(png_structp, png_voidp block) {
  std::free(block);
}

int sourceDepthOf(int colourType, int bitDepth, bool transparency) {
  switch (colourType) {
    case PNG_COLOR_TYPE_GRAY:
      return transparency && bitDepth < 8 ? 8 : bitDepth;
    case PNG_COLOR_TYPE_RGB:
      return transparency ? 32 : 24;
    case PNG_COLOR_TYPE_PALETTE:
      return transparency ? 32 : bitDepth;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      return bitDepth;
    default:
      return 32;
  }
}

// The iCCP profile as libpng checked it, when it is one the outputs can carry.
void keepIccProfile(png_structp png, png_infop info, DecoderContext& context) {
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 length = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &length) == 0 || profile == nullptr) return;
  const std::span<const std::uint8_t> bytes(profile, length);
  if (!usableIccProfile(bytes)) return;
  try {
    context.iccProfile.assign(bytes.begin(), bytes.end());
  } catch (const std::bad_alloc&) {
    context.iccProfile.clear();  // the picture loads without its profile
  }
}

// The eXIf chunk that came before the picture data (one after it would come
// too late to turn the rows).
std::span<const std::uint8_t> exifChunkOf(png_structp png, png_infop info) {
  png_uint_32 length = 0;
  png_bytep exif = nullptr;
  if (png_get_eXIf_1(png, info, &length, &exif) == 0 || exif == nullptr) return {};
  return {exif, length};
}

// What a turned picture decoded whole holds of its stored rows.
std::uint64_t storedBytes(const PngState& s, std::uint64_t rowBytes) {
  const bool turned = orientationSwapsSides(s.orientation);
  const auto storedHeight = static_cast<std::uint64_t>(turned ? s.context->width : s.context->height);
  return s.passes == 1 ? rowBytes : rowBytes * storedHeight;
}

// setjmp lives here and in guardedDecode alone; their locals are plain values.
bool guardedProbe(PngState* s) {
  png_structp png = s->png;
  png_infop info = s->info;
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_set_read_fn(png, s, readData);
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
  // Fuzzing: mutated data rarely keeps its checksums; decode it regardless so
  // that the code behind them is reached.
  png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
  png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
  png_set_user_limits(png, static_cast<png_uint_32>(kMaxSide), static_cast<png_uint_32>(kMaxSide));
  png_set_chunk_malloc_max(png, kChunkMemoryLimit);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkippedChunks,
                              static_cast<int>(sizeof kSkippedChunks / 5));
  png_read_info(png, info);

  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colourType = 0;
  png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, nullptr, nullptr, nullptr);
  const std::uint64_t limit = s->context->pixelLimit;
  if (limit != 0 && static_cast<std::uint64_t>(width) * height > limit) {
    s->context->refusal = DecodeFailure::tooLarge;
    return false;
  }
  if (dataCannotPaint(*s->context->input, width, height, bitDepth, colourType)) return false;
  const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  s->context->sourceDepth = sourceDepthOf(colourType, bitDepth, transparency);
  keepIccProfile(png, info, *s->context);

  // Every picture arrives as 8-bit B, G, R or B, G, R, A.
  if (transparency) png_set_tRNS_to_alpha(png);
  if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_PALETTE ||
      colourType == PNG_COLOR_TYPE_GRAY_ALPHA) {
    png_set_expand(png);
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colourType != PNG_COLOR_TYPE_PALETTE) png_set_gray_to_rgb(png);
  }
  // The high byte of a 16-bit sample, not a rounded one.
  if (bitDepth == 16) png_set_strip_16(png);
  png_set_bgr(png);
  s->passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);

  png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, nullptr, nullptr, nullptr);
  const int depth = colourType == PNG_COLOR_TYPE_RGB ? 24 : 32;
  const std::size_t rowBytes = png_get_rowbytes(png, info);
  if (bitDepth != 8 || rowBytes != static_cast<std::size_t>(width) * (depth / 8)) return false;
  const std::span<const std::uint8_t> exif = exifChunkOf(png, info);
  s->orientation = exif.empty() ? 1 : tiffOrientation(exif);
  if (exif.size() <= kMaxExifBytes) s->context->exif.assign(exif.begin(), exif.end());
  const bool turned = orientationSwapsSides(s->orientation);
  s->context->width = static_cast<int>(turned ? height : width);
  s->context->height = static_cast<int>(turned ? width : height);
  s->context->rasterDepth = depth;
  // Rows of an interlaced picture are only whole once its last pass is read.
  s->context->rowByRow = s->passes == 1;
  s->context->orientation = s->orientation;
  // libpng's rows (the widest, 16-bit RGBA, before its transformations), its
  // state with the inflate window, the profile and the EXIF block (libpng's
  // copies and ours);
  // the raster is counted by the registry. A turned picture decoded whole
  // also holds its stored rows (all of them when interlaced).
  s->context->decoderBytes = 3 * (std::uint64_t{width} * 8 + 64) + (std::uint64_t{256} << 10) +
                             2 * static_cast<std::uint64_t>(s->context->iccProfile.size()) +
                             2 * static_cast<std::uint64_t>(exif.size());
  if (s->orientation != 1) s->context->decoderBytes += storedBytes(*s, rowBytes);
  return true;
}

// After the last row: the chunks up to IEND, whose checksums count too.
// Anything else that goes wrong there does not touch the picture.
void readEnd(PngState* s) {
  s->finishing = true;
  png_read_end(s->png, nullptr);
}

// The stored picture's sides (the upright ones swapped by a quarter turn).
PictureSize storedSize(const PngState& s) {
  const bool turned = orientationSwapsSides(s.orientation);
  return turned ? PictureSize{s.context->height, s.context->width}
                : PictureSize{s.context->width, s.context->height};
}

// Puts stored row `y` of a turned picture at its upright places.
void placeRow(const PngState& s, const std::uint8_t* row, int y, std::uint8_t* pixels, int stride,
              bool bottomUp) {
  const PictureSize stored = storedSize(s);
  const auto bytes = static_cast<std::size_t>(s.context->rasterDepth / 8);
  for (int x = 0; x < stored.width; ++x) {
    const Position at = orientedPosition(s.orientation, x, y, stored.width, stored.height);
    const int upright = bottomUp ? s.context->height - 1 - at.y : at.y;
    std::memcpy(pixels + static_cast<std::size_t>(stride) * static_cast<std::size_t>(upright) +
                    static_cast<std::size_t>(at.x) * bytes,
                row + static_cast<std::size_t>(x) * bytes, bytes);
  }
}

// An interlaced turned picture is placed once its passes are read (or as
// far as they got).
void placeStoredRows(const PngState& s, std::uint8_t* pixels, int stride, bool bottomUp) {
  if (s.orientation == 1 || s.passes == 1 || s.stored == nullptr) return;
  const PictureSize stored = storedSize(s);
  const std::size_t rowBytes = static_cast<std::size_t>(stored.width) * (s.context->rasterDepth / 8);
  for (int y = 0; y < stored.height; ++y)
    placeRow(s, s.stored.get() + rowBytes * static_cast<std::size_t>(y), y, pixels, stride, bottomUp);
}

bool guardedDecode(PngState* s, std::uint8_t* pixels, int stride, int flags) {
  png_structp png = s->png;
  const bool bottomUp = (flags & kRowsBottomUp) != 0;
  if (setjmp(png_jmpbuf(png)) != 0) {
    placeStoredRows(*s, pixels, stride, bottomUp);
    return s->finishing && !s->context->rejected;
  }
  const int height = s->context->height;
  if (s->orientation == 1) {
    // Each pass of an interlaced picture adds its pixels to the rows already read.
    for (int pass = 0; pass < s->passes; ++pass) {
      for (int y = 0; y < height; ++y) {
        if (stopRequested(*s->context)) return false;
        const int row = bottomUp ? height - 1 - y : y;
        png_read_row(png, pixels + static_cast<std::size_t>(stride) * static_cast<std::size_t>(row), nullptr);
        s->context->rowsArrived = true;
      }
    }
  } else {
    const PictureSize stored = storedSize(*s);
    const std::size_t rowBytes = static_cast<std::size_t>(stored.width) * (s->context->rasterDepth / 8);
    const std::size_t rows = s->passes == 1 ? 1 : static_cast<std::size_t>(stored.height);
    s->stored.reset(new (std::nothrow) std::uint8_t[rowBytes * rows]());
    if (s->stored == nullptr) {
      s->context->refusal = DecodeFailure::overBudget;
      s->context->rejected = true;
      return false;
    }
    for (int pass = 0; pass < s->passes; ++pass) {
      for (int y = 0; y < stored.height; ++y) {
        if (stopRequested(*s->context)) return false;
        std::uint8_t* row = s->stored.get() + (s->passes == 1 ? 0 : rowBytes * static_cast<std::size_t>(y));
        png_read_row(png, row, nullptr);
        s->context->rowsArrived = true;
        if (s->passes == 1) placeRow(*s, row, y, pixels, stride, bottomUp);
      }
    }
    placeStoredRows(*s, pixels, stride, bottomUp);
  }
  readEnd(s);
  return true;
}

bool guardedRows(PngState* s, RowSink& sink) {
  png_structp png = s->png;
  if (setjmp(png_jmpbuf(png)) != 0) return s->finishing && !s->context->rejected;
  const int height = storedSize(*s).height;
  for (int y = 0; y < height; ++y) {
    if (stopRequested(*s->context)) return false;
    png_read_row(png, sink.nextRow(), nullptr);
    s->context->rowsArrived = true;
    sink.rowDone();
  }
  readEnd(s);
  return true;
}

bool probePng(DecoderContext& context) {
  std::uint8_t signature[sizeof kSignature] = {};
  if (!context.input->copy(0, signature) || png_sig_cmp(signature, 0, sizeof kSignature) != 0) return false;
  if (sidesTooLarge(*context.input)) {
    context.refusal = DecodeFailure::tooLarge;
    return false;
  }
  auto* s = new (std::nothrow) PngState{};
  if (s == nullptr) return false;
  context.state = s;
  s->context = &context;
  s->png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, s, onError, onWarning, nullptr, boundedAllocate,
                                    boundedFree);
  if (s->png == nullptr) return false;
  s->info = png_create_info_struct(s->png);
  if (s->info == nullptr) return false;
  return guardedProbe(s);
}

bool decodePngRows(DecoderContext& context, std::uint8_t* pixels, int stride, int flags) {
  auto* s = static_cast<PngState*>(context.state);
  if (s == nullptr || pixels == nullptr) return false;
  return guardedDecode(s, pixels, stride, flags);
}

bool decodePngStream(DecoderContext& context, RowSink& sink) {
  auto* s = static_cast<PngState*>(context.state);
  if (s == nullptr) return false;
  return guardedRows(s, sink);
}

void closePng(DecoderContext& context) {
  auto* s = static_cast<PngState*>(context.state);
  if (s == nullptr) return;
  if (s->png != nullptr) png_destroy_read_struct(&s->png, s->info != nullptr ? &s->info : nullptr, nullptr);
  delete s;
  context.state = nullptr;
}

constexpr Decoder kPngDecoder{probePng, decodePngRows, closePng, decodePngStream};

}  // namespace

const Decoder& pngDecoder() {
  return kPngDecoder;
}

std::optional<DecodedPicture> decodePng(std::span<const std::uint8_t> data, const DecodeLimits& limits,
                                        DecodeFailure* failure) {
  return decodeWith(kPngDecoder, data, limits, failure);
}

}  // namespace pixmoor::image
