// Resampling speed, with the decode of a JPEG of the same size measured in
// the same run as the yardstick: reducing a 6000 x 4000 photograph to
// 1920 x 1280 should cost well under a quarter of decoding it.
//
//   resample_bench --benchmark_filter=...   (all by default)
#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "image/raster.h"
#include "image/thread_budget.h"
#include "resample/resample.h"
#include "resample/resample_kernels.h"

namespace {

using pixmoor::image::makeRaster;
using pixmoor::image::Raster;

// Something like a photograph: smooth gradients and soft shapes plus sensor
// noise, so that the JPEG carries a realistic amount of detail.
std::unique_ptr<Raster> syntheticPhoto(int width, int height, int depth) {
  auto raster = makeRaster(width, height, depth);
  if (!raster) std::abort();
  std::mt19937 rng(1);
  std::uniform_int_distribution<int> noise(-12, 12);
  const int bpp = raster->bytesPerPixel();
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = raster->pictureRow(y);
    for (int x = 0; x < width; ++x) {
      const double u = static_cast<double>(x) / width;
      const double v = static_cast<double>(y) / height;
      const double wave = 40.0 * std::sin(u * 37.0 + v * 11.0) * std::cos(v * 23.0 - u * 5.0);
      const int base[3] = {static_cast<int>(60 + 120 * v + wave), static_cast<int>(90 + 100 * u - wave),
                           static_cast<int>(140 + 80 * u * v + 0.5 * wave)};
      for (int c = 0; c < 3; ++c) {
        row[x * bpp + c] = static_cast<std::uint8_t>(std::clamp(base[c] + noise(rng), 0, 255));
      }
      if (bpp == 4) row[x * bpp + 3] = static_cast<std::uint8_t>(x % 97 == 0 ? 0 : 255 - (y % 50));
    }
  }
  return raster;
}

std::vector<std::uint8_t> encodeJpeg(const Raster& picture, int quality) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(picture.width);
  cinfo.image_height = static_cast<JDIMENSION>(picture.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, FALSE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(picture.pictureRow(static_cast<int>(cinfo.next_scanline)));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<std::uint8_t> out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

// Decodes into a bottom-up B G R raster, as the program's reader does.
void decodeJpeg(const std::vector<std::uint8_t>& data, Raster& into) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&cinfo);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = into.pictureRow(static_cast<int>(cinfo.output_scanline));
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
}

const Raster& photo24() {
  static const std::unique_ptr<Raster> picture = syntheticPhoto(6000, 4000, 24);
  return *picture;
}

void BM_JpegDecode6000x4000(benchmark::State& state) {
  static const std::vector<std::uint8_t> jpeg = encodeJpeg(photo24(), 90);
  auto into = makeRaster(6000, 4000, 24);
  for (auto _ : state) {
    decodeJpeg(jpeg, *into);
    benchmark::DoNotOptimize(into->data());
  }
  state.counters["jpeg_MB"] = static_cast<double>(jpeg.size()) / 1e6;
}
BENCHMARK(BM_JpegDecode6000x4000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Argument: threads (0 = the default count).
void BM_OpaqueReduce6000x4000To1920x1280(benchmark::State& state) {
  const Raster& source = photo24();
  auto target = makeRaster(1920, 1280, 24);
  const int threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    if (!pixmoor::image::resampleOpaqueThreads(source, *target, nullptr, threads))
      state.SkipWithError("failed");
    benchmark::DoNotOptimize(target->data());
  }
  state.counters["threads"] = threads > 0 ? threads : pixmoor::image::defaultThreads();
}
BENCHMARK(BM_OpaqueReduce6000x4000To1920x1280)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// A common smaller step (each target covers one or two source pixels), one thread.
void BM_OpaqueReduce2560x1600To1920x1200(benchmark::State& state) {
  auto source = syntheticPhoto(2560, 1600, 24);
  auto target = makeRaster(1920, 1200, 24);
  for (auto _ : state) {
    if (!pixmoor::image::resampleOpaqueThreads(*source, *target, nullptr, 1)) state.SkipWithError("failed");
    benchmark::DoNotOptimize(target->data());
  }
}
BENCHMARK(BM_OpaqueReduce2560x1600To1920x1200)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpaqueEnlarge1920x1280To3000x2000(benchmark::State& state) {
  auto source = syntheticPhoto(1920, 1280, 24);
  auto target = makeRaster(3000, 2000, 24);
  const int threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    if (!pixmoor::image::resampleOpaqueThreads(*source, *target, nullptr, threads))
      state.SkipWithError("failed");
    benchmark::DoNotOptimize(target->data());
  }
}
BENCHMARK(BM_OpaqueEnlarge1920x1280To3000x2000)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MitchellReduce4000x3000To1920x1440(benchmark::State& state) {
  auto source = syntheticPhoto(4000, 3000, 32);
  auto target = makeRaster(1920, 1440, 32);
  const int threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    if (!pixmoor::image::resampleSmoothThreads(*source, *target, nullptr, threads))
      state.SkipWithError("failed");
    benchmark::DoNotOptimize(target->data());
  }
}
BENCHMARK(BM_MitchellReduce4000x3000To1920x1440)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_RawStretch6000x4000To1920x1280(benchmark::State& state) {
  const Raster& source = photo24();
  auto target = makeRaster(1920, 1280, 24);
  for (auto _ : state) {
    pixmoor::image::stretchRaw(source, *target);
    benchmark::DoNotOptimize(target->data());
  }
}
BENCHMARK(BM_RawStretch6000x4000To1920x1280)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
