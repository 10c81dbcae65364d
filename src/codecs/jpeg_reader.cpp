#include "codecs/jpeg_reader.h"

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

#include "image/memory_budget.h"
#include "image/orientation.h"
#include "image/raster.h"
#include "metadata/exif_orientation.h"
#include "metadata/icc_profile.h"

namespace pixmoor::image {
namespace {

// A progressive file may hold any number of scans; real ones have a dozen.
// Past this many the data is taken as hostile (each scan costs a full pass).
constexpr int kMaxScans = 500;

// The markers before the first scan (profiles, thumbnails, metadata) take a
// few megabytes at most. Data that has not reached a scan by this far is
// not taken for a picture: a huge file of garbage is refused without being
// read to its end.
constexpr std::uint64_t kMaxHeaderBytes = std::uint64_t{64} << 20;

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
  std::uint64_t handedOut = 0;  // bytes of the data given to the library so far
  int orientation = 1;
  bool inHeader = false;       // jpeg_read_header is running
  bool started = false;        // jpeg_start_decompress has returned
  bool multiScan = false;      // the file's picture comes in several scans
  bool dataEnded = false;      // the library asked for data past the end
  bool missedData = false;     // and then warned that it needed some
  bool dataBeforeEnd = false;  // by then a row of blocks (or a whole scan) had come from the data
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

// Warnings ("Premature end of JPEG file", "Corrupt JPEG data") are not
// shown. One that comes once the data has ended (other than the end's own)
// means the library wanted what was not there: rows or scans are missing.
void onMessage(j_common_ptr cinfo, int level) {
  if (level >= 0 || !cinfo->is_decompressor) return;
  JpegState* s = static_cast<JpegState*>(cinfo->client_data);
  if (s->dataEnded && cinfo->err->msg_code != JWRN_JPEG_EOF) s->missedData = true;
}
void onOutput(j_common_ptr) {}

// Called by the library per row batch and, while a multi-scan file is read
// in, per row of blocks: where a Stop is noticed inside the library.
void onProgress(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  if (stopRequested(*stateOf(cinfo)->context)) onError(cinfo);
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) onError(cinfo);
}

// The data is handed to the library a piece at a time (a file is read so,
// never whole), so that a Stop is also seen while it skips a long run of
// garbage between markers, where it calls nothing else of ours. A request
// for more after the last piece means the data ended before the picture
// did, answered with an end-of-image marker.
void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

boolean fillInput(j_decompress_ptr cinfo) {
  JpegState* s = stateOf(reinterpret_cast<j_common_ptr>(cinfo));
  if (stopRequested(*s->context)) onError(reinterpret_cast<j_common_ptr>(cinfo));
  if (s->inHeader && s->handedOut >= kMaxHeaderBytes) onError(reinterpret_cast<j_common_ptr>(cinfo));
  const auto piece = s->context->input->bytes(s->handedOut, PictureInput::kWindow);
  if (!piece.empty()) {
    cinfo->src->next_input_byte = piece.data();
    cinfo->src->bytes_in_buffer = piece.size();
    s->handedOut += piece.size();
    return TRUE;
  }
  s->handedOut = s->context->input->size();
  if (!s->dataEnded) s->dataBeforeEnd = cinfo->input_scan_number > 1 || cinfo->input_iMCU_row > 0;
  s->dataEnded = true;
  WARNMS(cinfo, JWRN_JPEG_EOF);
  cinfo->src->next_input_byte = kEndOfImage;
  cinfo->src->bytes_in_buffer = sizeof kEndOfImage;
  return TRUE;
}

// Skipped bytes are not read at all; the library asks for the next piece.
void skipInput(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  auto* source = cinfo->src;
  if (static_cast<unsigned long>(count) <= source->bytes_in_buffer) {
    source->next_input_byte += count;
    source->bytes_in_buffer -= static_cast<std::size_t>(count);
    return;
  }
  JpegState* s = stateOf(reinterpret_cast<j_common_ptr>(cinfo));
  const bool standIn = source->next_input_byte == kEndOfImage;
  const std::uint64_t beyond = static_cast<std::uint64_t>(count) - source->bytes_in_buffer;
  source->bytes_in_buffer = 0;
  if (!standIn) s->handedOut += std::min(beyond, s->context->input->size() - s->handedOut);
}

// The first APP1 segment marked "Exif", which holds the picture's EXIF.
std::span<const std::uint8_t> exifSegmentOf(j_decompress_ptr cinfo) {
  for (auto* marker = cinfo->marker_list; marker != nullptr; marker = marker->next) {
    if (marker->marker != JPEG_APP0 + 1 || marker->data_length < 6) continue;
    if (std::memcmp(marker->data, "Exif\0\0", 6) != 0) continue;
    return {marker->data, marker->data_length};
  }
  return {};
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
  if (s.source.next_input_byte == kEndOfImage) return 0;
  const std::uint64_t position = s.handedOut - s.source.bytes_in_buffer;
  return budgetLeft(s.context->input->size(), position);
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

  s->handedOut = 0;
  s->source.next_input_byte = nullptr;
  s->source.bytes_in_buffer = 0;
  s->source.init_source = initSource;
  s->source.fill_input_buffer = fillInput;
  s->source.skip_input_data = skipInput;
  s->source.resync_to_restart = jpeg_resync_to_restart;
  s->source.term_source = termSource;
  cinfo->src = &s->source;
  jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
  jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);

