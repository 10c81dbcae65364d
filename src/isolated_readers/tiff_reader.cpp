#include "isolated_readers/tiff_reader.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "codecs/decoder.h"
#include "image/memory_budget.h"
#include "image/orientation.h"
#include "isolated_readers/upright_rows.h"
#include "metadata/icc_profile.h"

namespace pixmoor::foreign {
namespace {

using image::DecodeFailure;
using image::DecoderContext;
using image::PictureInput;

// A file may hold reduced copies of its picture before the picture itself;
// this many directories are looked at for the full-resolution one.
constexpr int kMaxDirectories = 16;

bool compressionTaken(std::uint16_t compression) {
  switch (compression) {
    case COMPRESSION_NONE:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
    case COMPRESSION_LZW:
    case COMPRESSION_JPEG:
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
    case COMPRESSION_PACKBITS:
    case COMPRESSION_ZSTD:
    case COMPRESSION_WEBP:
      return TIFFIsCODECConfigured(compression) != 0;
    default:
      return false;
  }
}

// Where the rows come from. Most layouts go through libtiff's RGBA
// interface, which packs every pixel into 32 bits that are then unpacked
// here; the common 8-bit layouts in strips are read straight from the
// decoded strip, for the same bytes at a fraction of the cost.
enum class RowSource {
  rgbaInterface,
  rgbSamples,   // R G B, or R G B and one more sample
  greySamples,  // min-is-black grey, or grey and one more sample
};

struct TiffState {
  DecoderContext* context = nullptr;
  std::uint64_t position = 0;  // libtiff's reading position in the input
  TIFFOpenOptions* options = nullptr;
  TIFF* tiff = nullptr;
  int width = 0;  // as stored
  int height = 0;
  int band = 0;  // rows read at a time: a strip or a row of tiles
  bool alpha = false;
  bool premultiplied = false;  // the file's alpha is associated: undone here
  std::vector<std::uint16_t> extraSamples;
  RowSource source = RowSource::rgbaInterface;
  int samples = 0;  // stored per pixel, for the sources other than the RGBA interface
  // libtiff's read buffer for uncompressed tiles, one tile (oneTileBuffer).
  std::unique_ptr<std::uint8_t[]> rawTile;
};

// ---- libtiff's view of the input: reads and seeks, no writes, no mapping ----

tmsize_t readInput(thandle_t handle, void* buffer, tmsize_t size) {
  auto* s = static_cast<TiffState*>(handle);
  PictureInput& input = *s->context->input;
  if (size <= 0 || s->position >= input.size()) return 0;
  const auto length = static_cast<std::size_t>(
      std::min<std::uint64_t>(static_cast<std::uint64_t>(size), input.size() - s->position));
  if (!input.copy(s->position, {static_cast<std::uint8_t*>(buffer), length})) return -1;
  s->position += length;
  return static_cast<tmsize_t>(length);
}

tmsize_t refuseWrite(thandle_t, void*, tmsize_t) {
  return -1;
}

toff_t seekInput(thandle_t handle, toff_t offset, int whence) {
  auto* s = static_cast<TiffState*>(handle);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = s->position;
  if (whence == SEEK_END) base = s->context->input->size();
  if (offset > std::numeric_limits<std::uint64_t>::max() - base) return static_cast<toff_t>(-1);
  s->position = base + offset;
  return s->position;
}

int closeInput(thandle_t) {
  return 0;
}

toff_t inputSize(thandle_t handle) {
  return static_cast<TiffState*>(handle)->context->input->size();
}

int noMapping(thandle_t, void**, toff_t*) {
  return 0;
}

void noUnmapping(thandle_t, void*, toff_t) {}

// libtiff's messages are not printed: a failure is the answer's reason.
int quietly(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

// ---- the header --------------------------------------------------------------

// Moves to the first directory that is not a reduced copy; false when the
// file has none that can be read.
bool firstFullPage(TIFF* tiff) {
  for (int n = 0; n < kMaxDirectories; ++n) {
    std::uint32_t kind = 0;
    if (TIFFGetField(tiff, TIFFTAG_SUBFILETYPE, &kind) == 0 || (kind & FILETYPE_REDUCEDIMAGE) == 0)
      return true;
    if (TIFFReadDirectory(tiff) == 0) break;
  }
  return TIFFSetDirectory(tiff, 0) != 0;
}

constexpr std::uint16_t kMostSamplesPerPixel = 8;

// The sample layouts taken; the RGBA interface decides on the rest of them.
bool layoutTaken(TIFF* tiff) {
  std::uint16_t photometric = 0, bits = 0, samples = 0, format = 0, compression = 0, inks = 0;
  if (TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) == 0) return false;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16) return false;
  if (format != SAMPLEFORMAT_UINT && format != SAMPLEFORMAT_VOID) return false;
  // Colours and alpha take at most five samples; a few more are masks and
  // the like. Thousands would make libtiff ask for a strip of gigabytes
  // whatever the file holds.
  if (samples == 0 || samples > kMostSamplesPerPixel) return false;
  std::uint16_t planar = PLANARCONFIG_CONTIG;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
      // Grey and alpha in separate planes come out of libtiff 4.5's RGBA
      // interface black and clear (tiff2rgba too): not taken.
      return samples == 1 || planar == PLANARCONFIG_CONTIG;
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_PALETTE:
      return true;
    case PHOTOMETRIC_SEPARATED:  // CMYK inks, 8 bits: what the RGBA interface converts
      TIFFGetFieldDefaulted(tiff, TIFFTAG_INKSET, &inks);
      return inks == INKSET_CMYK && bits == 8;
    case PHOTOMETRIC_YCBCR:  // only as JPEG stores it, which libjpeg turns into RGB
      return compression == COMPRESSION_JPEG;
    default:
      return false;
  }
}

