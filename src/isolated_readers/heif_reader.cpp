#include "isolated_readers/heif_reader.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <span>

#include "codecs/decoder.h"
#include "isolated_readers/heif_grid.h"
#include "metadata/exif_editor.h"
#include "metadata/icc_profile.h"
#include "metadata/nclx_profile.h"

namespace pixmoor::foreign {
namespace {

using image::DecodeFailure;
using image::DecoderContext;

// What libheif holds while it decodes, per pixel, in halves of a byte.
// Measured with heaptrack on 12-megapixel files made with heif-enc (x265)
// from a JPEG, asking for planar RGB as here: 8-bit 4:2:0 peaks at 4.5
// bytes a pixel (54 MB: the YCbCr copy and the RGB planes during the
// conversion; 4.72 on 50 megapixels), 8-bit 4:4:4 at 7.5 (libde265's
// picture, its block data and libheif's copy, before the conversion),
// 10-bit 4:2:0 at 9.0 (YCbCr and RGB at two bytes a sample), alpha adds
// about 1.5 (the alpha picture decoded beside the RGB planes). Interleaved
// RGB would add a third copy (73 MB of RSS became 97 MB). The header does
// not say how the chroma is sampled, so the budget counts 4:4:4: six
// samples a pixel plus 1.5 bytes of libde265's block data, and one sample
// more for alpha. The reader's whole peak RSS on 12-megapixel files agrees:
// 8-bit 4:2:0 96 MB with its 36 MB raster (74 MB reduced to a quarter),
// 10-bit 118 MB, with alpha 121 MB, each below its budget.
constexpr std::uint64_t kHalfBytesPerSample = 2;
constexpr std::uint64_t kBlockDataHalfBytes = 3;
// libheif's copy of the coded data and libde265's (each at most the file),
// and the boxes and tables of the file.
constexpr std::uint64_t kCodedDataCopies = 2;
constexpr std::uint64_t kFixedBytes = std::uint64_t{1} << 20;

std::uint64_t libraryBytes(std::uint64_t pixels, int bits, bool alpha, std::uint64_t fileSize) {
  const std::uint64_t sampleHalves = kHalfBytesPerSample * (bits > 8 ? 2 : 1);
  const std::uint64_t halves = sampleHalves * (6 + (alpha ? 1 : 0)) + kBlockDataHalfBytes;
  return pixels * halves / 2 + kCodedDataCopies * fileSize + kFixedBytes;
}

struct HeifState {
  DecoderContext* context = nullptr;
  heif_reader reader{};
  heif_context* file = nullptr;
  heif_image_handle* primary = nullptr;
  heif_image* picture = nullptr;
  std::uint64_t position = 0;
  bool readFailed = false;
  bool alpha = false;
  bool premultiplied = false;
};

HeifState* stateOf(void* userdata) {
  return static_cast<HeifState*>(userdata);
}

// ---- libheif's view of the input ----

std::int64_t positionOf(void* userdata) {
  return static_cast<std::int64_t>(stateOf(userdata)->position);
}

// libheif asserts that a read it has checked against the file's size
// succeeds, and Debian builds it with assertions on: a read error or a file
// that shrank would end the process. Zeros stand in for what could not be
// read, and the picture is refused afterwards.
int readBytes(void* data, std::size_t size, void* userdata) {
  HeifState* s = stateOf(userdata);
  if (!s->context->input->copy(s->position, {static_cast<std::uint8_t*>(data), size})) {
    std::memset(data, 0, size);
    s->readFailed = true;
  }
  s->position += size;
  return 0;
}

// Seeks, asserted too, always succeed; a read past the end then fails.
int seekTo(std::int64_t position, void* userdata) {
  stateOf(userdata)->position = static_cast<std::uint64_t>(std::max<std::int64_t>(position, 0));
  return 0;
}

heif_reader_grow_status sizeReached(std::int64_t target, void* userdata) {
  const std::uint64_t size = stateOf(userdata)->context->input->size();
  return target >= 0 && static_cast<std::uint64_t>(target) <= size ? heif_reader_grow_status_size_reached
                                                                   : heif_reader_grow_status_size_beyond_eof;
}

DecodeFailure failureOf(const heif_error& error) {
  switch (error.code) {
    case heif_error_Memory_allocation_error:
      if (error.subcode != heif_suberror_Security_limit_exceeded) return DecodeFailure::overBudget;
      // libheif's limits: sides above ours are a picture too large; the
      // others (item data claimed beyond 512 MB, tables beyond their
      // bounds) are claims no picture file makes, only a broken one. The
      // message is the only place that tells them apart.
      return error.message != nullptr && std::strstr(error.message, "Image size") != nullptr
                 ? DecodeFailure::tooLarge
                 : DecodeFailure::unrecognised;
    case heif_error_Unsupported_feature:
      return DecodeFailure::unsupportedFeature;  // a codec or a conversion libheif lacks
    default:
      return DecodeFailure::unrecognised;
  }
}

// ---- The header ----

// The profile carried to the output: the file's ICC profile, or one made
// for its code points. False, with the refusal set, for an HDR curve:
// samples coded for it cannot be shown on 8 bits.
bool takeColours(HeifState* s) {
  DecoderContext& context = *s->context;
  heif_color_profile_nclx* nclx = nullptr;
  NclxProfile described;
  // libheif also hands over the code points it answers as unknown, with an
  // error; they are the caller's to free and read as any others.
  heif_image_handle_get_nclx_color_profile(s->primary, &nclx);
  if (nclx != nullptr) {
    described = profileForNclx(
        {static_cast<int>(nclx->color_primaries), static_cast<int>(nclx->transfer_characteristics)});
    heif_nclx_color_profile_free(nclx);
    if (described.verdict == NclxVerdict::unsupported) {
      context.refusal = DecodeFailure::unsupportedFeature;
      return false;
    }
  }
  const heif_color_profile_type type = heif_image_handle_get_color_profile_type(s->primary);
  const std::size_t size = heif_image_handle_get_raw_color_profile_size(s->primary);
  if ((type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) && size > 0 &&
      size <= image::kMaxIccProfileBytes) {
    try {
      std::vector<std::uint8_t> icc(size);
      if (heif_image_handle_get_raw_color_profile(s->primary, icc.data()).code == heif_error_Ok &&
          image::usableIccProfile(icc)) {
        context.iccProfile = std::move(icc);
        return true;
      }
    } catch (const std::bad_alloc&) {
      // The picture loads without its profile, as a PNG's would.
    }
  }
  context.iccProfile = std::move(described.iccProfile);
  return true;
}

// The primary picture's first EXIF block, carried to the output on request;
// its orientation is not applied (irot and imir are the picture's own).
void takeExif(HeifState* s) {
  heif_item_id id = 0;
  if (heif_image_handle_get_list_of_metadata_block_IDs(s->primary, "Exif", &id, 1) != 1) return;
  const std::size_t size = heif_image_handle_get_metadata_size(s->primary, id);
  if (size == 0 || size > image::kMaxExifBytes + 64) return;
  try {
    std::vector<std::uint8_t> payload(size);
    if (heif_image_handle_get_metadata(s->primary, id, payload.data()).code != heif_error_Ok) return;
    const std::span<const std::uint8_t> tiff = image::exifTiffIn(payload);
    if (tiff.size() <= image::kMaxExifBytes) s->context->exif.assign(tiff.begin(), tiff.end());
  } catch (const std::bad_alloc&) {
    // The picture loads without it.
  }
}

bool probeHeif(DecoderContext& context) {
  auto* s = new (std::nothrow) HeifState{};
  if (s == nullptr) return false;
  context.state = s;
  s->context = &context;
  s->file = heif_context_alloc();
  if (s->file == nullptr) return false;
  heif_context_set_maximum_image_size_limit(s->file, image::kMaxSide);
  // Grid tiles on this thread, one after another.
  heif_context_set_max_decoding_threads(s->file, 0);
  s->reader.reader_api_version = 1;
  s->reader.get_position = positionOf;
  s->reader.read = readBytes;
  s->reader.seek = seekTo;
  s->reader.wait_for_file_size = sizeReached;
  heif_error error = heif_context_read_from_reader(s->file, &s->reader, s, nullptr);
  if (error.code == heif_error_Ok) error = heif_context_get_primary_image_handle(s->file, &s->primary);
  if (error.code != heif_error_Ok || s->readFailed) {
    context.refusal = s->readFailed ? DecodeFailure::unrecognised : failureOf(error);
    return false;
  }

  // The size once libheif has cropped and turned it.
  const int width = heif_image_handle_get_width(s->primary);
  const int height = heif_image_handle_get_height(s->primary);
  if (width <= 0 || height <= 0) return false;
  const auto pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  if (width > image::kMaxSide || height > image::kMaxSide ||
      (context.pixelLimit != 0 && pixels > context.pixelLimit)) {
    context.refusal = DecodeFailure::tooLarge;
    return false;
  }
  // A grid must be painted by its tiles, as any picture by its data.
  if (const std::optional<std::uint64_t> tiles = primaryGridTilePixels(*context.input);
      tiles && image::paintsTooLittleOf(pixels, *tiles))
    return false;
  if (!takeColours(s)) return false;
  takeExif(s);
  s->alpha = heif_image_handle_has_alpha_channel(s->primary) != 0;
  s->premultiplied = s->alpha && heif_image_handle_is_premultiplied_alpha(s->primary) != 0;
  const int bits = std::max(heif_image_handle_get_luma_bits_per_pixel(s->primary),
                            heif_image_handle_get_chroma_bits_per_pixel(s->primary));
  context.width = width;
  context.height = height;
  context.rasterDepth = s->alpha ? 32 : 24;
  context.sourceDepth = context.rasterDepth;
  context.decoderBytes = libraryBytes(pixels, bits, s->alpha, context.input->size());
  context.rowByRow = true;  // the rows of the RGB planes, upright
  context.orientation = 1;
  return true;
}

// ---- The picture ----

// One plane of libheif's picture: its rows and the largest sample value.
struct Plane {
  const std::uint8_t* data = nullptr;
  int stride = 0;
  bool wide = false;  // two bytes a sample (more than 8 bits)
  unsigned maximum = 255;

