#include "image/jpeg_reader.h"

// jpeglib.h needs size_t and FILE declared before it.
#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "image/exif_orientation.h"
#include "image/icc_profile.h"
#include "image/memory_budget.h"
#include "image/raster.h"

namespace pixmoor::image {
namespace {

// A progressive file may hold any number of scans; real ones have a dozen.
// Past this many the data is taken as hostile (each scan costs a full pass).
constexpr int kMaxScans = 500;

constexpr JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

struct JpegState {
  jpeg_decompress_struct cinfo;
  ErrorManager error;
  jpeg_source_mgr source;
  jpeg_progress_mgr progress;
  DecoderContext* context = nullptr;
  std::size_t handedOut = 0;  // bytes of the block given to the library so far
  int orientation = 1;
  bool fourComponents = false;
  bool adobeInverted = false;
  // Row of library output for pictures that need converting or turning;
  // empty when rows go straight into the raster.
  std::unique_ptr<JSAMPLE[]> scratch;
};

JpegState* stateOf(j_common_ptr cinfo) {
  return static_cast<JpegState*>(cinfo->client_data);
}

[[noreturn]] void onError(j_common_ptr cinfo) {
  auto* error = reinterpret_cast<ErrorManager*>(cinfo->err);
  std::longjmp(error->jump, 1);
}

// Warnings ("Premature end of JPEG file", "Corrupt JPEG data") are not shown.
void onMessage(j_common_ptr, int) {}
void onOutput(j_common_ptr) {}

// Called by the library per row batch and, while a multi-scan file is read
// in, per row of blocks: where a Stop is noticed inside the library.
void onProgress(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  if (stopRequested(*stateOf(cinfo)->context)) onError(cinfo);
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) onError(cinfo);
}

// The block is handed to the library a piece at a time, so that a Stop is
// also seen while it skips a long run of garbage between markers, where it
// calls nothing else of ours. A request for more after the last piece means
// the data ended before the picture did, answered with an end-of-image marker.
void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

constexpr std::size_t kSourcePiece = std::size_t{1} << 20;

boolean fillInput(j_decompress_ptr cinfo) {
  JpegState* s = stateOf(reinterpret_cast<j_common_ptr>(cinfo));
  if (stopRequested(*s->context)) onError(reinterpret_cast<j_common_ptr>(cinfo));
  const auto data = s->context->data;
  if (s->handedOut < data.size()) {
    const std::size_t piece = std::min(kSourcePiece, data.size() - s->handedOut);
    cinfo->src->next_input_byte = data.data() + s->handedOut;
    cinfo->src->bytes_in_buffer = piece;
    s->handedOut += piece;
    return TRUE;
  }
  s->context->ranShort = true;
  WARNMS(cinfo, JWRN_JPEG_EOF);
  cinfo->src->next_input_byte = kEndOfImage;
  cinfo->src->bytes_in_buffer = sizeof kEndOfImage;
  return TRUE;
}

void skipInput(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  auto* source = cinfo->src;
  while (static_cast<unsigned long>(count) > source->bytes_in_buffer) {
    count -= static_cast<long>(source->bytes_in_buffer);
    fillInput(cinfo);
    if (source->next_input_byte == kEndOfImage) return;
  }
  source->next_input_byte += count;
  source->bytes_in_buffer -= static_cast<std::size_t>(count);
}

int orientationOf(j_decompress_ptr cinfo) {
  for (auto* marker = cinfo->marker_list; marker != nullptr; marker = marker->next) {
    if (marker->marker != JPEG_APP0 + 1 || marker->data_length < 6) continue;
    if (std::memcmp(marker->data, "Exif\0\0", 6) != 0) continue;
    return exifOrientation({marker->data, marker->data_length});
  }
  return 1;
}

// The colour profile from the APP2 segments the library kept.
std::vector<std::uint8_t> iccProfileOf(j_decompress_ptr cinfo) {
  try {
    std::vector<JpegAppSegment> segments;
    for (auto* marker = cinfo->marker_list; marker != nullptr; marker = marker->next) {
      if (marker->marker != JPEG_APP0 + 2) continue;
      const bool whole = marker->data_length == marker->original_length;
      segments.push_back({{marker->data, marker->data_length}, whole});
    }
    return assembleJpegIccProfile(segments);
  } catch (const std::bad_alloc&) {
    return {};  // the picture loads without its profile
  }
}

// Entropy-coded data paints at least one 8 x 8 block per bit (a Huffman
// code is one bit or more, and every block of a picture needs its DC value):
// 512 pixels per byte of the data after the first scan header.
constexpr std::uint64_t kPixelsPerByte = 512;

// Bytes of entropy-coded data (and the markers after it) that follow the
// first scan header, where jpeg_read_header left the source.
std::uint64_t scanBytes(const JpegState& s) {
  const auto data = s.context->data;
  const JOCTET* next = s.source.next_input_byte;
  if (next < data.data() || next > data.data() + data.size()) return 0;  // the end-of-image stand-in
  return static_cast<std::uint64_t>(data.data() + data.size() - next);
}

// What the library holds beside the raster. A file of several scans
// (progressive, or components in separate scans) keeps every coefficient of
// the picture, two bytes per sample, blocks padded to whole MCUs; a
// single-scan file only a few rows of blocks. Both keep the saved markers.
std::uint64_t libraryBytes(const jpeg_decompress_struct& cinfo) {
  std::uint64_t bytes = std::uint64_t{1} << 20;  // the library's fixed tables and state
  bytes += (static_cast<std::uint64_t>(cinfo.image_width) + 64) *
           static_cast<std::uint64_t>(cinfo.num_components) * 64;
  for (auto* marker = cinfo.marker_list; marker != nullptr; marker = marker->next)
    bytes += 2 * marker->data_length;
  if (cinfo.progressive_mode || cinfo.comps_in_scan < cinfo.num_components) {
    for (int c = 0; c < cinfo.num_components; ++c) {
      const jpeg_component_info& component = cinfo.comp_info[c];
      const auto roundUp = [](std::uint64_t value, std::uint64_t unit) {
        return (value + unit - 1) / unit * unit;
      };
      const std::uint64_t blocks =
          roundUp(component.width_in_blocks, static_cast<std::uint64_t>(component.h_samp_factor)) *
          roundUp(component.height_in_blocks, static_cast<std::uint64_t>(component.v_samp_factor));
      bytes += blocks * DCTSIZE2 * sizeof(JCOEF);
    }
  }
  return bytes;
}

// setjmp lives here and in guardedDecode alone; their locals are plain values.
bool guardedProbe(JpegState* s) {
  j_decompress_ptr cinfo = &s->cinfo;
  if (setjmp(s->error.jump) != 0) return false;
  jpeg_create_decompress(cinfo);
  cinfo->progress = &s->progress;

  const auto data = s->context->data;
  s->handedOut = std::min(kSourcePiece, data.size());
  s->source.next_input_byte = data.data();
  s->source.bytes_in_buffer = s->handedOut;
  s->source.init_source = initSource;
  s->source.fill_input_buffer = fillInput;
  s->source.skip_input_data = skipInput;
  s->source.resync_to_restart = jpeg_resync_to_restart;
  s->source.term_source = termSource;
  cinfo->src = &s->source;
  jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
  jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);