// Uncompressed tiles are read into a buffer of ours of exactly one tile.
// libtiff refuses the first tile of each band the RGBA interface reads
// unless its read buffer is the tile's size, which its own is only for a
// mapped file: unmapped, it rounds the size up to 1 KiB (a 16 x 16 RGB
// tile, 768 bytes, fails). With ours no byte count sizes an allocation: a
// tile counted larger than the tile is refused.
bool oneTileBuffer(TIFF* tiff) {
  std::uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
  return TIFFIsTiled(tiff) != 0 && compression == COMPRESSION_NONE;
}

// What a read holds beside our rows: the decoded strip or tile (the RGBA
// interface's, for separate planes one per sample, or ours when the samples
// are read straight), the compressed one as read (at most the largest byte
// count, at most the file; one tile for uncompressed tiles), and libtiff's
// codec state and strip tables.
// Measured with heaptrack on 12-megapixel RGB files made from a photo
// (tiffcp): LZW in strips of 16 rows, 0.5 MiB beside our band; JPEG in
// 256 x 256 tiles, 0.3 MiB. The fixed part covers the tables and codec state.
std::uint64_t libraryBytes(TIFF* tiff, std::uint64_t fileSize) {
  constexpr std::uint64_t kFixed = std::uint64_t{1} << 20;
  std::uint16_t planar = PLANARCONFIG_CONTIG, samples = 1;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  const bool tiled = TIFFIsTiled(tiff) != 0;
  const auto decoded = static_cast<std::uint64_t>(tiled ? TIFFTileSize64(tiff) : TIFFStripSize64(tiff));
  std::uint64_t raw = 0;
  const std::uint32_t pieces = TIFFNumberOfStrips(tiff);
  for (std::uint32_t i = 0; i < pieces && raw < fileSize; ++i)
    raw = std::max(raw, TIFFGetStrileByteCount(tiff, i));
  raw = oneTileBuffer(tiff) ? decoded : std::min(raw, fileSize);
  return kFixed + decoded * (planar == PLANARCONFIG_SEPARATE ? samples : 1) + raw;
}

