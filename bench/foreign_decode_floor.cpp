// The decode floor of bench/foreign_vs_peers.sh: every file named on the
// command line decoded whole into memory by its library's plain API, in this
// one process, and the pixels thrown away. Nothing is resized or written, so
// its time is what reading these files costs at least; the companion's
// time over it is what the helper process, the reduction and the encode add.
//
//   foreign_decode_floor FILE...   (.webp, .tif/.tiff, .heic/.heif, .avif)
//
// WebP: WebPDecodeRGB. TIFF: 8-bit contiguous RGB or grey strips (what the
// benchmark's LZW files hold) read with TIFFReadEncodedStrip into one
// buffer, anything else with TIFFReadRGBAImage. HEIF: the primary image,
// heif_decode_image to interleaved RGB. AVIF: avifDecoderReadFile, then
// avifImageYUVToRGB to 8-bit RGB. Each library keeps its default threading.
// Exits 1 naming the first file it cannot decode.
#include <avif/avif.h>
#include <libheif/heif.h>
#include <tiffio.h>
#include <webp/decode.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool endsWith(std::string_view name, std::string_view suffix) {
  if (name.size() < suffix.size()) return false;
  const std::string_view tail = name.substr(name.size() - suffix.size());
  for (std::size_t i = 0; i < tail.size(); ++i) {
    const char c = tail[i] >= 'A' && tail[i] <= 'Z' ? static_cast<char>(tail[i] - 'A' + 'a') : tail[i];
    if (c != suffix[i]) return false;
  }
  return true;
}

bool decodeWebp(const char* path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  int width = 0;
  int height = 0;
  std::uint8_t* pixels = WebPDecodeRGB(bytes.data(), bytes.size(), &width, &height);
  if (pixels == nullptr) return false;
  WebPFree(pixels);
  return true;
}

bool decodeTiff(const char* path) {
  TIFF* tiff = TIFFOpen(path, "r");
  if (tiff == nullptr) return false;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint16_t bits = 0;
  std::uint16_t planar = PLANARCONFIG_CONTIG;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  bool ok = true;
  if (!TIFFIsTiled(tiff) && bits == 8 && planar == PLANARCONFIG_CONTIG) {
    // The strips' own bytes, no conversion: the least a reader must do.
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(TIFFStripSize(tiff)) *
                                     TIFFNumberOfStrips(tiff));
    std::size_t at = 0;
    for (tstrip_t strip = 0; ok && strip < TIFFNumberOfStrips(tiff); ++strip) {
      const tmsize_t got = TIFFReadEncodedStrip(tiff, strip, pixels.data() + at, -1);
      ok = got >= 0;
      at += static_cast<std::size_t>(got);
    }
  } else {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    ok = TIFFReadRGBAImage(tiff, width, height, pixels.data(), 0) == 1;
  }
  TIFFClose(tiff);
  return ok;
}

bool decodeHeif(const char* path) {
  heif_context* context = heif_context_alloc();
  heif_image_handle* handle = nullptr;
  heif_image* image = nullptr;
  bool ok =
      heif_context_read_from_file(context, path, nullptr).code == heif_error_Ok &&
      heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok &&
      heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code ==
          heif_error_Ok;
  if (image != nullptr) heif_image_release(image);
  if (handle != nullptr) heif_image_handle_release(handle);
  heif_context_free(context);
  return ok;
}

bool decodeAvif(const char* path) {
  avifDecoder* decoder = avifDecoderCreate();
  avifImage* image = avifImageCreateEmpty();
  bool ok = avifDecoderReadFile(decoder, image, path) == AVIF_RESULT_OK;
  if (ok) {
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, image);
    rgb.format = AVIF_RGB_FORMAT_RGB;
    rgb.depth = 8;
    avifRGBImageAllocatePixels(&rgb);
    ok = avifImageYUVToRGB(image, &rgb) == AVIF_RESULT_OK;
    avifRGBImageFreePixels(&rgb);
  }
  avifImageDestroy(image);
  avifDecoderDestroy(decoder);
  return ok;
}

bool decode(const char* path) {
  const std::string_view name = path;
  if (endsWith(name, ".webp")) return decodeWebp(path);
  if (endsWith(name, ".tif") || endsWith(name, ".tiff")) return decodeTiff(path);
  if (endsWith(name, ".heic") || endsWith(name, ".heif")) return decodeHeif(path);
  if (endsWith(name, ".avif")) return decodeAvif(path);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  heif_init(nullptr);
  TIFFSetWarningHandler(nullptr);
  int status = 0;
  for (int i = 1; i < argc && status == 0; ++i) {
    if (!decode(argv[i])) {
      std::fprintf(stderr, "foreign_decode_floor: cannot decode %s\n", argv[i]);
      status = 1;
    }
  }
  heif_deinit();
  return status;
}
