// Writing speed of the encoders on a 1920 x 1280 picture with photo-like
// content: smooth shading, texture of a few scales and a little grain; and
// of one 12-megapixel output (4000 x 3000) in JPEG, WebP and AVIF, with
// AVIF at each speed worth considering, one encode each (seconds apiece).
//
// The Write* cases run a writer into a temporary file that is then thrown
// away (page cache only); SaveJpeg adds what a real save costs on top:
// flushing to disk and the rename.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>

#include "encoders/avif_writer.h"
#include "encoders/encode.h"
#include "encoders/encoder_registry.h"
#include "encoders/jpeg_writer.h"
#include "encoders/neuquant.h"
#include "encoders/png_writer.h"
#include "encoders/temp_output.h"
#include "encoders/webp_writer.h"
#include "image/raster.h"

namespace pixmoor::image {
namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1280;

std::unique_ptr<Raster> photo(int depth, int width = kWidth, int height = kHeight) {
  auto raster = makeRaster(width, height, depth);
  const int bpp = raster->bytesPerPixel();
  unsigned seed = 2463534242u;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = raster->pictureRow(y);
    for (int x = 0; x < width; ++x) {
      seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
      const double grain = static_cast<double>(seed & 15) - 7.5;
      const double shade = 90.0 * x / width + 60.0 * y / height;
      const double texture =
          35.0 * std::sin(x / 37.0) * std::cos(y / 53.0) + 12.0 * std::sin((x + 2 * y) / 9.0);
      const double channels[3] = {shade + texture + grain + 20, 1.2 * shade - texture + grain + 10,
                                  0.8 * shade + 0.5 * texture + grain + 60};
      for (int c = 0; c < 3; ++c) {
        row[x * bpp + c] = static_cast<std::uint8_t>(std::clamp(channels[c], 0.0, 255.0));
      }
      if (bpp == 4) row[x * bpp + 3] = static_cast<std::uint8_t>(255 - (x + y) % 128);
    }
  }
  return raster;
}

RowSource rowsOf(const Raster& r) {
  return RowSource{r.data(), r.width, r.height, r.stride, r.bytesPerPixel(), true};
}

// A folder of our own for the output, removed when the program ends.
struct Scratch {
  std::string path;
  Scratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pixmoor-bench-XXXXXX").string();
    path = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
  }
  ~Scratch() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
};

std::string scratchFolder() {
  static const Scratch scratch;
  return scratch.path.empty() ? std::string(".") : scratch.path;
}

template <typename Writer>
void runWriter(benchmark::State& state, const Raster& raster, Writer write) {
  const RowSource rows = rowsOf(raster);
  std::uint64_t bytes = 0;
  for (auto _ : state) {
    auto out = TempOutput::create(scratchFolder() + "/bench.out");
    if (!out || write(*out, rows) != SaveStatus::saved) {
      state.SkipWithError("write failed");
      break;
    }
    bytes = out->bytesWritten();
  }
  state.counters["file_kB"] = static_cast<double>(bytes) / 1024.0;
  state.SetItemsProcessed(state.iterations() * raster.width * raster.height);
}

void WriteJpeg(benchmark::State& state) {
  static const auto raster = photo(24);
  const int quality = static_cast<int>(state.range(0));
  runWriter(state, *raster, [quality](TempOutput& out, const RowSource& rows) {
    return writeJpeg(out, rows, quality, 24, nullptr);
  });
}
BENCHMARK(WriteJpeg)->Arg(8)->Arg(10)->Unit(benchmark::kMillisecond);

void WritePngRgb(benchmark::State& state) {
  static const auto raster = photo(24);
  runWriter(state, *raster,
            [](TempOutput& out, const RowSource& rows) { return writePngRgb(out, rows, 7, 24, nullptr); });
}
BENCHMARK(WritePngRgb)->Unit(benchmark::kMillisecond);

void WritePngRgba(benchmark::State& state) {
  static const auto raster = photo(32);
  runWriter(state, *raster,
            [](TempOutput& out, const RowSource& rows) { return writePngRgba(out, rows, 7, 32, nullptr); });
}
BENCHMARK(WritePngRgba)->Unit(benchmark::kMillisecond);

// The palette path: learning, mapping every pixel, packing, deflating.
void WritePngPalette(benchmark::State& state) {
  static const auto raster = photo(24);
  const int depth = static_cast<int>(state.range(0));
  runWriter(state, *raster, [depth](TempOutput& out, const RowSource& rows) {
    return writePngRgb(out, rows, 7, depth, nullptr);
  });
}
BENCHMARK(WritePngPalette)->Arg(8)->Arg(4)->Arg(1)->Unit(benchmark::kMillisecond);

// Learning alone, on the same B G R A copy the writer makes.
void LearnPalette(benchmark::State& state) {
  static const auto raster = photo(32);
  for (auto _ : state) {
    auto q = PaletteQuantizer::learn(raster->data(), static_cast<std::size_t>(kWidth) * kHeight, 256);
    benchmark::DoNotOptimize(q);
  }
}
BENCHMARK(LearnPalette)->Unit(benchmark::kMillisecond);

const Raster& photo12() {
  static const auto raster = photo(24, 4000, 3000);
  return *raster;
}

// Argument: the quality.
void Write12MpJpeg(benchmark::State& state) {
  const int quality = static_cast<int>(state.range(0));
  runWriter(state, photo12(), [quality](TempOutput& out, const RowSource& rows) {
    return writeJpeg(out, rows, quality, 24, nullptr);
  });
}
BENCHMARK(Write12MpJpeg)->Arg(8)->Iterations(1)->Unit(benchmark::kMillisecond);

void Write12MpWebp(benchmark::State& state) {
  const int quality = static_cast<int>(state.range(0));
  runWriter(state, photo12(), [quality](TempOutput& out, const RowSource& rows) {
    return writeWebp(out, rows, quality, 24, nullptr);
  });
}
BENCHMARK(Write12MpWebp)->Arg(5)->Arg(8)->Iterations(1)->Unit(benchmark::kMillisecond);

void Write12MpWebpLossless(benchmark::State& state) {
  const int quality = static_cast<int>(state.range(0));
  runWriter(state, photo12(), [quality](TempOutput& out, const RowSource& rows) {
    return writeWebpLossless(out, rows, quality, 24, nullptr);
  });
}
BENCHMARK(Write12MpWebpLossless)->Arg(6)->Iterations(1)->Unit(benchmark::kMillisecond);

// Arguments: the quality, the speed.
void Write12MpAvif(benchmark::State& state) {
  const int quality = static_cast<int>(state.range(0));
  const int speed = static_cast<int>(state.range(1));
  runWriter(state, photo12(), [quality, speed](TempOutput& out, const RowSource& rows) {
    return writeAvifAtSpeed(out, rows, quality, speed, nullptr);
  });
}
BENCHMARK(Write12MpAvif)
    ->Args({8, 6})
    ->Args({8, 7})
    ->Args({8, 8})
    ->Args({8, 9})
    ->Args({8, 10})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// A whole save as the batch does it, with fsync and rename.
void SaveJpeg(benchmark::State& state) {
  static const auto raster = photo(24);
  registerJpegEncoder();
  const std::string target = scratchFolder() + "/saved.jpg";
  for (auto _ : state) {
    if (saveRaster(*raster, 24, target, kJpegEncoder, 8, -1) != SaveStatus::saved) {
      state.SkipWithError("save failed");
      break;
    }
  }
  ::unlink(target.c_str());
}
BENCHMARK(SaveJpeg)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pixmoor::image

BENCHMARK_MAIN();
