// How fast a Stop is answered while a 100-megapixel picture (10000 x 10000)
// is decoded, resampled or encoded: each Stop benchmark starts the work on
// a thread, raises the cancel flag half-way through it and times (manual
// time) from the flag to the thread's return. The Whole benchmarks (and the
// whole_ms counter) time the same work left to finish: what a Stop waited
// for before the readers looked at the flag. BatchStop drops the picture
// on a BatchRunner, stops 150 ms later (while it is read and decoded) and
// times stopBatch itself and the worker's end.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <png.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <span>
#include <thread>
#include <vector>

#include "batch/batch_runner.h"
#include "codecs/format_registry.h"
#include "encoders/encode.h"
#include "image_store/image_store.h"
#include "resample/resample.h"

namespace pixmoor::image {
namespace {

constexpr int kSide = 10000;
constexpr auto kIntoTheWork = std::chrono::milliseconds(150);

using Bytes = std::vector<std::uint8_t>;

void registerCodecs() {
  static const bool done = [] {
    registerJpegDecoder();
    registerPngDecoder();
    registerJpegEncoder();
    registerPngEncoder();
    return true;
  }();
  (void)done;
}

// A smooth, textured picture: compresses like a photo, not like noise.
const Raster& picture() {
  static const std::unique_ptr<Raster> raster = [] {
    auto made = makeRaster(kSide, kSide, 24);
    for (int y = 0; y < kSide; ++y) {
      std::uint8_t* row = made->pictureRow(y);
      for (int x = 0; x < kSide; ++x) {
        row[3 * x] = static_cast<std::uint8_t>((x / 7 + y / 11) & 0xFF);
        row[3 * x + 1] = static_cast<std::uint8_t>((x * y / 997) & 0xFF);
        row[3 * x + 2] = static_cast<std::uint8_t>((x / 3) & 0xFF);
      }
    }
    return made;
  }();
  return *raster;
}

Bytes fileBytes(const std::string& path) {
  Bytes bytes(std::filesystem::file_size(path));
  std::FILE* in = std::fopen(path.c_str(), "rb");
  const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), in);
  std::fclose(in);
  bytes.resize(got);
  return bytes;
}

std::string scratch(const char* name) {
  return (std::filesystem::temp_directory_path() / name).string();
}

const std::string& jpegFile() {
  static const std::string path = [] {
    registerCodecs();
    const std::string made = scratch("pixmoor-stop-bench.jpg");
    saveRaster(picture(), 24, made, kJpegEncoder, 9, -1);
    return made;
  }();
  return path;
}

const Bytes& jpegBytes() {
  static const Bytes bytes = fileBytes(jpegFile());
  return bytes;
}

// The same picture as a progressive JPEG (libjpeg's simple progression):
// the library reads every scan into its coefficients before the first row.
const Bytes& progressiveBytes() {
  static const Bytes bytes = [] {
    const Raster& raster = picture();
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr error{};
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = kSide;
    cinfo.image_height = kSide;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
      JSAMPROW row = const_cast<JSAMPROW>(raster.pictureRow(static_cast<int>(cinfo.next_scanline)));
      jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
  }();
  return bytes;
}

const Bytes& pngBytes() {
  static const Bytes bytes = [] {
    registerCodecs();
    const std::string made = scratch("pixmoor-stop-bench.png");
    saveRaster(picture(), 24, made, kPngEncoder, 7, -1);
    Bytes read = fileBytes(made);
    std::filesystem::remove(made);
    return read;
  }();
  return bytes;
}

double secondsOf(const std::function<void(const CancelFlag*)>& work) {
  const auto start = std::chrono::steady_clock::now();
  work(nullptr);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs `work(cancel)` on a thread, raises the flag half-way through what the
// whole work takes and answers the seconds from the flag to the work's end.
double stopLatency(const std::function<void(const CancelFlag*)>& work, double wholeSeconds) {
  CancelFlag cancel{false};
  std::thread worker([&] { work(&cancel); });
  std::this_thread::sleep_for(std::chrono::duration<double>(wholeSeconds / 2));
  const auto raised = std::chrono::steady_clock::now();
  cancel = true;
  worker.join();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - raised).count();
}

void runStop(benchmark::State& state, const std::function<void(const CancelFlag*)>& work) {
  registerCodecs();
  secondsOf(work);  // makes the pictures the work needs
  const double whole = secondsOf(work);
  for (auto _ : state) state.SetIterationTime(stopLatency(work, whole));
  state.counters["whole_ms"] = whole * 1000;
}

void runWhole(benchmark::State& state, const std::function<void(const CancelFlag*)>& work) {
  registerCodecs();
  for (auto _ : state) work(nullptr);
}