// The layouts read straight from the decoded strips: 8-bit samples in
// strips, one plane, RGB with 3 or 4 samples or min-is-black grey with 1
// or 2. The rest stay with libtiff's conversion: YCbCr, even as JPEG stores
// it, and tiles, whose first of each row libtiff reads with checks of its
// own. The rows are those the RGBA interface gives: the samples as stored
// (its table for 8-bit min-is-black grey maps each value to itself), the
// last as alpha where `alpha` says so, else dropped.
RowSource rowSource(TIFF* tiff, const TiffState& s) {
  std::uint16_t photometric = 0, bits = 0, samples = 0, planar = PLANARCONFIG_CONTIG;
  std::uint16_t across = 0, down = 0;
  std::uint32_t rowsPerStrip = 0;
  TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
  // The RGBA interface refuses strips whose vertical YCbCr subsampling is
  // 0, whatever the photometric: such files stay with it.
  TIFFGetFieldDefaulted(tiff, TIFFTAG_YCBCRSUBSAMPLING, &across, &down);
  const auto scanline = std::uint64_t{static_cast<std::uint32_t>(s.width)} * samples;
  if (bits != 8 || TIFFIsTiled(tiff) != 0 || (planar != PLANARCONFIG_CONTIG && samples > 1) || down == 0 ||
      rowsPerStrip == 0 || TIFFScanlineSize64(tiff) != scanline ||
      TIFFStripSize64(tiff) != scanline * static_cast<std::uint64_t>(s.band))
    return RowSource::rgbaInterface;
  if (photometric == PHOTOMETRIC_RGB && (samples == 4 || (samples == 3 && !s.alpha)))
    return RowSource::rgbSamples;
  if (photometric == PHOTOMETRIC_MINISBLACK && (samples == 2 || (samples == 1 && !s.alpha)))
    return RowSource::greySamples;
  return RowSource::rgbaInterface;
}

bool probeTiff(DecoderContext& context) {
  auto* s = new (std::nothrow) TiffState{};
  if (s == nullptr) return false;
  context.state = s;
  s->context = &context;
  s->options = TIFFOpenOptionsAlloc();
  if (s->options == nullptr) return false;
  // No single allocation of libtiff's may be larger than the whole budget.
  TIFFOpenOptionsSetMaxSingleMemAlloc(
      s->options, static_cast<tmsize_t>(
                      std::min<std::uint64_t>(context.memoryBudget, std::numeric_limits<tmsize_t>::max())));
  TIFFOpenOptionsSetErrorHandlerExtR(s->options, quietly, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(s->options, quietly, nullptr);
  // "m": never a memory mapping (the callbacks offer none either).
  s->tiff = TIFFClientOpenExt("picture", "rm", s, readInput, refuseWrite, seekInput, closeInput, inputSize,
                              noMapping, noUnmapping, s->options);
  if (s->tiff == nullptr || !firstFullPage(s->tiff)) return false;
  TIFF* tiff = s->tiff;

  std::uint32_t width = 0, height = 0;
  if (TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) == 0 ||
      TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) == 0 || width == 0 || height == 0)
    return false;
  if (width > image::kMaxSide || height > image::kMaxSide ||
      (context.pixelLimit != 0 && std::uint64_t{width} * height > context.pixelLimit)) {
    context.refusal = DecodeFailure::tooLarge;
    return false;
  }
  s->width = static_cast<int>(width);
  s->height = static_cast<int>(height);
  std::uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
  char why[1024];
  if (!compressionTaken(compression) || !layoutTaken(tiff) || TIFFRGBAImageOK(tiff, why) == 0) {
    context.refusal = DecodeFailure::unsupportedFeature;
    return false;
  }

  // Alpha: libtiff's RGBA interface multiplies unassociated alpha into the
  // colours, which loses them where alpha is low; told that it is
  // associated, it hands the samples over as stored, straight.
  std::uint16_t extras = 0, samples = 1, photometric = 0;
  std::uint16_t* types = nullptr;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extras, &types);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
  if (extras > 0 && types != nullptr) {
    s->extraSamples.assign(types, types + extras);
    s->alpha = types[0] == EXTRASAMPLE_ASSOCALPHA || types[0] == EXTRASAMPLE_UNASSALPHA;
    s->premultiplied = types[0] == EXTRASAMPLE_ASSOCALPHA;
  } else if (photometric == PHOTOMETRIC_RGB && samples == 4) {
    s->alpha = s->premultiplied = true;  // as libtiff takes a fourth sample it is not told about
  }

  std::uint16_t orientation = ORIENTATION_TOPLEFT;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &orientation);
  context.orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
  std::uint32_t iccBytes = 0;
  void* icc = nullptr;
  if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &iccBytes, &icc) != 0 && icc != nullptr &&
      iccBytes <= image::kMaxIccProfileBytes) {
    std::vector<std::uint8_t> profile(static_cast<const std::uint8_t*>(icc),
                                      static_cast<const std::uint8_t*>(icc) + iccBytes);
    if (image::usableIccProfile(profile)) context.iccProfile = std::move(profile);
  }

  std::uint32_t band = 0;
  if (TIFFIsTiled(tiff) != 0) {
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &band);
  } else {
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &band);
  }
  s->band = static_cast<int>(std::clamp<std::uint32_t>(band, 1, height));
  s->source = rowSource(tiff, *s);
  s->samples = samples;

  const bool turned = image::orientationSwapsSides(context.orientation);
  context.width = turned ? s->height : s->width;
  context.height = turned ? s->width : s->height;
  context.rasterDepth = s->alpha ? 32 : 24;
  context.sourceDepth = context.rasterDepth;
  context.rowByRow = true;
  // Beside the raster or the reducer: the RGBA interface's band of 32-bit
  // pixels (the samples read straight need none), one row turned to
  // B G R (A), and the decoded strip or tile with libtiff's own buffers.
  const std::uint64_t packedBand = s->source == RowSource::rgbaInterface
                                       ? std::uint64_t{width} * static_cast<std::uint64_t>(s->band) * 4
                                       : 0;
  context.decoderBytes = packedBand + std::uint64_t{width} * 4 + libraryBytes(tiff, context.input->size()) +
                         2 * context.iccProfile.size();
  return true;
}

