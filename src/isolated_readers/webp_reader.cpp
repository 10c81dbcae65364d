#include "isolated_readers/webp_reader.h"

#include <webp/decode.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "codecs/decoder.h"
#include "image/memory_budget.h"
#include "image/orientation.h"
#include "isolated_readers/upright_rows.h"
#include "metadata/exif_editor.h"
#include "metadata/exif_orientation.h"
#include "metadata/icc_profile.h"

namespace pixmoor::foreign {
namespace {

using image::DecodeFailure;
using image::DecoderContext;
using image::PictureInput;

constexpr std::uint32_t fourCc(const char (&tag)[5]) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(tag[0])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(tag[1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(tag[2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(tag[3])) << 24;
}
constexpr std::uint32_t kVp8x = fourCc("VP8X");
constexpr std::uint32_t kVp8 = fourCc("VP8 ");
constexpr std::uint32_t kVp8l = fourCc("VP8L");
constexpr std::uint32_t kAlph = fourCc("ALPH");
constexpr std::uint32_t kIccp = fourCc("ICCP");
constexpr std::uint32_t kExif = fourCc("EXIF");
constexpr std::uint32_t kAnmf = fourCc("ANMF");

constexpr std::uint8_t kAnimationFlag = 0x02;  // of the VP8X flags
constexpr std::uint8_t kExifFlag = 0x08;

// A walk over the chunk headers stops after this many: real files have a
// handful, animations one a frame.
constexpr int kMaxChunks = 1 << 16;
// libwebp is handed the data a piece at a time and decodes all it can of
// each before it answers; a Stop is seen between pieces and between rows.
constexpr std::size_t kPiece = std::size_t{256} << 10;

std::uint32_t le24(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16;
}
std::uint32_t le32(const std::uint8_t* p) {
  return le24(p) | static_cast<std::uint32_t>(p[3]) << 24;
}

struct Chunk {
  std::uint32_t tag = 0;
  std::uint64_t at = 0;       // its header
  std::uint64_t payload = 0;  // its data
  std::uint32_t size = 0;     // of the data, as the header says
};

// Calls `visit` with each chunk whose header lies within [from, end), in
// file order, until it answers false. Only the headers are read.
template <typename Visit>
void forEachChunk(PictureInput& input, std::uint64_t from, std::uint64_t end, Visit&& visit) {
  std::uint64_t at = from;
  for (int n = 0; n < kMaxChunks && at < end && end - at >= 8; ++n) {
    std::uint8_t header[8];
    if (!input.copy(at, header)) return;
    const Chunk chunk{le32(header), at, at + 8, le32(header + 4)};
    if (!visit(chunk)) return;
    at = chunk.payload + chunk.size + (chunk.size & 1);  // chunks are padded to even sizes
  }
}

// A picture's bitstream as libwebp takes it: an optional ALPH chunk, then
// the VP8 or VP8L chunk (anything between them it passes over).
struct Bitstream {
  std::uint64_t start = 0;       // its first chunk
  std::uint64_t imageChunk = 0;  // the VP8 or VP8L chunk
  std::uint64_t end = 0;         // the end of that chunk's data, as far as the data goes
  bool alphaChunk = false;
  bool lossless = false;
  bool found = false;

  void take(const Chunk& chunk, std::uint64_t dataEnd) {
    if (found) return;
    if (chunk.tag == kAlph && !alphaChunk) {
      alphaChunk = true;
      start = chunk.at;
    } else if (chunk.tag == kVp8 || chunk.tag == kVp8l) {
      found = true;
      imageChunk = chunk.at;
      lossless = chunk.tag == kVp8l;
      if (!alphaChunk) start = chunk.at;
      end = std::min(chunk.payload + chunk.size, dataEnd);
    }
  }
};

// Where the parts of a file lie, from its chunk headers.
struct Layout {
  bool extended = false;  // a VP8X chunk leads
  bool animated = false;
  bool exifPromised = false;  // the VP8X flags announce an EXIF chunk
  int canvasWidth = 0;        // of the VP8X chunk
  int canvasHeight = 0;
  std::optional<Chunk> icc;
  std::optional<Chunk> exif;
  Bitstream still;
  // An animation's first frame: its place on the canvas and its bitstream.
  bool frameFound = false;
  int frameX = 0;
  int frameY = 0;
  int frameWidth = 0;
  int frameHeight = 0;
  Bitstream frame;
};

void readFirstFrame(PictureInput& input, const Chunk& anmf, std::uint64_t dataEnd, Layout& layout) {
  std::uint8_t header[16];
  if (anmf.size < sizeof header || !input.copy(anmf.payload, header)) return;
  layout.frameFound = true;
  layout.frameX = 2 * static_cast<int>(le24(header));
  layout.frameY = 2 * static_cast<int>(le24(header + 3));
  layout.frameWidth = 1 + static_cast<int>(le24(header + 6));
  layout.frameHeight = 1 + static_cast<int>(le24(header + 9));
  const std::uint64_t end = std::min(anmf.payload + anmf.size, dataEnd);
  forEachChunk(input, anmf.payload + sizeof header, end, [&](const Chunk& chunk) {
    layout.frame.take(chunk, end);
    return !layout.frame.found;
  });
}

// The whole file is walked: the EXIF chunk follows the picture.
bool readLayout(PictureInput& input, Layout& layout) {
  std::uint8_t header[12];
  if (!input.copy(0, header) || std::memcmp(header, "RIFF", 4) != 0 ||
      std::memcmp(header + 8, "WEBP", 4) != 0)
    return false;
  const std::uint64_t dataEnd = std::min<std::uint64_t>(8 + std::uint64_t{le32(header + 4)}, input.size());
  bool leading = true;
  forEachChunk(input, sizeof header, dataEnd, [&](const Chunk& chunk) {
    const bool first = std::exchange(leading, false);
    if (first && chunk.tag == kVp8x) {
      std::uint8_t vp8x[10];
      if (chunk.size < sizeof vp8x || !input.copy(chunk.payload, vp8x)) return false;
      layout.extended = true;
      layout.animated = (vp8x[0] & kAnimationFlag) != 0;
      layout.exifPromised = (vp8x[0] & kExifFlag) != 0;
      layout.canvasWidth = 1 + static_cast<int>(le24(vp8x + 4));
      layout.canvasHeight = 1 + static_cast<int>(le24(vp8x + 7));
    } else if (!layout.extended) {
      // A simple file is its bitstream's chunk alone.
      if (first) layout.still.take(chunk, dataEnd);
      return false;
    } else if (chunk.tag == kIccp) {
      if (!layout.icc) layout.icc = chunk;
    } else if (chunk.tag == kExif) {
      if (!layout.exif) layout.exif = chunk;
    } else if (layout.animated) {
      if (chunk.tag == kAnmf && !layout.frameFound) readFirstFrame(input, chunk, dataEnd, layout);
    } else {
      layout.still.take(chunk, dataEnd);
    }
    return true;
  });
  return true;
}

// Up to `length` bytes of the data from `offset`, as far as it goes; empty
// when memory cannot be had.
std::vector<std::uint8_t> copyOut(PictureInput& input, std::uint64_t offset, std::uint64_t length) {
  if (offset >= input.size()) return {};
  length = std::min(length, input.size() - offset);
  try {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(length));
    if (!input.copy(offset, out)) return {};
    return out;
  } catch (const std::bad_alloc&) {
    return {};
  }
}

// The EXIF chunk's TIFF structure; some writers put JPEG's "Exif\0\0"
// before it. Empty when it holds none, or more than a picture carries.
std::vector<std::uint8_t> exifOf(PictureInput& input, const Chunk& exif) {
  if (exif.size > image::kMaxExifBytes) return {};
  std::vector<std::uint8_t> block = copyOut(input, exif.payload, exif.size);
  const std::span<const std::uint8_t> tiff = image::exifTiffIn(block);
  if (tiff.size() == block.size()) return block;
  try {
    return {tiff.begin(), tiff.end()};
  } catch (const std::bad_alloc&) {
    return {};
  }
}

struct WebpState {
  DecoderContext* context = nullptr;
  Bitstream bitstream;
  int canvasWidth = 0;  // the picture as stored (before its orientation)
  int canvasHeight = 0;
  int frameX = 0;  // where the bitstream's pixels lie on it
  int frameY = 0;
  int frameWidth = 0;
  int frameHeight = 0;
  bool canvasAlpha = false;
  WebPDecoderConfig config;
  WebPIDecoder* decoder = nullptr;
  // A lossless bitstream, which libwebp keeps whole as it decodes, is
  // gathered here and mapped (WebPIUpdate) rather than appended piece by
  // piece: appending copies everything held so far each time.
  std::unique_ptr<std::uint8_t[]> gathered;

  bool coversCanvas() const {
    return frameX == 0 && frameY == 0 && frameWidth == canvasWidth && frameHeight == canvasHeight;
  }
  int bytesPerPixel() const { return canvasAlpha ? 4 : 3; }
};

// What libwebp 1.2.4 holds beside its output while it decodes a width x
// height bitstream of `bitstreamBytes`. Measured as the peak heap (heaptrack)
// of this reader on 12-megapixel files that cwebp made from a photo, less
// the raster; dwebp peaks at the same figures beside its own output:
// - lossy: 1.1 MiB at 4000 pixels wide: macroblock rows (some 150 bytes a
//   column), its copy of partition 0 and the data appended but not decoded
//   yet (at most the bitstream); with an ALPH chunk 30.8 MiB more (2.6 bytes
//   a pixel: the alpha plane and the lossless plane it is decoded from);
// - lossless: 50.9 MiB (4.45 bytes a pixel): the whole picture as 32-bit
//   ARGB with its cache rows, and the Huffman tables; beside it the
//   bitstream, gathered whole (WebpState::gathered).
// Each figure is rounded up here.
std::uint64_t libraryBytes(std::uint64_t width, std::uint64_t height, bool lossless, bool alphaChunk,
                           std::uint64_t bitstreamBytes) {
  constexpr std::uint64_t kFixed = std::uint64_t{1} << 20;
  const std::uint64_t pixels = width * height;
  if (lossless) return kFixed + pixels * 9 / 2 + bitstreamBytes;
  return kFixed + 160 * width + 2 * bitstreamBytes + (alphaChunk ? 3 * pixels : 0);
}

bool probeWebp(DecoderContext& context) {
  PictureInput& input = *context.input;
  Layout layout;
  if (!readLayout(input, layout)) return false;
  const Bitstream& bits = layout.animated ? layout.frame : layout.still;
  if (!bits.found) return false;

  // The bitstream's own header: its size, and whether a lossless one uses alpha.
  const std::vector<std::uint8_t> head = copyOut(input, bits.imageChunk, 64);
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(head.data(), head.size(), &features) != VP8_STATUS_OK) return false;

  auto* s = new (std::nothrow) WebpState{};
  if (s == nullptr) return false;
  context.state = s;
  s->context = &context;
  s->bitstream = bits;
  s->frameWidth = features.width;
  s->frameHeight = features.height;
  if (layout.animated) {
    if (!layout.frameFound || features.width != layout.frameWidth || features.height != layout.frameHeight)
      return false;
    s->canvasWidth = layout.canvasWidth;
    s->canvasHeight = layout.canvasHeight;
    s->frameX = layout.frameX;
    s->frameY = layout.frameY;
    if (std::int64_t{s->frameX} + s->frameWidth > s->canvasWidth ||
        std::int64_t{s->frameY} + s->frameHeight > s->canvasHeight)
      return false;
  } else {
    s->canvasWidth = features.width;
    s->canvasHeight = features.height;
    // libwebp refuses a still picture whose canvas is not its size.
    if (layout.extended && (layout.canvasWidth != features.width || layout.canvasHeight != features.height))
      return false;
  }
  const bool frameAlpha = bits.lossless ? features.has_alpha != 0 : bits.alphaChunk;
  s->canvasAlpha = frameAlpha || !s->coversCanvas();

  const auto width = static_cast<std::uint64_t>(s->canvasWidth);
  const auto height = static_cast<std::uint64_t>(s->canvasHeight);
  if (width > image::kMaxSide || height > image::kMaxSide ||
      (context.pixelLimit != 0 && width * height > context.pixelLimit)) {
    context.refusal = DecodeFailure::tooLarge;
    return false;
  }
  if (image::paintsTooLittleOf(width * height, static_cast<std::uint64_t>(s->frameWidth) *
                                                   static_cast<std::uint64_t>(s->frameHeight)))
    return false;
  if (layout.exif) context.exif = exifOf(input, *layout.exif);
  const int orientation = context.exif.empty() ? 1 : image::tiffOrientation(context.exif);
  if (layout.icc && layout.icc->size <= image::kMaxIccProfileBytes) {
    std::vector<std::uint8_t> profile = copyOut(input, layout.icc->payload, layout.icc->size);
    if (profile.size() == layout.icc->size && image::usableIccProfile(profile))
      context.iccProfile = std::move(profile);
  }

  const bool turned = image::orientationSwapsSides(orientation);
  context.width = turned ? s->canvasHeight : s->canvasWidth;
  context.height = turned ? s->canvasWidth : s->canvasHeight;
  context.rasterDepth = s->canvasAlpha ? 32 : 24;
  context.sourceDepth = context.rasterDepth;
  context.rowByRow = true;
  context.orientation = orientation;
  // The EXIF chunk follows the picture: a file cut after the picture but
  // before the end of its EXIF chunk may have lost its orientation.
  if (layout.exifPromised && (!layout.exif || layout.exif->payload + layout.exif->size > input.size()))
    context.ranShort = true;

  // libwebp writes straight into the raster when the frame is the upright
  // picture; otherwise into a buffer of the frame's size, whose rows are
  // then placed or reduced.
  const std::uint64_t frameOutput = static_cast<std::uint64_t>(s->frameWidth) *
                                    static_cast<std::uint64_t>(s->frameHeight) *
                                    static_cast<std::uint64_t>(s->bytesPerPixel());
  const std::uint64_t library =
      libraryBytes(static_cast<std::uint64_t>(s->frameWidth), static_cast<std::uint64_t>(s->frameHeight),
                   bits.lossless, bits.alphaChunk && !bits.lossless, bits.end - bits.start) +
      2 * context.iccProfile.size() + 2 * context.exif.size();
  const bool direct = orientation == 1 && s->coversCanvas();
  context.decoderBytes = library + (direct ? 0 : frameOutput);
  context.rowsDecoderBytes = library + frameOutput;
  return true;
}

// Starts libwebp's incremental decoder, into `pixels` (the raster, rows
// bottom-up when asked) or into a buffer of its own when null.
bool startDecoder(WebpState* s, std::uint8_t* pixels, int stride, bool bottomUp) {
  DecoderContext& context = *s->context;
  if (WebPInitDecoderConfig(&s->config) == 0) return false;
  s->config.output.colorspace = s->canvasAlpha ? MODE_BGRA : MODE_BGR;  // straight alpha
  if (pixels != nullptr) {
    s->config.output.is_external_memory = 1;
    s->config.output.u.RGBA.rgba = pixels;
    s->config.output.u.RGBA.stride = stride;
    s->config.output.u.RGBA.size =
        static_cast<std::size_t>(stride) * static_cast<std::size_t>(s->frameHeight);
    s->config.options.flip = bottomUp ? 1 : 0;
  }
  if (s->bitstream.lossless) {
    s->gathered.reset(new (std::nothrow) std::uint8_t[s->bitstream.end - s->bitstream.start]);
    if (s->gathered == nullptr) {
      context.refusal = DecodeFailure::overBudget;
      context.rejected = true;
      return false;
    }
  }
  s->decoder = WebPIDecode(nullptr, 0, &s->config);
  return s->decoder != nullptr;
}

// Feeds the bitstream to the decoder a piece at a time and hands each row
// to `onRow(pixels, y)` once it is complete. True when every row came.
template <typename OnRow>
bool feed(WebpState* s, OnRow&& onRow) {
  DecoderContext& context = *s->context;
  const Bitstream& bits = s->bitstream;
  int delivered = 0;
  VP8StatusCode status = VP8_STATUS_SUSPENDED;
  for (std::uint64_t at = bits.start; status == VP8_STATUS_SUSPENDED && at < bits.end;) {
    if (image::stopRequested(context)) return false;
    const auto piece =
        context.input->bytes(at, static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, bits.end - at)));
    if (piece.empty()) break;
    if (s->gathered != nullptr) {
      std::memcpy(s->gathered.get() + (at - bits.start), piece.data(), piece.size());
      status = WebPIUpdate(s->decoder, s->gathered.get(),
                           static_cast<std::size_t>(at - bits.start) + piece.size());
    } else {
      status = WebPIAppend(s->decoder, piece.data(), piece.size());
    }
    at += piece.size();
    int lastRow = 0;
    int stride = 0;
    const std::uint8_t* rows = WebPIDecGetRGB(s->decoder, &lastRow, nullptr, nullptr, &stride);
    for (; rows != nullptr && delivered < lastRow; ++delivered) {
      if (image::stopRequested(context)) return false;
      onRow(rows + static_cast<std::ptrdiff_t>(delivered) * stride, delivered);
    }
  }
  context.rowsArrived = delivered > 0;
  if (status == VP8_STATUS_OK) return true;
  if (status == VP8_STATUS_OUT_OF_MEMORY) {
    context.refusal = DecodeFailure::overBudget;
    context.rejected = true;
  }
  // The data ended or broke part-way: the rows that came are kept, unless
  // none did.
  if (delivered == 0) context.rejected = true;
  return false;
}