void decodeJpeg(const CancelFlag* cancel) {
  ImageStore store;
  store.loadFromMemory(kWorkingPicture, jpegBytes(), {kNoMemoryBudget, cancel});
}
// A JPEG start followed by 1 GiB of zeros (untouched pages): libjpeg skips
// them all looking for a marker.
std::span<const std::uint8_t> garbage() {
  static const std::span<const std::uint8_t> bytes = [] {
    constexpr std::size_t kSize = std::size_t{1} << 30;
    auto* block = static_cast<std::uint8_t*>(std::calloc(kSize, 1));
    block[0] = 0xFF;
    block[1] = 0xD8;
    return std::span<const std::uint8_t>(block, kSize);
  }();
  return bytes;
}
void skipGarbage(const CancelFlag* cancel) {
  ImageStore store;
  store.loadFromMemory(kWorkingPicture, garbage(), {kNoMemoryBudget, cancel});
}
void decodeProgressive(const CancelFlag* cancel) {
  ImageStore store;
  store.loadFromMemory(kWorkingPicture, progressiveBytes(), {kNoMemoryBudget, cancel});
}
void decodePng(const CancelFlag* cancel) {
  ImageStore store;
  store.loadFromMemory(kWorkingPicture, pngBytes(), {kNoMemoryBudget, cancel});
}
void loadJpegFile(const CancelFlag* cancel) {
  ImageStore store;
  store.loadFromFile(kWorkingPicture, jpegFile(), {kNoMemoryBudget, cancel});
}
void shrink(const CancelFlag* cancel) {
  auto target = makeRaster(3000, 3000, 24);
  resampleOpaque(picture(), *target, cancel);
}
void enlarge(const CancelFlag* cancel) {
  auto target = makeRaster(14000, 14000, 24);
  resampleOpaque(picture(), *target, cancel);
}
void encodeJpeg(const CancelFlag* cancel) {
  saveRaster(picture(), 24, scratch("pixmoor-stop-bench-out.jpg"), kJpegEncoder, 9, -1, cancel);
}
void encodePng(const CancelFlag* cancel) {
  saveRaster(picture(), 24, scratch("pixmoor-stop-bench-out.png"), kPngEncoder, 7, -1, cancel);
}
// As a batch of several pictures encodes them: into memory, written later.
void encodePngInMemory(const CancelFlag* cancel) {
  Bytes bytes;
  encodeRaster(picture(), 24, kPngEncoder, 7, -1, bytes, cancel);
}

#define STOP_BENCH(name, work)                                                             \
  void BM_Stop##name(benchmark::State& state) {                                            \
    runStop(state, work);                                                                  \
  }                                                                                        \
  BENCHMARK(BM_Stop##name)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3); \
  void BM_Whole##name(benchmark::State& state) {                                           \
    runWhole(state, work);                                                                 \
  }                                                                                        \
  BENCHMARK(BM_Whole##name)->Unit(benchmark::kMillisecond)->Iterations(1);

STOP_BENCH(DecodeJpeg, decodeJpeg)
STOP_BENCH(DecodeProgressiveJpeg, decodeProgressive)
STOP_BENCH(DecodePng, decodePng)
STOP_BENCH(SkipJpegGarbage, skipGarbage)
STOP_BENCH(LoadJpegFile, loadJpegFile)
STOP_BENCH(ShrinkTo3000, shrink)
STOP_BENCH(EnlargeTo14000, enlarge)
STOP_BENCH(EncodeJpeg, encodeJpeg)
STOP_BENCH(EncodePng, encodePng)
STOP_BENCH(EncodePngInMemory, encodePngInMemory)

class SilentView : public batch::BatchView {
 public:
  void showStatus(const std::string&) override {}
  void showBatchControls(bool) override {}
  void playCue(int) override {}
};

// The whole Stop of a batch whose 100-megapixel picture is being decoded:
// stopBatch's own time (counters: when it returned, when the worker ended).
void BM_BatchStop(benchmark::State& state) {
  registerCodecs();
  const std::string source = jpegFile();
  SilentView view;
  settings::Settings chosen;
  chosen.landscapeWidth = 2000;
  chosen.prefix = "stopped_";
  batch::SharedSettings shared(chosen);
  std::atomic<std::int32_t> busy{0};
  double returned = 0, ended = 0;
  for (auto _ : state) {
    batch::BatchRunner runner(view, shared, batch::BatchTexts{}, busy);
    runner.handleDrop({source}, chosen);
    std::this_thread::sleep_for(kIntoTheWork);
    const auto start = std::chrono::steady_clock::now();
    runner.stopBatch();
    const auto back = std::chrono::steady_clock::now();
    runner.waitUntilIdle();
    const auto done = std::chrono::steady_clock::now();
    returned += std::chrono::duration<double, std::milli>(back - start).count();
    ended += std::chrono::duration<double, std::milli>(done - start).count();
    state.SetIterationTime(std::chrono::duration<double>(done - start).count());
  }
  state.counters["stopBatch_ms"] = benchmark::Counter(returned, benchmark::Counter::kAvgIterations);
  state.counters["workerEnd_ms"] = benchmark::Counter(ended, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_BatchStop)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace pixmoor::image

BENCHMARK_MAIN();