// ---- the pixels --------------------------------------------------------------

// Colours of a B G R A row multiplied by their alpha made straight again:
// to the nearest, at most 255 (files do store colours above their alpha),
// 0 where alpha is 0.
void straighten(std::uint8_t* row, std::size_t width) {
  for (std::size_t x = 0; x < width; ++x, row += 4) {
    const std::uint32_t a = row[3];
    if (a == 255) continue;
    for (int c = 0; c < 3; ++c)
      row[c] =
          static_cast<std::uint8_t>(a == 0 ? 0 : std::min<std::uint32_t>(255, (row[c] * 255u + a / 2) / a));
  }
}

// 16-bit colours multiplied by their 16-bit alpha made straight, then
// rounded to 8 bits and packed as the RGBA interface packs. Rounded first,
// a low alpha leaves few levels to divide by (an alpha of 2000 is 8 in 8
// bits). As in straighten: at most the maximum, 0 where alpha is 0.
std::uint32_t straightPixel(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a) {
  const auto eightBits = [](std::uint32_t v) { return (v * 255 + 32767) / 65535; };
  const auto straight = [a](std::uint32_t c) {
    return a == 0 ? 0 : std::min<std::uint32_t>(65535, (c * 65535 + a / 2) / a);
  };
  return eightBits(straight(r)) | eightBits(straight(g)) << 8 | eightBits(straight(b)) << 16 |
         eightBits(a) << 24;
}

// In place of libtiff's put routines for 16-bit RGB with associated alpha,
// which round every sample to 8 bits first; the same walk over the samples.
void putStraightContig16(TIFFRGBAImage* picture, std::uint32_t* out, std::uint32_t, std::uint32_t,
                         std::uint32_t width, std::uint32_t height, std::int32_t fromSkew,
                         std::int32_t toSkew, unsigned char* samples) {
  const int perPixel = picture->samplesperpixel;
  const auto* in = reinterpret_cast<const std::uint16_t*>(samples);
  for (; height > 0; --height) {
    for (std::uint32_t x = 0; x < width; ++x, in += perPixel)
      *out++ = straightPixel(in[0], in[1], in[2], in[3]);
    out += toSkew;
    in += fromSkew * perPixel;
  }
}

