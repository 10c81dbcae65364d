#include "encoders/webp_writer.h"

#include <webp/encode.h>
#include <webp/mux.h>

#include <memory>
#include <mutex>

namespace pixmoor::image {
namespace {

struct PictureHolder {
  WebPPicture picture;
  PictureHolder() { WebPPictureInit(&picture); }
  ~PictureHolder() { WebPPictureFree(&picture); }
  PictureHolder(const PictureHolder&) = delete;
  PictureHolder& operator=(const PictureHolder&) = delete;
};

struct MemoryWriterHolder {
  WebPMemoryWriter writer;
  MemoryWriterHolder() { WebPMemoryWriterInit(&writer); }
  ~MemoryWriterHolder() { WebPMemoryWriterClear(&writer); }
  MemoryWriterHolder(const MemoryWriterHolder&) = delete;
  MemoryWriterHolder& operator=(const MemoryWriterHolder&) = delete;
};

struct DataHolder {
  WebPData data;
  DataHolder() { WebPDataInit(&data); }
  ~DataHolder() { WebPDataClear(&data); }
  DataHolder(const DataHolder&) = delete;
  DataHolder& operator=(const DataHolder&) = delete;
};

struct MuxDelete {
  void operator()(WebPMux* mux) const { WebPMuxDelete(mux); }
};

int keepGoing(int /*percent*/, const WebPPicture* picture) {
  return cancelled(static_cast<const CancelFlag*>(picture->user_data)) ? 0 : 1;
}

int toOutput(const std::uint8_t* data, std::size_t size, const WebPPicture* picture) {
  return static_cast<TempOutput*>(picture->custom_ptr)->write(data, size) ? 1 : 0;
}

SaveStatus statusOf(WebPEncodingError error) {
  switch (error) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY:
      return SaveStatus::outOfMemory;
    case VP8_ENC_ERROR_USER_ABORT:
      return SaveStatus::cancelled;
    case VP8_ENC_ERROR_BAD_DIMENSION:
      return SaveStatus::badRequest;
    default:
      return SaveStatus::writeFailed;
  }
}

// The bitstream with the picture's ICC profile and EXIF block beside it, in
// the extended layout (VP8X) that libwebpmux makes.
SaveStatus writeWithMetadata(TempOutput& out, const RowSource& rows, const WebPMemoryWriter& bitstream) {
  const std::unique_ptr<WebPMux, MuxDelete> mux(WebPMuxNew());
  if (!mux) return SaveStatus::outOfMemory;
  const WebPData image{bitstream.mem, bitstream.size};
  WebPMuxError error = WebPMuxSetImage(mux.get(), &image, 0);
  if (error == WEBP_MUX_OK && !rows.iccProfile.empty()) {
    const WebPData icc{rows.iccProfile.data(), rows.iccProfile.size()};
    error = WebPMuxSetChunk(mux.get(), "ICCP", &icc, 0);
  }
  if (error == WEBP_MUX_OK && !rows.exif.empty()) {
    const WebPData exif{rows.exif.data(), rows.exif.size()};
    error = WebPMuxSetChunk(mux.get(), "EXIF", &exif, 0);
  }
  DataHolder assembled;
  if (error == WEBP_MUX_OK) error = WebPMuxAssemble(mux.get(), &assembled.data);
  if (error == WEBP_MUX_MEMORY_ERROR) return SaveStatus::outOfMemory;
  if (error != WEBP_MUX_OK) return SaveStatus::writeFailed;
  return out.write(assembled.data.bytes, assembled.data.size) ? SaveStatus::saved : SaveStatus::writeFailed;
}

SaveStatus encode(TempOutput& out, const RowSource& rows, WebPConfig& config, const CancelFlag* cancel) {
  if (rows.width <= 0 || rows.height <= 0 || (rows.bytesPerPixel != 3 && rows.bytesPerPixel != 4))
    return SaveStatus::badRequest;
  if (rows.width > WEBP_MAX_DIMENSION || rows.height > WEBP_MAX_DIMENSION) return SaveStatus::badRequest;
  if (cancelled(cancel)) return SaveStatus::cancelled;
  // One thread: the batch's budget of threads counts the pool threads that
  // encode, not threads of the library's.
  config.thread_level = 0;
  if (WebPValidateConfig(&config) == 0) return SaveStatus::badRequest;

  PictureHolder holder;
  WebPPicture& picture = holder.picture;
  picture.width = rows.width;
  picture.height = rows.height;
  // Imported as ARGB only where the encoder needs it (lossless, sharp YUV),
  // else straight to YUV, as cwebp does: the same bytes for the same work.
  picture.use_argb = config.lossless != 0 || config.use_sharp_yuv != 0 ? 1 : 0;
  // The rows from the top picture row down, however they lie in memory.
  const std::uint8_t* top = rows.row(0);
  const int stride = rows.bottomUp ? -rows.stride : rows.stride;
  const int imported = rows.bytesPerPixel == 4 ? WebPPictureImportBGRA(&picture, top, stride)
                                               : WebPPictureImportBGR(&picture, top, stride);
  if (imported == 0) {
    return picture.error_code == VP8_ENC_OK ? SaveStatus::outOfMemory : statusOf(picture.error_code);
  }
  picture.progress_hook = keepGoing;
  picture.user_data = const_cast<CancelFlag*>(cancel);

  const bool metadata = !rows.iccProfile.empty() || !rows.exif.empty();
  MemoryWriterHolder bitstream;
  if (metadata) {
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &bitstream.writer;
  } else {
    picture.writer = toOutput;
    picture.custom_ptr = &out;
  }
  if (WebPEncode(&config, &picture) == 0) {
    // A Stop during the last steps may come back as another error.
    if (cancelled(cancel)) return SaveStatus::cancelled;
    // libwebp's memory writer fails only for want of memory.
    if (metadata && picture.error_code == VP8_ENC_ERROR_BAD_WRITE) return SaveStatus::outOfMemory;
    return statusOf(picture.error_code);
  }
  if (cancelled(cancel)) return SaveStatus::cancelled;
  return metadata ? writeWithMetadata(out, rows, bitstream.writer) : SaveStatus::saved;
}

}  // namespace

SaveStatus writeWebp(TempOutput& out, const RowSource& rows, int quality, int /*depth*/,
                     const CancelFlag* cancel) {
  WebPConfig config;
  if (WebPConfigInit(&config) == 0) return SaveStatus::badRequest;  // a library of another interface
  config.quality = static_cast<float>(webpLibraryQuality(quality));
  config.method = kWebpMethod;
  config.use_sharp_yuv = quality >= kWebpSharpYuvFrom ? 1 : 0;
  return encode(out, rows, config, cancel);
}

SaveStatus writeWebpLossless(TempOutput& out, const RowSource& rows, int quality, int /*depth*/,
                             const CancelFlag* cancel) {
  WebPConfig config;
  if (WebPConfigInit(&config) == 0) return SaveStatus::badRequest;
  const int level = quality < 0 ? 0 : quality > kWebpLosslessLevelMost ? kWebpLosslessLevelMost : quality;
  if (WebPConfigLosslessPreset(&config, level) == 0) return SaveStatus::badRequest;
  // Lossless means every pixel, the colour of transparent ones too.
  config.exact = 1;
  return encode(out, rows, config, cancel);
}

void registerWebpEncoder() {
  static std::once_flag once;
  std::call_once(once, [] {
    addEncoder(Encoder{kWebpEncoder, writeWebp, writeWebp});
    addEncoder(Encoder{kWebpLosslessEncoder, writeWebpLossless, writeWebpLossless});
  });
}

}  // namespace pixmoor::image
