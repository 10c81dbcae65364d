// Decoding speed of the JPEG reader on a 12-megapixel photo-like picture
// (4256 x 2832, quality 90, 4:2:0), made at start-up with libjpeg.
//
// DecodeIntoStore is what a batch pays per picture once the file is in
// memory; LoadFile adds reading the file; LibjpegAlone is the library by
// itself with the same settings (accurate integer IDCT, B G R output) into
// a fresh plain buffer, the floor the reader is measured against;
// LibjpegReusedBuffer keeps one buffer, showing what fresh memory costs.
// With PIXMOOR_BENCH_JPEG set to a path, the picture is also written there
// (bench/decode_vs_djpeg.sh times djpeg on that file).
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "codecs/format_registry.h"
#include "image_store/image_store.h"

namespace pixmoor::image {
namespace {

constexpr int kWidth = 4256;
constexpr int kHeight = 2832;
constexpr double kMegapixels = kWidth * static_cast<double>(kHeight) / 1e6;

std::vector<std::uint8_t> makePhotoJpeg() {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(kWidth) * kHeight * 3);
  unsigned seed = 2463534242u;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
      const double grain = static_cast<double>(seed & 15) - 7.5;
      const double shade = 90.0 * x / kWidth + 60.0 * y / kHeight;
      const double texture =
          35.0 * std::sin(x / 37.0) * std::cos(y / 53.0) + 12.0 * std::sin((x + 2 * y) / 9.0);
      for (int c = 0; c < 3; ++c) {
        const double v = 40.0 + shade + texture * (1.0 - 0.3 * c) + grain + 25.0 * c * std::sin(y / 211.0);
        rgb[(static_cast<std::size_t>(y) * kWidth + x) * 3 + c] =
            static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
      }
    }
  }
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = kWidth;
  cinfo.image_height = kHeight;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = &rgb[static_cast<std::size_t>(cinfo.next_scanline) * kWidth * 3];
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<std::uint8_t> out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

const std::vector<std::uint8_t>& photoJpeg() {
  static const std::vector<std::uint8_t> jpeg = [] {
    auto bytes = makePhotoJpeg();
    if (const char* path = std::getenv("PIXMOOR_BENCH_JPEG"); path != nullptr && *path != '\0') {
      std::ofstream(path, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    return bytes;
  }();
  return jpeg;
}

void setRate(benchmark::State& state) {
  state.counters["MP/s"] = benchmark::Counter(kMegapixels, benchmark::Counter::kIsIterationInvariantRate);
}

void DecodeIntoStore(benchmark::State& state) {
  registerJpegDecoder();
  const auto& jpeg = photoJpeg();
  ImageStore store;
  for (auto _ : state) {
    const auto handle = store.loadFromMemory(kWorkingPicture, jpeg);
    if (handle == 0) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(handle);
    store.release(kWorkingPicture);
  }
  setRate(state);
}

void LoadFile(benchmark::State& state) {
  registerJpegDecoder();
  const auto& jpeg = photoJpeg();
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("pixmoor-decode-bench-" + std::to_string(::getpid()) + ".jpg"))
                               .string();
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
  ImageStore store;
  for (auto _ : state) {
    const auto handle = store.loadFromFile(kWorkingPicture, path);
    if (handle == 0) state.SkipWithError("load failed");
    store.release(kWorkingPicture);
  }
  std::filesystem::remove(path);
  setRate(state);
}

struct Jump {
  jpeg_error_mgr pub;
  std::jmp_buf buffer;
};

[[noreturn]] void jumpOut(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<Jump*>(cinfo->err)->buffer, 1);
}

bool libjpegDecode(const std::vector<std::uint8_t>& jpeg, std::vector<std::uint8_t>& out) {
  jpeg_decompress_struct cinfo{};
  Jump error{};
  cinfo.err = jpeg_std_error(&error.pub);
  error.pub.error_exit = jumpOut;
  if (setjmp(error.buffer) != 0) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.dct_method = JDCT_ISLOW;
  cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&cinfo);
  const std::size_t stride = (cinfo.output_width * 3 + 3) & ~std::size_t{3};
  out.resize(stride * cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out.data() + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

void LibjpegAlone(benchmark::State& state) {
  const auto& jpeg = photoJpeg();
  std::vector<std::uint8_t> out;
  for (auto _ : state) {
    if (!libjpegDecode(jpeg, out)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(out.data());
    // A fresh buffer each time, as the store makes a fresh raster.
    std::vector<std::uint8_t>().swap(out);
  }
  setRate(state);
}

// The same into one buffer kept across iterations: no fresh pages to fault in.
void LibjpegReusedBuffer(benchmark::State& state) {
  const auto& jpeg = photoJpeg();
  std::vector<std::uint8_t> out;
  for (auto _ : state) {
    if (!libjpegDecode(jpeg, out)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(out.data());
  }
  setRate(state);
}

BENCHMARK(DecodeIntoStore)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(LoadFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(LibjpegAlone)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(LibjpegReusedBuffer)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace pixmoor::image

BENCHMARK_MAIN();