void putStraightSeparate16(TIFFRGBAImage*, std::uint32_t* out, std::uint32_t, std::uint32_t,
                           std::uint32_t width, std::uint32_t height, std::int32_t fromSkew,
                           std::int32_t toSkew, unsigned char* red, unsigned char* green, unsigned char* blue,
                           unsigned char* alpha) {
  const auto* r = reinterpret_cast<const std::uint16_t*>(red);
  const auto* g = reinterpret_cast<const std::uint16_t*>(green);
  const auto* b = reinterpret_cast<const std::uint16_t*>(blue);
  const auto* a = reinterpret_cast<const std::uint16_t*>(alpha);
  for (; height > 0; --height) {
    for (std::uint32_t x = 0; x < width; ++x) *out++ = straightPixel(*r++, *g++, *b++, *a++);
    r += fromSkew, g += fromSkew, b += fromSkew, a += fromSkew;
    out += toSkew;
  }
}

// The rows of the RGBA interface: a band of packed pixels, each row turned
// to B G R (A) as it is handed over. libtiff is told that unassociated
// alpha is associated, which keeps it from multiplying the colours by it
// (and losing them where alpha is low).
class PackedBands {
 public:
  explicit PackedBands(TiffState& s) : s_(s) {
    if (!s.extraSamples.empty() && s.extraSamples[0] == EXTRASAMPLE_UNASSALPHA) {
      std::vector<std::uint16_t> told = s.extraSamples;
      told[0] = EXTRASAMPLE_ASSOCALPHA;
      TIFFSetField(s.tiff, TIFFTAG_EXTRASAMPLES, static_cast<std::uint16_t>(told.size()), told.data());
    }
    char why[1024];
    begun_ = TIFFRGBAImageBegin(&picture_, s.tiff, 1, why) != 0;
    if (!begun_) return;
    // Rows as stored, top first: the orientation is applied by the caller.
    picture_.orientation = ORIENTATION_TOPLEFT;
    picture_.req_orientation = ORIENTATION_TOPLEFT;
    if (s.premultiplied && picture_.bitspersample == 16 && picture_.photometric == PHOTOMETRIC_RGB &&
        picture_.alpha == EXTRASAMPLE_ASSOCALPHA && picture_.samplesperpixel >= 4 &&
        picture_.put.any != nullptr) {
      if (picture_.isContig != 0) {
        picture_.put.contig = putStraightContig16;
      } else {
        picture_.put.separate = putStraightSeparate16;
      }
      straightened_ = true;
    }
    const auto width = static_cast<std::size_t>(s.width);
    band_.reset(new (std::nothrow) std::uint32_t[width * static_cast<std::size_t>(s.band)]);
    row_.reset(new (std::nothrow) std::uint8_t[width * 4 + 1]);
    const tmsize_t tileBytes = TIFFTileSize(s.tiff);
    if (oneTileBuffer(s.tiff) && s.rawTile == nullptr && tileBytes > 0) {
      s.rawTile.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(tileBytes)]);
      if (s.rawTile != nullptr) TIFFReadBufferSetup(s.tiff, s.rawTile.get(), tileBytes);
    }
  }
  ~PackedBands() {
    if (begun_) TIFFRGBAImageEnd(&picture_);
  }
  PackedBands(const PackedBands&) = delete;
  PackedBands& operator=(const PackedBands&) = delete;

  bool begun() const { return begun_; }
  bool allocated() const {
    return band_ != nullptr && row_ != nullptr && (s_.rawTile != nullptr || !oneTileBuffer(s_.tiff));
  }

  bool read(int firstRow, int rows) {
    picture_.row_offset = firstRow;
    picture_.col_offset = 0;
    return TIFFRGBAImageGet(&picture_, band_.get(), static_cast<std::uint32_t>(s_.width),
                            static_cast<std::uint32_t>(rows)) != 0;
  }

  const std::uint8_t* row(int y) {
    const auto width = static_cast<std::size_t>(s_.width);
    const std::uint32_t* packed = band_.get() + static_cast<std::size_t>(y) * width;
    std::uint8_t* out = row_.get();
    const std::size_t bytesPerPixel = s_.alpha ? 4 : 3;
    for (std::size_t x = 0; x < width; ++x, out += bytesPerPixel) {
      out[0] = static_cast<std::uint8_t>(TIFFGetB(packed[x]));
      out[1] = static_cast<std::uint8_t>(TIFFGetG(packed[x]));
      out[2] = static_cast<std::uint8_t>(TIFFGetR(packed[x]));
      if (bytesPerPixel == 4) out[3] = static_cast<std::uint8_t>(TIFFGetA(packed[x]));
    }
    if (s_.premultiplied && !straightened_) straighten(row_.get(), width);
    return row_.get();
  }

 private:
  TiffState& s_;
  TIFFRGBAImage picture_{};
  bool begun_ = false;
  bool straightened_ = false;  // by the put routine, at 16 bits
  std::unique_ptr<std::uint32_t[]> band_;
  std::unique_ptr<std::uint8_t[]> row_;
};