bool decodeWebp(DecoderContext& context, std::uint8_t* pixels, int stride, int flags) {
  auto* s = static_cast<WebpState*>(context.state);
  if (s == nullptr || pixels == nullptr) return false;
  const bool bottomUp = (flags & image::kRowsBottomUp) != 0;
  if (context.orientation == 1 && s->coversCanvas()) {
    if (!startDecoder(s, pixels, stride, bottomUp)) return false;
    return feed(s, [](const std::uint8_t*, int) {});
  }
  if (!startDecoder(s, nullptr, 0, false)) return false;
  const UprightRows upright(pixels, stride, bottomUp, s->canvasWidth, s->canvasHeight, context.orientation,
                            s->bytesPerPixel());
  return feed(s, [&](const std::uint8_t* row, int y) {
    upright.place(row, s->frameX, s->frameY + y, s->frameWidth);
  });
}

// Only for an opaque picture that is its frame (24-bit rows of its width).
bool decodeWebpRows(DecoderContext& context, image::RowSink& sink) {
  auto* s = static_cast<WebpState*>(context.state);
  if (s == nullptr || !startDecoder(s, nullptr, 0, false)) return false;
  const auto rowBytes = static_cast<std::size_t>(s->frameWidth) * 3;
  return feed(s, [&](const std::uint8_t* row, int) {
    std::memcpy(sink.nextRow(), row, rowBytes);
    sink.rowDone();
  });
}

void closeWebp(DecoderContext& context) {
  auto* s = static_cast<WebpState*>(context.state);
  if (s == nullptr) return;
  if (s->decoder != nullptr) WebPIDelete(s->decoder);
  WebPFreeDecBuffer(&s->config.output);  // the buffer libwebp made, if any
  delete s;
  context.state = nullptr;
}

constexpr image::Decoder kWebpDecoder{probeWebp, decodeWebp, closeWebp, decodeWebpRows};

}  // namespace

image::Reading readWebp(PictureInput& input, const image::DecodeLimits& limits, const image::ReduceTo* reduce,
                        image::ReadUpTo upTo) {
  return image::readWith(kWebpDecoder, input, limits, reduce, upTo);
}

}  // namespace pixmoor::foreign