  s->inHeader = true;
  if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return false;
  s->inHeader = false;
  s->multiScan = jpeg_has_multiple_scans(cinfo) != 0;
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
  const std::span<const std::uint8_t> exif = exifSegmentOf(cinfo);
  s->orientation = exif.empty() ? 1 : exifOrientation(exif);
  s->context->exif.assign(exif.begin() + std::min<std::size_t>(exif.size(), 6), exif.end());
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
  // The registry checks this and what the rows go into against the budget
  // before decoding starts; jpeg_start_decompress allocates the coefficients.
  s->context->decoderBytes = libraryBytes(*cinfo);

  const int storedWidth = static_cast<int>(cinfo->output_width);
  const int storedHeight = static_cast<int>(cinfo->output_height);
  const bool turned = orientationSwapsSides(s->orientation);
  s->context->width = turned ? storedHeight : storedWidth;
  s->context->height = turned ? storedWidth : storedHeight;
  s->context->rasterDepth = 24;
  s->context->sourceDepth = cinfo->output_components * 8;
  s->context->rowByRow = true;
  s->context->orientation = s->orientation;
  if (s->fourComponents || s->orientation != 1) {
    const std::size_t rowBytes =
        static_cast<std::size_t>(storedWidth) * static_cast<std::size_t>(cinfo->output_components);
    s->scratch.reset(new (std::nothrow) JSAMPLE[rowBytes]);
    if (s->scratch == nullptr) return false;
  }
  return true;
}

// Starts the decompression, under the library's own ceiling on what it may
// allocate should the estimate fall short. Called within a setjmp guard;
// the data is refused whole when this fails.
void startDecompress(JpegState* s) {
  j_decompress_ptr cinfo = &s->cinfo;
  const std::uint64_t ceiling = std::min<std::uint64_t>(
      budgetLeft(s->context->memoryBudget, s->context->outputBytes), 2 * s->context->decoderBytes);
  cinfo->mem->max_memory_to_use = static_cast<long>(std::min<std::uint64_t>(ceiling, LONG_MAX));
  jpeg_start_decompress(cinfo);
  s->started = true;
}

// Whether the data that ended early cost the picture anything. A file of one
// scan whose rows all decoded without the library missing a bit lacked only
// its end marker (the decoder reads a little ahead); a file of several scans
// may have lost whole scans without a word from the library.
void noteShortData(JpegState* s) {
  if (s->dataEnded && (s->missedData || s->multiScan)) s->context->ranShort = true;
}

// Whether any of the picture came from the data, however the decode ended:
// the rows of blocks read before the data ran out, else the rows delivered
// before the library gave up.
void noteRowsArrived(JpegState* s) {
  s->context->rowsArrived = s->dataEnded ? s->dataBeforeEnd : s->started && s->cinfo.output_scanline > 0;
}

// Rounded v / 255 for v in 0 .. 255 * 255.
inline std::uint8_t divide255(unsigned v) {
  return static_cast<std::uint8_t>((v + 128 + ((v + 128) >> 8)) >> 8);
}

// The pixel at `in` as blue, green, red; `in` moves on to the next.
inline void nextPixel(const JpegState* s, const JSAMPLE*& in, std::uint8_t& b, std::uint8_t& g,
                      std::uint8_t& r) {
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
    nextPixel(s, in, b, g, r);
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
  if (setjmp(s->error.jump) != 0) {
    s->context->rejected = !s->started;
    noteRowsArrived(s);
    return false;
  }
  startDecompress(s);
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
  noteShortData(s);
  noteRowsArrived(s);
  return true;
}

// The rows as stored, one at a time, into the sink; the sink turns them.
bool guardedRows(JpegState* s, RowSink& sink) {
  j_decompress_ptr cinfo = &s->cinfo;
  if (setjmp(s->error.jump) != 0) {
    s->context->rejected = !s->started;
    noteRowsArrived(s);
    return false;
  }
  startDecompress(s);
  const int width = static_cast<int>(cinfo->output_width);
  while (cinfo->output_scanline < cinfo->output_height) {
    if (stopRequested(*s->context)) return false;
    // One row per call: a row the library gives up in is the one not done.
    JSAMPROW row = s->fourComponents ? s->scratch.get() : sink.nextRow();
    if (jpeg_read_scanlines(cinfo, &row, 1) != 1) return false;
    if (s->fourComponents) {
      const JSAMPLE* in = s->scratch.get();
      std::uint8_t* out = sink.nextRow();
      for (int x = 0; x < width; ++x, out += 3) nextPixel(s, in, out[0], out[1], out[2]);
    }
    sink.rowDone();
  }
  jpeg_finish_decompress(cinfo);
  noteShortData(s);
  noteRowsArrived(s);
  return true;
}

bool probeJpeg(DecoderContext& context) {
  std::uint8_t start[2] = {};
  if (!context.input->copy(0, start) || start[0] != 0xFF || start[1] != 0xD8) return false;
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

bool decodeJpegRows(DecoderContext& context, RowSink& sink) {
  auto* s = static_cast<JpegState*>(context.state);
  if (s == nullptr) return false;
  return guardedRows(s, sink);
}

void closeJpeg(DecoderContext& context) {
  auto* s = static_cast<JpegState*>(context.state);
  if (s == nullptr) return;
  // Destroying a structure the library never set up is harmless: it was zeroed.
  jpeg_destroy_decompress(&s->cinfo);
  delete s;
  context.state = nullptr;
}

constexpr Decoder kJpegDecoder{probeJpeg, decodeJpeg, closeJpeg, decodeJpegRows};

}  // namespace

const Decoder& jpegDecoder() {
  return kJpegDecoder;
}

}  // namespace pixmoor::image