// Stored 8-bit samples, `kSamples` a pixel, to B G R (A): the colour from
// the first sample (grey) or the first three, alpha from the last when it
// is kept. Plain indexing, which the compiler turns into byte shuffles.
template <int kSamples, bool kGrey, bool kAlpha>
[[gnu::always_inline]] inline void swizzleRow(const std::uint8_t* __restrict in, std::uint8_t* __restrict out,
                                              std::size_t width) {
  constexpr std::size_t kIn = kSamples, kOut = kAlpha ? 4 : 3;
  for (std::size_t x = 0; x < width; ++x) {
    out[x * kOut + 0] = in[x * kIn + (kGrey ? 0 : 2)];
    out[x * kOut + 1] = in[x * kIn + (kGrey ? 0 : 1)];
    out[x * kOut + 2] = in[x * kIn];
    if constexpr (kAlpha) out[x * kOut + 3] = in[x * kIn + kIn - 1];
  }
}

using Swizzle = void (*)(const std::uint8_t*, std::uint8_t*, std::size_t);

template <int kSamples, bool kGrey, bool kAlpha>
void swizzle(const std::uint8_t* in, std::uint8_t* out, std::size_t width) {
  swizzleRow<kSamples, kGrey, kAlpha>(in, out, width);
}

#if defined(__x86_64__) || defined(__i386__)
// SSE2 has no byte shuffle for the 3-byte layouts; SSSE3's makes the same
// loop some four times faster.
template <int kSamples, bool kGrey, bool kAlpha>
__attribute__((target("ssse3"))) void swizzleSsse3(const std::uint8_t* in, std::uint8_t* out,
                                                   std::size_t width) {
  swizzleRow<kSamples, kGrey, kAlpha>(in, out, width);
}
#endif

template <int kSamples, bool kGrey, bool kAlpha>
Swizzle swizzleFor() {
#if defined(__x86_64__) || defined(__i386__)
  if (__builtin_cpu_supports("ssse3") != 0) return swizzleSsse3<kSamples, kGrey, kAlpha>;
#endif
  return swizzle<kSamples, kGrey, kAlpha>;
}

Swizzle swizzleFor(RowSource source, int samples, bool alpha) {
  if (source == RowSource::greySamples) {
    if (samples == 1) return swizzleFor<1, true, false>();
    return alpha ? swizzleFor<2, true, true>() : swizzleFor<2, true, false>();
  }
  if (samples == 3) return swizzleFor<3, false, false>();
  return alpha ? swizzleFor<4, false, true>() : swizzleFor<4, false, false>();
}

// The rows of the layouts read straight (rowSource): one strip at a time
// decoded into our buffer, each row swizzled as it is handed over.
class StoredStrips {
 public:
  explicit StoredStrips(TiffState& s)
      : s_(s),
        scanline_(static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.samples)),
        swizzle_(swizzleFor(s.source, s.samples, s.alpha)),
        strip_(new (std::nothrow) std::uint8_t[scanline_ * static_cast<std::size_t>(s.band)]),
        row_(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(s.width) * 4 + 1]) {}

  bool begun() const { return true; }
  bool allocated() const { return strip_ != nullptr && row_ != nullptr; }

  // No size given (-1): libtiff then reads the strip as the RGBA interface
  // has it read, by its byte count, and refuses one the file cannot hold;
  // given a size, it reads an uncompressed strip by a shortcut that ignores
  // the byte count.
  bool read(int firstRow, int rows) {
    // libtiff may say a damaged Deflate strip is whole and yet leave bytes
    // of it unwritten: those read as zero, never as what the buffer held
    // (the same file must give the same picture every time).
    std::memset(strip_.get(), 0, scanline_ * static_cast<std::size_t>(s_.band));
    const tmsize_t got = TIFFReadEncodedStrip(
        s_.tiff, TIFFComputeStrip(s_.tiff, static_cast<std::uint32_t>(firstRow), 0), strip_.get(), -1);
    return got >= 0 && static_cast<std::size_t>(got) >= scanline_ * static_cast<std::size_t>(rows);
  }

  const std::uint8_t* row(int y) {
    swizzle_(strip_.get() + static_cast<std::size_t>(y) * scanline_, row_.get(),
             static_cast<std::size_t>(s_.width));
    if (s_.premultiplied) straighten(row_.get(), static_cast<std::size_t>(s_.width));
    return row_.get();
  }

 private:
  TiffState& s_;
  std::size_t scanline_;
  Swizzle swizzle_;
  std::unique_ptr<std::uint8_t[]> strip_;
  std::unique_ptr<std::uint8_t[]> row_;
};

