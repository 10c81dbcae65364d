#include "encoders/jpeg_writer.h"

#include <csetjmp>
#include <cstdio>
#include <mutex>
#include <new>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it.
#include <jerror.h>
#include <jpeglib.h>

#include "metadata/exif_editor.h"
#include "metadata/icc_profile.h"

namespace pixmoor::image {
namespace {

constexpr std::size_t kDestinationSize = 64 * 1024;

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

struct Destination {
  jpeg_destination_mgr pub;
  TempOutput* out;
  JOCTET* buffer;
};

// Everything the compression needs, held by the caller so that the function
// with setjmp has no locals of its own worth restoring.
struct JpegJob {
  jpeg_compress_struct cinfo;
  ErrorManager error;
  Destination destination;
  const RowSource* rows;
  const CancelFlag* cancel;
  int libraryQuality;
  SaveStatus status;
};

[[noreturn]] void onError(j_common_ptr cinfo) {
  auto* error = reinterpret_cast<ErrorManager*>(cinfo->err);
  std::longjmp(error->jump, 1);
}

// Warnings and traces stay quiet: failures are reported as values.
void onMessage(j_common_ptr) {}

void initDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kDestinationSize;
}

boolean emptyOutputBuffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  // libjpeg asks for the whole buffer to be emptied, whatever
  // free_in_buffer says.
  if (!dest->out->write(dest->buffer, kDestinationSize)) ERREXIT(cinfo, JERR_FILE_WRITE);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kDestinationSize;
  return TRUE;
}

void termDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  const std::size_t used = kDestinationSize - dest->pub.free_in_buffer;
  if (used > 0 && !dest->out->write(dest->buffer, used)) ERREXIT(cinfo, JERR_FILE_WRITE);
}

// The one function that holds the setjmp. Its only local state lives in
// `job`, which outlives the jump.
void compress(JpegJob& job) {
  j_compress_ptr cinfo = &job.cinfo;
  cinfo->err = jpeg_std_error(&job.error.pub);
  job.error.pub.error_exit = onError;
  job.error.pub.output_message = onMessage;
  job.status = SaveStatus::writeFailed;
  if (setjmp(job.error.jump) != 0) {
    // A failed write is left for the output to explain: it knows why.
    if (job.error.pub.msg_code == JERR_OUT_OF_MEMORY) job.status = SaveStatus::outOfMemory;
    jpeg_destroy_compress(cinfo);
    return;
  }
  jpeg_create_compress(cinfo);
  job.destination.pub.init_destination = initDestination;
  job.destination.pub.empty_output_buffer = emptyOutputBuffer;
  job.destination.pub.term_destination = termDestination;
  cinfo->dest = &job.destination.pub;

  cinfo->image_width = static_cast<JDIMENSION>(job.rows->width);
  cinfo->image_height = static_cast<JDIMENSION>(job.rows->height);
  cinfo->input_components = 3;
  // libjpeg-turbo reads B G R itself: no conversion copy per row.
  cinfo->in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, job.libraryQuality, FALSE);
  jpeg_start_compress(cinfo, TRUE);
  // The EXIF block as an APP1 segment after the JFIF header, marked as
  // readers look for it; one too large for a segment is never cut.
  const auto exif = job.rows->exif;
  if (!exif.empty() && exif.size() <= kMaxJpegExifBytes) {
    jpeg_write_m_header(cinfo, JPEG_APP0 + 1, static_cast<unsigned int>(exif.size() + 6));
    for (const char mark : {'E', 'x', 'i', 'f', '\0', '\0'}) jpeg_write_m_byte(cinfo, mark);
    for (const std::uint8_t byte : exif) jpeg_write_m_byte(cinfo, byte);
  }
  // The source's colour profile, as APP2 segments after the JFIF header
  // (one that would not fit them is left out rather than failing the file).
  const auto profile = job.rows->iccProfile;
  if (!profile.empty() && profile.size() <= kMaxIccProfileBytes) {
    jpeg_write_icc_profile(cinfo, profile.data(), static_cast<unsigned int>(profile.size()));
  }

  for (int y = 0; y < job.rows->height; ++y) {
    if (cancelled(job.cancel)) {
      job.status = SaveStatus::cancelled;
      jpeg_destroy_compress(cinfo);
      return;
    }
    // libjpeg only reads the rows it is given.
    JSAMPROW row = const_cast<JSAMPROW>(job.rows->row(y));
    jpeg_write_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_compress(cinfo);
  jpeg_destroy_compress(cinfo);
  job.status = SaveStatus::saved;
}

}  // namespace

SaveStatus writeJpeg(TempOutput& out, const RowSource& rows, int quality, int /*depth*/,
                     const CancelFlag* cancel) {
  if (rows.bytesPerPixel != 3 || rows.width <= 0 || rows.height <= 0) return SaveStatus::badRequest;
  std::vector<JOCTET> buffer;
  try {
    buffer.resize(kDestinationSize);
  } catch (const std::bad_alloc&) {
    return SaveStatus::outOfMemory;
  }
  JpegJob job{};
  job.destination.out = &out;
  job.destination.buffer = buffer.data();
  job.rows = &rows;
  job.cancel = cancel;
  job.libraryQuality = jpegLibraryQuality(quality);
  compress(job);
  if (job.status == SaveStatus::saved && out.failed()) return SaveStatus::writeFailed;
  return job.status;
}

void registerJpegEncoder() {
  static std::once_flag once;
  std::call_once(once, [] { addEncoder(Encoder{kJpegEncoder, writeJpeg, nullptr}); });
}

}  // namespace pixmoor::image