  if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return false;
  const std::uint64_t width = cinfo->image_width;
  const std::uint64_t height = cinfo->image_height;
  const std::uint64_t limit = s->context->pixelLimit;
  if (width > static_cast<std::uint64_t>(kMaxSide) || height > static_cast<std::uint64_t>(kMaxSide) ||
      (limit != 0 && width * height > limit)) {
    s->context->refusal = DecodeFailure::tooLarge;
    return false;
  }
  // A header that claims far more picture than its data could paint.
  if (width * height > kFreePixels && width * height > kPixelsPerByte * scanBytes(*s)) return false;
  s->orientation = orientationOf(cinfo);
  s->context->iccProfile = iccProfileOf(cinfo);

  cinfo->dct_method = JDCT_ISLOW;
  if (cinfo->num_components == 4) {
    // CMYK and YCCK: the library gives C, M, Y, K; the conversion is ours.
    cinfo->out_color_space = JCS_CMYK;
    s->fourComponents = true;
    s->adobeInverted = cinfo->saw_Adobe_marker != 0;
  } else {
    // Grey repeats into the three channels; colour arrives already in B, G, R.
    cinfo->out_color_space = JCS_EXT_BGR;
  }
  jpeg_calc_output_dimensions(cinfo);
  // Checked before jpeg_start_decompress, which allocates the coefficients.
  const std::uint64_t raster =
      rasterBytes(static_cast<int>(cinfo->output_width), static_cast<int>(cinfo->output_height), 24);
  s->context->decoderBytes = libraryBytes(*cinfo);
  if (raster + s->context->decoderBytes > s->context->memoryBudget) {
    s->context->refusal = DecodeFailure::overBudget;
    return false;
  }
  // The library's own ceiling on what it may allocate, should the estimate fall short.
  const std::uint64_t ceiling =
      std::min<std::uint64_t>(budgetLeft(s->context->memoryBudget, raster), 2 * s->context->decoderBytes);
  cinfo->mem->max_memory_to_use = static_cast<long>(std::min<std::uint64_t>(ceiling, LONG_MAX));
  jpeg_start_decompress(cinfo);

  const int storedWidth = static_cast<int>(cinfo->output_width);
  const int storedHeight = static_cast<int>(cinfo->output_height);
  const bool turned = orientationSwapsSides(s->orientation);
  s->context->width = turned ? storedHeight : storedWidth;
  s->context->height = turned ? storedWidth : storedHeight;
  s->context->rasterDepth = 24;
  s->context->sourceDepth = cinfo->output_components * 8;
  if (s->fourComponents || s->orientation != 1) {
    const std::size_t rowBytes =
        static_cast<std::size_t>(storedWidth) * static_cast<std::size_t>(cinfo->output_components);
    s->scratch.reset(new (std::nothrow) JSAMPLE[rowBytes]);
    if (s->scratch == nullptr) return false;
  }
  return true;
}

