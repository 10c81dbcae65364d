// The palette path of the PNG writer on the conformance pictures that take
// it (PNG and BMP sources of 1, 2, 4 and 8 bits): time per picture, and how
// far the palette output is from the same picture written as true colour.
//
// One case per source depth and size (1: own size, 2: half size, as a batch
// reduction makes them). Counters: err_r, err_g, err_b, the mean absolute
// difference per channel over every pixel of every picture of that depth;
// pictures, how many there were. Grey pictures with alpha (8 bits) lose the
// alpha in palette output, as the format is written; that counts as error.
//
//   palette_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "codecs/format_registry.h"
#include "encoders/encode.h"
#include "image_store/image_store.h"

namespace pixmoor::image {
namespace {

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

std::vector<std::string> sourcesOfDepth(int depth) {
  std::vector<std::string> out;
  ImageStore store;
  for (const char* folder : {"png/good", "bmp/g"}) {
    const auto dir = std::filesystem::path(PIXMOOR_TEST_DATA) / folder;
    if (!std::filesystem::is_directory(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (store.loadFromFile(0, entry.path().string()) == 0) continue;
      if (store.record(0)->sourceDepth == depth) out.push_back(entry.path().string());
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The picture's B G R bytes as our own reader loads them: no gamma applied,
// whereas libpng's simplified reader would convert the gAMA of palette output.
std::vector<std::uint8_t> loadBgr(const std::string& path) {
  ImageStore store;
  if (store.loadFromFile(0, path) == 0) return {};
  const Raster& r = *store.raster(0);
  std::vector<std::uint8_t> out;
  for (int y = 0; y < r.height; ++y) {
    const std::uint8_t* row = r.pictureRow(y);
    for (int x = 0; x < r.width; ++x)
      out.insert(out.end(), row + x * r.bytesPerPixel(), row + x * r.bytesPerPixel() + 3);
  }
  return out;
}

// Arguments: source depth, then 1 for own size or 2 for half size.
void BM_PaletteOutput(benchmark::State& state) {
  registerJpegDecoder();
  registerPngDecoder();
  registerPngEncoder();
  const int depth = static_cast<int>(state.range(0));
  const int divisor = static_cast<int>(state.range(1));
  const auto sources = sourcesOfDepth(depth);
  const Scratch scratch;
  const std::string palettePath = scratch.path + "/palette.png";
  const std::string truePath = scratch.path + "/true.png";
  double error[3] = {};
  double samples = 0;
  for (auto _ : state) {
    for (const auto& source : sources) {
      ImageStore store;
      store.loadFromFile(kWorkingPicture, source);
      const int w = std::max(1, store.imageWidth(kWorkingPicture) / divisor);
      const int h = std::max(1, store.imageHeight(kWorkingPicture) / divisor);
      store.resample(kWorkingPicture, w, h, ResampleMode::smooth);
      if (store.save(kWorkingPicture, palettePath, kPngEncoder, 7, -1) != SaveStatus::saved) {
        state.SkipWithError(("cannot write " + source).c_str());
        return;
      }
      state.PauseTiming();
      store.save(kWorkingPicture, truePath, kPngEncoder, 7, 24);
      const auto palette = loadBgr(palettePath);
      const auto truth = loadBgr(truePath);
      for (std::size_t i = 0; i < palette.size() && palette.size() == truth.size(); ++i) {
        error[2 - i % 3] += std::abs(palette[i] - truth[i]);
      }
      samples += static_cast<double>(truth.size() / 3);
      state.ResumeTiming();
    }
  }
  state.counters["pictures"] = static_cast<double>(sources.size());
  state.counters["err_r"] = error[0] / samples;
  state.counters["err_g"] = error[1] / samples;
  state.counters["err_b"] = error[2] / samples;
}
BENCHMARK(BM_PaletteOutput)
    ->ArgsProduct({{1, 2, 4, 8}, {1, 2}})
    ->ArgNames({"depth", "divisor"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
}  // namespace pixmoor::image

BENCHMARK_MAIN();
