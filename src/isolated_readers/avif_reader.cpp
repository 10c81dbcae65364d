#include "isolated_readers/avif_reader.h"

#include <avif/avif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "codecs/decoder.h"
#include "image/orientation.h"
#include "metadata/exif_editor.h"
#include "metadata/icc_profile.h"
#include "metadata/nclx_profile.h"

namespace pixmoor::foreign {
namespace {

using image::DecodeFailure;
using image::DecoderContext;

// Rows converted from YUV at a time, and the rows of context around them
// that a band of 4:2:0 needs: the bilinear upsampling of a row reads the
// chroma rows on both sides of it, so a band converted with two more rows
// above and below (an even number, as views of 4:2:0 must start on an even
// row) gives exactly the rows of converting the whole picture.
constexpr std::uint32_t kBandRows = 32;
constexpr std::uint32_t kContextRows = 2;
// The rows a band's conversion writes at most: the context on both sides,
// and one more above when a crop starts the band on an odd row.
constexpr std::uint32_t kBandBufferRows = kBandRows + 2 * kContextRows + 1;

// What libavif and dav1d hold while they decode, per pixel, in quarters of
// a byte. Measured with heaptrack on 12-megapixel files made with avifenc
// (aom, speed 9) from a JPEG and a PNG, one thread: 8-bit 4:2:0 peaks at
// 2.19 bytes a pixel (2.05 on 50 megapixels), 8-bit 4:4:4 at 3.83, 10-bit
// 4:2:0 at 3.87, 12-bit 4:4:4 at 7.10: dav1d's picture, which libavif
// uses in place, plus about one byte of its own per pixel. A grid of tiles
// (avifenc --grid) holds every tile beside the assembled picture: 8-bit
// 4:2:0 in a 2 x 2 grid peaks at 3.80. The header does not say whether the
// picture is a grid, so the budget counts two copies of the planes plus
// 1.25 bytes; alpha (another decoder, measured 1.5 bytes at 8 bits) the
// same way, two copies of its plane plus half a byte. The reader's whole
// peak RSS on 12-megapixel files agrees: 8-bit 4:2:0 66 MB with its 36 MB
// raster (34 MB reduced to a quarter), 12-bit 4:4:4 119 MB, with alpha
// 109 MB, each below its budget.
constexpr std::uint64_t kCodecQuarterBytes = 5;
constexpr std::uint64_t kAlphaCodecQuarterBytes = 2;
// libavif's copy of the coded data and the input's window over it (each at
// most the file), and the decoders' tables.
constexpr std::uint64_t kCodedDataCopies = 2;
constexpr std::uint64_t kFixedBytes = std::uint64_t{2} << 20;

// Samples a pixel in halves: luma and the two chroma planes as sampled.
std::uint64_t sampleHalvesOf(avifPixelFormat format) {
  switch (format) {
    case AVIF_PIXEL_FORMAT_YUV444:
      return 6;
    case AVIF_PIXEL_FORMAT_YUV422:
      return 4;
    case AVIF_PIXEL_FORMAT_YUV420:
      return 3;
    default:
      return 2;
  }
}

std::uint64_t libraryBytes(const avifImage& image, bool alpha, std::uint64_t fileSize) {
  const std::uint64_t pixels = std::uint64_t{image.width} * image.height;
  const std::uint64_t sampleBytes = image.depth > 8 ? 2 : 1;
  // Two copies of the planes: 2 * sampleBytes * halves / 2 bytes = sampleBytes * halves quarters * 4 / 4.
  std::uint64_t quarters = 4 * sampleBytes * sampleHalvesOf(image.yuvFormat) + kCodecQuarterBytes;
  if (alpha) quarters += 8 * sampleBytes + kAlphaCodecQuarterBytes;
  return pixels * quarters / 4 + kCodedDataCopies * fileSize + kFixedBytes;
}

struct AvifState {
  DecoderContext* context = nullptr;
  avifIO io{};
  avifDecoder* decoder = nullptr;
  bool readFailed = false;
  bool alpha = false;
  avifCropRect crop{};  // the stored picture within the coded one
  int orientation = 1;  // how the stored picture turns upright (EXIF values)
  std::unique_ptr<std::uint8_t[]> band;
};

// ---- libavif's view of the input ----

// A piece of the input, valid until the next read. A read that fails, or
// a Stop, ends the parse or the decode (libavif answers such errors cleanly).
avifResult readIo(avifIO* io, std::uint32_t readFlags, std::uint64_t offset, std::size_t size,
                  avifROData* out) {
  static const std::uint8_t kNothing = 0;
  auto* s = static_cast<AvifState*>(io->data);
  image::PictureInput& input = *s->context->input;
  if (readFlags != 0 || image::stopRequested(*s->context) || offset > input.size())
    return AVIF_RESULT_IO_ERROR;
  if (offset == input.size() || size == 0) {
    out->data = &kNothing;
    out->size = 0;
    return AVIF_RESULT_OK;
  }
  const auto piece = input.bytes(offset, size);
  if (piece.empty() || input.failed()) {
    s->readFailed = true;
    return AVIF_RESULT_IO_ERROR;
  }
  out->data = piece.data();
  out->size = piece.size();  // fewer where the data ends
  return AVIF_RESULT_OK;
}

DecodeFailure failureOf(avifResult result, const AvifState& s) {
  if (s.context->refusal == DecodeFailure::cancelled) return DecodeFailure::cancelled;
  switch (result) {
    case AVIF_RESULT_OUT_OF_MEMORY:
      return DecodeFailure::overBudget;
    case AVIF_RESULT_NO_CODEC_AVAILABLE:
    case AVIF_RESULT_NOT_IMPLEMENTED:
      return DecodeFailure::unsupportedFeature;
    default:
      return DecodeFailure::unrecognised;
  }
}

// ---- The header ----

// The clean aperture as a rectangle of the coded picture: its width and
// height, and its centre's offset from the picture's centre, are fractions
// in the file. Whole pixels within the picture, or the box is unusable.
// Unlike libavif's own check, odd offsets are fine: the crop is taken from
// the RGB rows, not from subsampled planes.
bool cropOf(const avifCleanApertureBox& clap, std::uint32_t width, std::uint32_t height, avifCropRect& crop) {
  const auto side = [](std::uint32_t n, std::uint32_t d, std::uint32_t full, std::uint32_t& out) {
    if (d == 0 || n % d != 0) return false;
    out = n / d;
    return out > 0 && out <= full;
  };
  // The first row or column: offset + (full - part) / 2, over 2 * d.
  const auto start = [](std::uint32_t offsetN, std::uint32_t offsetD, std::uint32_t full, std::uint32_t part,
                        std::uint32_t& out) {
    if (offsetD == 0) return false;
    const std::int64_t over = 2 * static_cast<std::int64_t>(offsetD);
    const std::int64_t numerator = 2 * static_cast<std::int64_t>(static_cast<std::int32_t>(offsetN)) +
                                   static_cast<std::int64_t>(full - part) * offsetD;
    if (numerator % over != 0 || numerator < 0) return false;
    const std::int64_t first = numerator / over;
    if (first + part > full) return false;
    out = static_cast<std::uint32_t>(first);
    return true;
  };
  return side(clap.widthN, clap.widthD, width, crop.width) &&
         side(clap.heightN, clap.heightD, height, crop.height) &&
         start(clap.horizOffN, clap.horizOffD, width, crop.width, crop.x) &&
         start(clap.vertOffN, clap.vertOffD, height, crop.height, crop.y);
}

// The EXIF orientation (metadata/exif_orientation.h) that does what irot (quarter
// turns anti-clockwise) and then imir (mode 0: top and bottom exchanged,
// 1: left and right exchanged) do, by turns and by none, mode 0, mode 1.
constexpr int kOrientations[4][3] = {{1, 4, 2}, {8, 5, 7}, {3, 2, 4}, {6, 7, 5}};

int orientationOf(const avifImage& image) {
  const int turns = (image.transformFlags & AVIF_TRANSFORM_IROT) != 0 ? image.irot.angle & 3 : 0;
  const int mirror = (image.transformFlags & AVIF_TRANSFORM_IMIR) != 0 ? 1 + (image.imir.mode & 1) : 0;
  return kOrientations[turns][mirror];
}

// The YUV coding libavif 0.11 converts to RGB (its avifImageYUVToRGB
// refuses the rest), so that the header refuses what the decode would.
bool convertible(const avifImage& image) {
  const auto matrix = image.matrixCoefficients;
  if (image.yuvRange != AVIF_RANGE_LIMITED && image.yuvRange != AVIF_RANGE_FULL) return false;
  if (matrix == 3 || matrix == AVIF_MATRIX_COEFFICIENTS_BT2020_CL ||
      matrix == AVIF_MATRIX_COEFFICIENTS_SMPTE2085 || matrix == AVIF_MATRIX_COEFFICIENTS_CHROMA_DERIVED_CL ||
      matrix >= AVIF_MATRIX_COEFFICIENTS_ICTCP)
    return false;
  if (matrix == AVIF_MATRIX_COEFFICIENTS_YCGCO && image.yuvRange == AVIF_RANGE_LIMITED) return false;
  return matrix != AVIF_MATRIX_COEFFICIENTS_IDENTITY || image.yuvFormat == AVIF_PIXEL_FORMAT_YUV444;
}

// The EXIF block, carried to the output on request; its orientation is not
// applied (irot and imir are the picture's own).
void takeExif(const avifImage& image, DecoderContext& context) {
  const std::span<const std::uint8_t> tiff = image::exifTiffIn({image.exif.data, image.exif.size});
  try {
    if (tiff.size() <= image::kMaxExifBytes) context.exif.assign(tiff.begin(), tiff.end());
  } catch (const std::bad_alloc&) {
    // The picture loads without it.
  }
}

// The profile carried to the output: the file's ICC profile, or one made
// for its code points. False for an HDR curve: samples coded for it cannot
// be shown on 8 bits.
bool takeColours(const avifImage& image, DecoderContext& context) {
  const NclxProfile described = profileForNclx(
      {static_cast<int>(image.colorPrimaries), static_cast<int>(image.transferCharacteristics)});
  if (described.verdict == NclxVerdict::unsupported) return false;
  const std::span<const std::uint8_t> icc(image.icc.data, image.icc.size);
  try {
    if (!icc.empty() && image::usableIccProfile(icc)) {
      context.iccProfile.assign(icc.begin(), icc.end());
      return true;
    }
  } catch (const std::bad_alloc&) {
    // The picture loads without its profile, as a PNG's would.
  }
  context.iccProfile = described.iccProfile;
  return true;
}

bool probeAvif(DecoderContext& context) {
  auto* s = new (std::nothrow) AvifState{};
  if (s == nullptr) return false;
  context.state = s;
  s->context = &context;
  s->decoder = avifDecoderCreate();
  if (s->decoder == nullptr) return false;
  avifDecoder& decoder = *s->decoder;
  decoder.maxThreads = 1;
  decoder.codecChoice = AVIF_CODEC_CHOICE_DAV1D;
  // Sides are checked here (too large, not broken). libavif 0.11 takes no
  // pixel limit above its default of 16384 x 16384 (a larger one is "not
  // implemented"): pictures beyond it are refused while parsing, told from
  // broken ones by libavif's message. dav1d is held to the header's size
  // once the header is read.
  decoder.imageSizeLimit = AVIF_DEFAULT_IMAGE_SIZE_LIMIT;
  decoder.imageDimensionLimit = 0;
  // Each strict check is either harmless to skip (a missing 'pixi', an
  // alpha item without 'ispe') or made here (the clean aperture).
  decoder.strictFlags = AVIF_STRICT_DISABLED;
  // The EXIF block is kept for an output that carries it (its orientation
  // is not the picture's: irot and imir are); XMP is not carried.
  decoder.ignoreExif = AVIF_FALSE;
  decoder.ignoreXMP = AVIF_TRUE;
  s->io.read = readIo;
  s->io.sizeHint = context.input->size();
  s->io.persistent = AVIF_FALSE;
  s->io.data = s;
  avifDecoderSetIO(s->decoder, &s->io);  // no destroy function: the state keeps it
  const avifResult parsed = avifDecoderParse(s->decoder);
  if (parsed != AVIF_RESULT_OK) {
    context.refusal = std::strstr(decoder.diag.error, "dimensions are too large") != nullptr
                          ? DecodeFailure::tooLarge
                          : failureOf(parsed, *s);
    return false;
  }

  const avifImage& image = *decoder.image;
  if (image.width == 0 || image.height == 0) return false;
  const std::uint64_t pixels = std::uint64_t{image.width} * image.height;
  if (image.width > static_cast<std::uint32_t>(image::kMaxSide) ||
      image.height > static_cast<std::uint32_t>(image::kMaxSide) ||
      (context.pixelLimit != 0 && pixels > context.pixelLimit)) {
    context.refusal = DecodeFailure::tooLarge;
    return false;
  }
  if (image.depth != 8 && image.depth != 10 && image.depth != 12) return false;
  if (image.yuvFormat <= AVIF_PIXEL_FORMAT_NONE || image.yuvFormat >= AVIF_PIXEL_FORMAT_COUNT) return false;
  s->crop = {0, 0, image.width, image.height};
  if ((image.transformFlags & AVIF_TRANSFORM_CLAP) != 0 &&
      !cropOf(image.clap, image.width, image.height, s->crop))
    return false;
  takeExif(image, context);
  if (!convertible(image) || !takeColours(image, context)) {
    context.refusal = DecodeFailure::unsupportedFeature;
    return false;
  }
  s->orientation = orientationOf(image);
  s->alpha = decoder.alphaPresent != AVIF_FALSE;
  const bool turned = image::orientationSwapsSides(s->orientation);
  context.width = static_cast<int>(turned ? s->crop.height : s->crop.width);
  context.height = static_cast<int>(turned ? s->crop.width : s->crop.height);
  context.rasterDepth = s->alpha ? 32 : 24;
  context.sourceDepth = s->alpha ? 32 : image.yuvFormat == AVIF_PIXEL_FORMAT_YUV400 ? 8 : 24;
  const std::uint64_t bandBytes = kBandBufferRows * std::uint64_t{image.width} * 4;
  context.decoderBytes = libraryBytes(image, s->alpha, context.input->size()) + bandBytes;
  context.rowByRow = true;  // the stored rows, which the reducer turns
  context.orientation = s->orientation;
  // dav1d refuses a frame larger than the header said, which the budget counted.
  decoder.imageSizeLimit = static_cast<std::uint32_t>(pixels);
  return true;
}

// ---- The picture ----

struct ViewDeleter {
  void operator()(avifImage* view) const { avifImageDestroy(view); }
};

// Decodes the picture and hands its stored rows (the crop's, top first,
// blue, green, red (, alpha)) to `deliver(row, pixels)`. False, with the
// reason in the context, when it stops before the last row.
template <typename Deliver>
bool decodeStoredRows(AvifState* s, const Deliver& deliver) {
  DecoderContext& context = *s->context;
  // libavif gives the whole picture or nothing: no failure leaves part of it.
  context.rejected = true;
  const avifResult decoded = avifDecoderNextImage(s->decoder);
  if (decoded != AVIF_RESULT_OK) {
    context.refusal = failureOf(decoded, *s);
    return false;
  }
  context.refusal = DecodeFailure::unrecognised;
  const avifImage* image = s->decoder->image;
  const avifCropRect& crop = s->crop;
  if (image->yuvPlanes[AVIF_CHAN_Y] == nullptr || crop.x + crop.width > image->width ||
      crop.y + crop.height > image->height)
    return false;
  const int pixelBytes = s->alpha ? 4 : 3;
  const std::uint32_t rowBytes = image->width * static_cast<std::uint32_t>(pixelBytes);
  const std::uint32_t context420 = image->yuvFormat == AVIF_PIXEL_FORMAT_YUV420 ? kContextRows : 0;
  s->band.reset(new (std::nothrow) std::uint8_t[kBandBufferRows * std::size_t{rowBytes}]);
  std::unique_ptr<avifImage, ViewDeleter> view(avifImageCreateEmpty());
  if (s->band == nullptr || view == nullptr) {
    context.refusal = DecodeFailure::overBudget;
    return false;
  }
  context.rejected = false;

  const std::uint32_t end = crop.y + crop.height;
  for (std::uint32_t first = crop.y; first < end; first += kBandRows) {
    if (image::stopRequested(context)) return false;
    const std::uint32_t last = std::min(first + kBandRows, end);
    std::uint32_t top = first > context420 ? first - context420 : 0;
    if (context420 != 0) top &= ~1u;
    const std::uint32_t bottom = std::min(last + context420, image->height);
    const avifCropRect rows{0, top, image->width, bottom - top};
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, image);
    rgb.format = s->alpha ? AVIF_RGB_FORMAT_BGRA : AVIF_RGB_FORMAT_BGR;
    rgb.depth = 8;
    // libyuv's paths from 10 and 12 bits cut the low bits off; libavif's
    // own rounds to the nearest.
    rgb.avoidLibYUV = image->depth > 8 ? AVIF_TRUE : AVIF_FALSE;
    rgb.pixels = s->band.get();
    rgb.rowBytes = rowBytes;
    avifResult converted = avifImageSetViewRect(view.get(), image, &rows);
    if (converted == AVIF_RESULT_OK) {
      rgb.width = view->width;
      rgb.height = view->height;
      converted = avifImageYUVToRGB(view.get(), &rgb);
    }
    if (converted != AVIF_RESULT_OK) {
      context.refusal = failureOf(converted, *s);
      context.rejected = true;
      return false;
    }
    for (std::uint32_t y = first; y < last; ++y) {
      deliver(static_cast<int>(y - crop.y),
              s->band.get() + std::size_t{y - top} * rowBytes + std::size_t{crop.x} * pixelBytes);
    }
  }
  return true;
}

bool decodeAvif(DecoderContext& context, std::uint8_t* pixels, int stride, int flags) {
  auto* s = static_cast<AvifState*>(context.state);
  if (s == nullptr || pixels == nullptr) return false;
  const bool bottomUp = (flags & image::kRowsBottomUp) != 0;
  const int pixelBytes = context.rasterDepth / 8;
  const int width = static_cast<int>(s->crop.width), height = static_cast<int>(s->crop.height);
  const auto rowAt = [&](int y) {
    const int row = bottomUp ? context.height - 1 - y : y;
    return pixels + static_cast<std::ptrdiff_t>(stride) * row;
  };
  return decodeStoredRows(s, [&](int y, const std::uint8_t* in) {
    if (s->orientation == 1) {
      std::memcpy(rowAt(y), in, static_cast<std::size_t>(width) * pixelBytes);
      return;
    }
    for (int x = 0; x < width; ++x, in += pixelBytes) {
      const image::Position at = image::orientedPosition(s->orientation, x, y, width, height);
      std::memcpy(rowAt(at.y) + static_cast<std::ptrdiff_t>(at.x) * pixelBytes, in,
                  static_cast<std::size_t>(pixelBytes));
    }
  });
}

bool decodeAvifRows(DecoderContext& context, image::RowSink& sink) {
  auto* s = static_cast<AvifState*>(context.state);
  if (s == nullptr) return false;
  const std::size_t rowBytes = std::size_t{s->crop.width} * 3;
  return decodeStoredRows(s, [&](int, const std::uint8_t* in) {
    std::memcpy(sink.nextRow(), in, rowBytes);
    sink.rowDone();
  });
}

void closeAvif(DecoderContext& context) {
  auto* s = static_cast<AvifState*>(context.state);
  if (s == nullptr) return;
  if (s->decoder != nullptr) avifDecoderDestroy(s->decoder);
  delete s;
  context.state = nullptr;
}

constexpr image::Decoder kAvifDecoder{probeAvif, decodeAvif, closeAvif, decodeAvifRows};

}  // namespace

image::Reading readAvif(image::PictureInput& input, const image::DecodeLimits& limits,
                        const image::ReduceTo* reduce, image::ReadUpTo upTo) {
  return image::readWith(kAvifDecoder, input, limits, reduce, upTo);
}

}  // namespace pixmoor::foreign