// Rounded v / 255 for v in 0 .. 255 * 255.
inline std::uint8_t divide255(unsigned v) {
  return static_cast<std::uint8_t>((v + 128 + ((v + 128) >> 8)) >> 8);
}

// Converts the scratch row (stored row y) and puts each pixel at its upright
// place in the raster.
void placeRow(JpegState* s, int y, std::uint8_t* pixels, int stride, bool bottomUp) {
  const int width = static_cast<int>(s->cinfo.output_width);
  const int height = static_cast<int>(s->cinfo.output_height);
  const int uprightHeight = orientationSwapsSides(s->orientation) ? width : height;
  const JSAMPLE* in = s->scratch.get();
  for (int x = 0; x < width; ++x) {
    std::uint8_t b, g, r;
    if (s->fourComponents) {
      const unsigned c = in[0], m = in[1], ye = in[2], k = in[3];
      in += 4;
      // Adobe applications store CMYK inverted (0 = full ink).
      if (s->adobeInverted) {
        r = divide255(c * k);
        g = divide255(m * k);
        b = divide255(ye * k);
      } else {
        r = divide255((255 - c) * (255 - k));
        g = divide255((255 - m) * (255 - k));
        b = divide255((255 - ye) * (255 - k));
      }
    } else {
      b = in[0];
      g = in[1];
      r = in[2];
      in += 3;
    }
    const Position at = orientedPosition(s->orientation, x, y, width, height);
    const int row = bottomUp ? uprightHeight - 1 - at.y : at.y;
    std::uint8_t* out = pixels + static_cast<std::size_t>(stride) * static_cast<std::size_t>(row) +
                        static_cast<std::size_t>(at.x) * 3;
    out[0] = b;
    out[1] = g;
    out[2] = r;
  }
}

bool guardedDecode(JpegState* s, std::uint8_t* pixels, int stride, int flags) {
  j_decompress_ptr cinfo = &s->cinfo;
  if (setjmp(s->error.jump) != 0) return false;
  const bool bottomUp = (flags & kRowsBottomUp) != 0;
  const JDIMENSION height = cinfo->output_height;
  if (s->scratch == nullptr) {
    // Upright colour or grey: the library writes B, G, R into the raster rows.
    constexpr JDIMENSION kBatch = 16;
    while (cinfo->output_scanline < height) {
      if (stopRequested(*s->context)) return false;
      JSAMPROW rows[kBatch];
      const JDIMENSION first = cinfo->output_scanline;
      const JDIMENSION count = height - first < kBatch ? height - first : kBatch;
      for (JDIMENSION k = 0; k < count; ++k) {
        const JDIMENSION y = first + k;
        const JDIMENSION row = bottomUp ? height - 1 - y : y;
        rows[k] = pixels + static_cast<std::size_t>(stride) * row;
      }
      if (jpeg_read_scanlines(cinfo, rows, count) == 0) return false;
    }
  } else {
    while (cinfo->output_scanline < height) {
      if (stopRequested(*s->context)) return false;
      const int y = static_cast<int>(cinfo->output_scanline);
      JSAMPROW row = s->scratch.get();
      if (jpeg_read_scanlines(cinfo, &row, 1) != 1) return false;
      placeRow(s, y, pixels, stride, bottomUp);
    }
  }
  jpeg_finish_decompress(cinfo);
  return true;
}

bool probeJpeg(DecoderContext& context) {
  const auto data = context.data;
  if (data.size() < 2 || data[0] != 0xFF || data[1] != 0xD8) return false;
  auto* s = new (std::nothrow) JpegState{};
  if (s == nullptr) return false;
  context.state = s;
  s->context = &context;
  s->cinfo.err = jpeg_std_error(&s->error.pub);
  s->error.pub.error_exit = onError;
  s->error.pub.emit_message = onMessage;
  s->error.pub.output_message = onOutput;
  s->progress.progress_monitor = onProgress;
  s->cinfo.client_data = s;
  return guardedProbe(s);
}

bool decodeJpeg(DecoderContext& context, std::uint8_t* pixels, int stride, int flags) {
  auto* s = static_cast<JpegState*>(context.state);
  if (s == nullptr || pixels == nullptr) return false;
  return guardedDecode(s, pixels, stride, flags);
}

void closeJpeg(DecoderContext& context) {
  auto* s = static_cast<JpegState*>(context.state);
  if (s == nullptr) return;
  // Destroying a structure the library never set up is harmless: it was zeroed.
  jpeg_destroy_decompress(&s->cinfo);
  delete s;
  context.state = nullptr;
}

constexpr Decoder kJpegDecoder{probeJpeg, decodeJpeg, closeJpeg};

}  // namespace

const Decoder& jpegDecoder() {
  return kJpegDecoder;
}

}  // namespace pixmoor::image