// Reads the picture a band at a time from `bands` and hands each stored row
// to `onRow(row, y)` as B G R (A). True when every row came.
template <typename Bands, typename OnRow>
bool deliverRows(DecoderContext& context, Bands& bands, OnRow& onRow) {
  auto* s = static_cast<TiffState*>(context.state);
  if (!bands.begun()) {
    context.rejected = true;
    return false;
  }
  bool complete = bands.allocated();
  int delivered = 0;
  while (complete && delivered < s->height) {
    if (image::stopRequested(context)) {
      complete = false;
      break;
    }
    const int rows = std::min(s->band, s->height - delivered);
    if (!bands.read(delivered, rows)) {
      complete = false;
      break;
    }
    for (int y = 0; y < rows; ++y, ++delivered) {
      if (image::stopRequested(context)) {
        complete = false;
        break;
      }
      onRow(bands.row(y), delivered);
    }
  }
  if (!bands.allocated()) {
    context.refusal = DecodeFailure::overBudget;
    context.rejected = true;
  }
  // Data that broke before a row came is no picture.
  if (!complete && delivered == 0 && context.refusal != DecodeFailure::cancelled) context.rejected = true;
  return complete;
}

template <typename OnRow>
bool readBands(DecoderContext& context, OnRow&& onRow) {
  auto* s = static_cast<TiffState*>(context.state);
  if (s->source == RowSource::rgbaInterface) {
    PackedBands bands(*s);
    return deliverRows(context, bands, onRow);
  }
  StoredStrips bands(*s);
  return deliverRows(context, bands, onRow);
}

bool decodeTiff(DecoderContext& context, std::uint8_t* pixels, int stride, int flags) {
  auto* s = static_cast<TiffState*>(context.state);
  if (s == nullptr || pixels == nullptr) return false;
  const UprightRows upright(pixels, stride, (flags & image::kRowsBottomUp) != 0, s->width, s->height,
                            context.orientation, s->alpha ? 4 : 3);
  return readBands(context, [&](const std::uint8_t* row, int y) { upright.place(row, 0, y, s->width); });
}

// Only for an opaque picture (24-bit rows).
bool decodeTiffRows(DecoderContext& context, image::RowSink& sink) {
  auto* s = static_cast<TiffState*>(context.state);
  if (s == nullptr) return false;
  const auto rowBytes = static_cast<std::size_t>(s->width) * 3;
  return readBands(context, [&](const std::uint8_t* row, int) {
    std::memcpy(sink.nextRow(), row, rowBytes);
    sink.rowDone();
  });
}

void closeTiff(DecoderContext& context) {
  auto* s = static_cast<TiffState*>(context.state);
  if (s == nullptr) return;
  if (s->tiff != nullptr) TIFFClose(s->tiff);
  if (s->options != nullptr) TIFFOpenOptionsFree(s->options);
  delete s;
  context.state = nullptr;
}

constexpr image::Decoder kTiffDecoder{probeTiff, decodeTiff, closeTiff, decodeTiffRows};

}  // namespace

image::Reading readTiff(PictureInput& input, const image::DecodeLimits& limits, const image::ReduceTo* reduce,
                        image::ReadUpTo upTo) {
  return image::readWith(kTiffDecoder, input, limits, reduce, upTo);
}

}  // namespace pixmoor::foreign
