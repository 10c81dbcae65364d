#include "encoders/avif_writer.h"

#include <avif/avif.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace pixmoor::image {
namespace {

struct ImageDestroy {
  void operator()(avifImage* image) const { avifImageDestroy(image); }
};
struct EncoderDestroy {
  void operator()(avifEncoder* encoder) const { avifEncoderDestroy(encoder); }
};

struct EncodedHolder {
  avifRWData data = AVIF_DATA_EMPTY;
  EncodedHolder() = default;
  ~EncodedHolder() { avifRWDataFree(&data); }
  EncodedHolder(const EncodedHolder&) = delete;
  EncodedHolder& operator=(const EncodedHolder&) = delete;
};

SaveStatus statusOf(avifResult result) {
  switch (result) {
    case AVIF_RESULT_OK:
      return SaveStatus::saved;
    case AVIF_RESULT_OUT_OF_MEMORY:
      return SaveStatus::outOfMemory;
    case AVIF_RESULT_NO_CODEC_AVAILABLE:
      return SaveStatus::noEncoder;
    default:
      return SaveStatus::writeFailed;
  }
}

}  // namespace

SaveStatus writeAvifAtSpeed(TempOutput& out, const RowSource& rows, int quality, int speed,
                            const CancelFlag* cancel) {
  if (rows.width <= 0 || rows.height <= 0 || (rows.bytesPerPixel != 3 && rows.bytesPerPixel != 4))
    return SaveStatus::badRequest;
  if (cancelled(cancel)) return SaveStatus::cancelled;

  const std::unique_ptr<avifImage, ImageDestroy> image(
      avifImageCreate(static_cast<std::uint32_t>(rows.width), static_cast<std::uint32_t>(rows.height), 8,
                      AVIF_PIXEL_FORMAT_YUV420));
  image->yuvRange = AVIF_RANGE_FULL;
  image->matrixCoefficients = AVIF_MATRIX_COEFFICIENTS_BT601;
  if (rows.iccProfile.empty()) {
    image->colorPrimaries = AVIF_COLOR_PRIMARIES_BT709;
    image->transferCharacteristics = AVIF_TRANSFER_CHARACTERISTICS_SRGB;
  } else {
    // The profile says it; code points would only compete with it.
    avifImageSetProfileICC(image.get(), rows.iccProfile.data(), rows.iccProfile.size());
  }
  if (!rows.exif.empty()) avifImageSetMetadataExif(image.get(), rows.exif.data(), rows.exif.size());

  // libavif reads rows top down and at a positive distance: a bottom-up
  // raster is copied into that order first.
  const std::size_t rowBytes =
      static_cast<std::size_t>(rows.width) * static_cast<std::size_t>(rows.bytesPerPixel);
  std::vector<std::uint8_t> topDown;
  try {
    topDown.resize(rowBytes * static_cast<std::size_t>(rows.height));
  } catch (const std::bad_alloc&) {
    return SaveStatus::outOfMemory;
  }
  for (int y = 0; y < rows.height; ++y) {
    if (cancelled(cancel)) return SaveStatus::cancelled;
    std::memcpy(topDown.data() + rowBytes * static_cast<std::size_t>(y), rows.row(y), rowBytes);
  }
  avifRGBImage rgb;
  avifRGBImageSetDefaults(&rgb, image.get());
  rgb.format = rows.bytesPerPixel == 4 ? AVIF_RGB_FORMAT_BGRA : AVIF_RGB_FORMAT_BGR;
  rgb.depth = 8;
  rgb.pixels = topDown.data();
  rgb.rowBytes = static_cast<std::uint32_t>(rowBytes);
  if (const avifResult converted = avifImageRGBToYUV(image.get(), &rgb); converted != AVIF_RESULT_OK)
    return statusOf(converted);
  std::vector<std::uint8_t>().swap(topDown);  // the encoder needs the memory more

  const std::unique_ptr<avifEncoder, EncoderDestroy> encoder(avifEncoderCreate());
  encoder->codecChoice = AVIF_CODEC_CHOICE_AOM;
  encoder->maxThreads = 1;
  encoder->speed = speed;
  const int quantizer = avifQuantizer(quality);
  encoder->minQuantizer = quantizer;
  encoder->maxQuantizer = quantizer;
  encoder->minQuantizerAlpha = quantizer;
  encoder->maxQuantizerAlpha = quantizer;
  if (cancelled(cancel)) return SaveStatus::cancelled;
  EncodedHolder encoded;
  const avifResult result = avifEncoderWrite(encoder.get(), image.get(), &encoded.data);
  if (cancelled(cancel)) return SaveStatus::cancelled;
  if (result != AVIF_RESULT_OK) return statusOf(result);
  return out.write(encoded.data.data, encoded.data.size) ? SaveStatus::saved : SaveStatus::writeFailed;
}

SaveStatus writeAvif(TempOutput& out, const RowSource& rows, int quality, int /*depth*/,
                     const CancelFlag* cancel) {
  return writeAvifAtSpeed(out, rows, quality, kAvifSpeed, cancel);
}

void registerAvifEncoder() {
  static std::once_flag once;
  std::call_once(once, [] { addEncoder(Encoder{kAvifEncoder, writeAvif, writeAvif}); });
}

}  // namespace pixmoor::image