  unsigned sample(int x, int y) const {
    const std::uint8_t* row = data + static_cast<std::ptrdiff_t>(stride) * y;
    if (!wide) return row[x];
    std::uint16_t value;
    std::memcpy(&value, row + 2 * static_cast<std::ptrdiff_t>(x), sizeof value);
    return std::min<unsigned>(value, maximum);
  }
};

struct Planes {
  Plane red, green, blue, alpha;
  bool hasAlpha = false;
  bool premultiplied = false;
};

// A plane of at least the picture's size, or none.
bool planeOf(heif_image* picture, heif_channel channel, int width, int height, Plane& plane) {
  if (heif_image_get_width(picture, channel) < width || heif_image_get_height(picture, channel) < height)
    return false;
  const int storage = heif_image_get_bits_per_pixel(picture, channel);
  const int bits = heif_image_get_bits_per_pixel_range(picture, channel);
  if ((storage != 8 && storage != 16) || bits < 1 || bits > 16 || (storage == 8 && bits != 8)) return false;
  plane.data = heif_image_get_plane_readonly(picture, channel, &plane.stride);
  plane.wide = storage == 16;
  plane.maximum = (1u << bits) - 1;
  return plane.data != nullptr && plane.stride > 0;
}

// Rounded, not truncated: v * 255 / maximum to the nearest (the maximum
// is odd, so there is never a tie).
inline std::uint8_t toEightBits(unsigned value, unsigned maximum) {
  return static_cast<std::uint8_t>((value * 255u + maximum / 2) / maximum);
}

// Straight from premultiplied: c * maximum / alpha to the nearest, at most maximum.
inline unsigned unpremultiplied(unsigned value, unsigned alpha, unsigned maximum) {
  if (alpha == 0) return 0;
  const std::uint64_t straight = (std::uint64_t{value} * maximum + alpha / 2) / alpha;
  return static_cast<unsigned>(std::min<std::uint64_t>(maximum, straight));
}

// Picture row y as blue, green, red (, alpha): 3 or 4 bytes a pixel.
void convertRow(const Planes& p, int y, int width, int bytesPerPixel, std::uint8_t* out) {
  if (!p.red.wide && !p.green.wide && !p.blue.wide && !p.premultiplied) {
    const std::uint8_t* r = p.red.data + static_cast<std::ptrdiff_t>(p.red.stride) * y;
    const std::uint8_t* g = p.green.data + static_cast<std::ptrdiff_t>(p.green.stride) * y;
    const std::uint8_t* b = p.blue.data + static_cast<std::ptrdiff_t>(p.blue.stride) * y;
    for (int x = 0; x < width; ++x) {
      std::uint8_t* pixel = out + static_cast<std::ptrdiff_t>(x) * bytesPerPixel;
      pixel[0] = b[x];
      pixel[1] = g[x];
      pixel[2] = r[x];
    }
  } else {
    for (int x = 0; x < width; ++x) {
      unsigned r = p.red.sample(x, y), g = p.green.sample(x, y), b = p.blue.sample(x, y);
      if (p.premultiplied) {
        // The alpha at the colour's own scale.
        const unsigned a = p.alpha.sample(x, y);
        const unsigned scaled = (a * p.red.maximum + p.alpha.maximum / 2) / p.alpha.maximum;
        r = unpremultiplied(r, scaled, p.red.maximum);
        g = unpremultiplied(g, scaled, p.green.maximum);
        b = unpremultiplied(b, scaled, p.blue.maximum);
      }
      std::uint8_t* pixel = out + static_cast<std::ptrdiff_t>(x) * bytesPerPixel;
      pixel[0] = toEightBits(b, p.blue.maximum);
      pixel[1] = toEightBits(g, p.green.maximum);
      pixel[2] = toEightBits(r, p.red.maximum);
    }
  }
  if (bytesPerPixel != 4) return;
  for (int x = 0; x < width; ++x)
    out[4 * static_cast<std::ptrdiff_t>(x) + 3] =
        p.hasAlpha ? toEightBits(p.alpha.sample(x, y), p.alpha.maximum) : 255;
}

// Decodes the primary picture as planar RGB (and alpha). False, with the
// reason in the context, when libheif refuses it or it is not what the
// header promised.
bool decodePrimary(HeifState* s, Planes& planes) {
  DecoderContext& context = *s->context;
  if (image::stopRequested(context)) return false;
  // libheif gives the whole picture or nothing: no failure leaves part of it.
  context.rejected = true;
  heif_decoding_options* options = heif_decoding_options_alloc();
  if (options == nullptr) {
    context.refusal = DecodeFailure::overBudget;
    return false;
  }
  // Transformations applied; samples kept at their depth, rounded here.
  const heif_error error =
      heif_decode_image(s->primary, &s->picture, heif_colorspace_RGB, heif_chroma_444, options);
  heif_decoding_options_free(options);
  if (error.code != heif_error_Ok || s->picture == nullptr || s->readFailed) {
    context.refusal = error.code != heif_error_Ok ? failureOf(error) : DecodeFailure::unrecognised;
    return false;
  }
  if (image::stopRequested(context)) return false;
  context.refusal = DecodeFailure::unrecognised;
  const int width = context.width, height = context.height;
  if (heif_image_get_colorspace(s->picture) != heif_colorspace_RGB ||
      heif_image_get_chroma_format(s->picture) != heif_chroma_444 ||
      !planeOf(s->picture, heif_channel_R, width, height, planes.red) ||
      !planeOf(s->picture, heif_channel_G, width, height, planes.green) ||
      !planeOf(s->picture, heif_channel_B, width, height, planes.blue))
    return false;
  // An alpha plane of another size than the picture is not used.
  planes.hasAlpha = s->alpha && heif_image_has_channel(s->picture, heif_channel_Alpha) &&
                    planeOf(s->picture, heif_channel_Alpha, width, height, planes.alpha);
  planes.premultiplied = planes.hasAlpha && s->premultiplied;
  context.rejected = false;
  return true;
}

bool decodeHeif(DecoderContext& context, std::uint8_t* pixels, int stride, int flags) {
  auto* s = static_cast<HeifState*>(context.state);
  Planes planes;
  if (s == nullptr || pixels == nullptr || !decodePrimary(s, planes)) return false;
  const bool bottomUp = (flags & image::kRowsBottomUp) != 0;
  const int bytesPerPixel = context.rasterDepth / 8;
  for (int y = 0; y < context.height; ++y) {
    if (image::stopRequested(context)) return false;
    const int row = bottomUp ? context.height - 1 - y : y;
    convertRow(planes, y, context.width, bytesPerPixel,
               pixels + static_cast<std::ptrdiff_t>(stride) * static_cast<std::ptrdiff_t>(row));
  }
  return true;
}

bool decodeHeifRows(DecoderContext& context, image::RowSink& sink) {
  auto* s = static_cast<HeifState*>(context.state);
  Planes planes;
  if (s == nullptr || !decodePrimary(s, planes)) return false;
  for (int y = 0; y < context.height; ++y) {
    if (image::stopRequested(context)) return false;
    convertRow(planes, y, context.width, 3, sink.nextRow());
    sink.rowDone();
  }
  return true;
}

void closeHeif(DecoderContext& context) {
  auto* s = static_cast<HeifState*>(context.state);
  if (s == nullptr) return;
  if (s->picture != nullptr) heif_image_release(s->picture);
  if (s->primary != nullptr) heif_image_handle_release(s->primary);
  if (s->file != nullptr) heif_context_free(s->file);
  delete s;
  context.state = nullptr;
}

constexpr image::Decoder kHeifDecoder{probeHeif, decodeHeif, closeHeif, decodeHeifRows};

}  // namespace

image::Reading readHeif(image::PictureInput& input, const image::DecodeLimits& limits,
                        const image::ReduceTo* reduce, image::ReadUpTo upTo) {
  return image::readWith(kHeifDecoder, input, limits, reduce, upTo);
}

}  // namespace pixmoor::foreign
