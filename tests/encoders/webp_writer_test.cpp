// The WebP writers, read back with libwebp's own decoder and demuxer:
// pixels within a tolerance that a swap, a flip or a row out of place
// passes far; lossless pixels exact; alpha, the ICC profile and the EXIF
// block kept; Stop in the middle of an encode.
#include "encoders/webp_writer.h"

#include <gtest/gtest.h>
#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "encode_test_support.h"
#include "encoders/encode.h"

namespace pixmoor::image {
namespace {

using testing::DecodedPixels;
using testing::Fault;
using testing::makeFilled;
using testing::meanDifference;
using testing::readBytes;
using testing::ScratchFolder;

DecodedPixels decodeWebp(const std::vector<std::uint8_t>& bytes, bool alpha) {
  DecodedPixels pixels;
  pixels.channels = alpha ? 4 : 3;
  std::uint8_t* decoded = alpha ? WebPDecodeBGRA(bytes.data(), bytes.size(), &pixels.width, &pixels.height)
                                : WebPDecodeBGR(bytes.data(), bytes.size(), &pixels.width, &pixels.height);
  if (decoded == nullptr) return {};
  pixels.bytes.assign(decoded,
                      decoded + static_cast<std::size_t>(pixels.width) * pixels.height * pixels.channels);
  WebPFree(decoded);
  return pixels;
}

// A chunk of the file as libwebp's demuxer finds it; empty when absent.
std::vector<std::uint8_t> chunkOf(const std::vector<std::uint8_t>& bytes, const char* fourcc) {
  const WebPData data{bytes.data(), bytes.size()};
  WebPDemuxer* demux = WebPDemux(&data);
  if (demux == nullptr) return {};
  std::vector<std::uint8_t> chunk;
  WebPChunkIterator iterator;
  if (WebPDemuxGetChunk(demux, fourcc, 1, &iterator) != 0) {
    chunk.assign(iterator.chunk.bytes, iterator.chunk.bytes + iterator.chunk.size);
    WebPDemuxReleaseChunkIterator(&iterator);
  }
  WebPDemuxDelete(demux);
  return chunk;
}

class WebpWriterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { registerWebpEncoder(); }
  ScratchFolder folder;
};

// Lossy output, 24 and 32 bits, odd sides: the picture comes back close,
// and every faulty turn of it would not.
TEST_F(WebpWriterTest, LossyPixelsComeBackCloseAndTheRightWayRound) {
  for (const int depth : {24, 32}) {
    SCOPED_TRACE(depth);
    const auto raster = testing::stripedPicture(97, 61, depth);
    const std::string path = folder.file("a.webp");
    ASSERT_EQ(saveRaster(*raster, depth, path, kWebpEncoder, 10, -1), SaveStatus::saved);
    testing::expectTheRightWayRound(decodeWebp(readBytes(path), depth == 32), *raster, depth == 32);
  }
}

// Lossless: every pixel exact, the colour under fully transparent pixels
// and every alpha level too.
TEST_F(WebpWriterTest, LosslessPixelsAreExact) {
  for (const int depth : {24, 32}) {
    SCOPED_TRACE(depth);
    const auto raster = makeFilled(53, 41, depth, [&](int x, int y, std::uint8_t* p) {
      testing::noisePixel(x, y, p, depth);
      if (depth == 32 && x % 5 == 0) p[3] = 0;
    });
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(encodeRaster(*raster, depth, kWebpLosslessEncoder, 8, -1, bytes), SaveStatus::saved);
    const DecodedPixels decoded = decodeWebp(bytes, depth == 32);
    ASSERT_EQ(decoded.width, 53);
    std::vector<std::uint8_t> expected;
    for (int y = 0; y < raster->height; ++y)
      expected.insert(expected.end(), raster->pictureRow(y), raster->pictureRow(y) + 53 * (depth / 8));
    EXPECT_TRUE(decoded.bytes == expected);
  }
}

// The profile and the EXIF block come back byte for byte, lossy and
// lossless alike.
TEST_F(WebpWriterTest, IccProfileAndExifAreKept) {
  const auto raster = testing::stripedPicture(40, 30, 32);
  std::vector<std::uint8_t> icc(3144);
  for (std::size_t i = 0; i < icc.size(); ++i) icc[i] = static_cast<std::uint8_t>(i * 7 + 3);
  const std::vector<std::uint8_t> exif = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 1, 0x12, 0, 3,
                                          0,   0,   0, 1,  0, 6, 0, 0, 0, 0, 0, 0,    0, 0};
  RowSource rows{raster->data(), raster->width, raster->height, raster->stride, 4, true, icc, exif};
  for (const EncoderEntry write : {writeWebp, writeWebpLossless}) {
    MemoryOutput out;
    ASSERT_EQ(write(out, rows, 8, 32, nullptr), SaveStatus::saved);
    EXPECT_TRUE(chunkOf(out.bytes(), "ICCP") == icc);
    EXPECT_TRUE(chunkOf(out.bytes(), "EXIF") == exif);
    EXPECT_LT(meanDifference(decodeWebp(out.bytes(), true), *raster, Fault::none, true), 3);
  }
}

// A Stop while libwebp encodes: the test holds the encode at its first
// progress report, raises the flag, lets it go; the writer's hook answers,
// the encode ends part-way, and nothing is left on the disk.
struct HeldEncode {
  std::mutex lock;
  std::condition_variable changed;
  bool holding = false;  // the encode waits at its first report
  bool released = false;
  int reports = 0;
  int lastPercent = 0;
  WebPProgressHook writersHook = nullptr;
};
HeldEncode* held = nullptr;

int holdingHook(int percent, const WebPPicture* picture) {
  {
    std::unique_lock guard(held->lock);
    held->lastPercent = percent;
    if (held->reports++ == 0) {
      held->holding = true;
      held->changed.notify_all();
      held->changed.wait(guard, [] { return held->released; });
    }
  }
  // A writer without a hook of its own lets the encode run to its end.
  return held->writersHook == nullptr || held->writersHook(percent, picture);
}

}  // namespace
}  // namespace pixmoor::image

extern "C" int __real_WebPEncode(const WebPConfig* config, WebPPicture* picture);
extern "C" int __wrap_WebPEncode(const WebPConfig* config, WebPPicture* picture) {
  using pixmoor::image::held;
  if (held != nullptr) {
    held->writersHook = picture->progress_hook;
    picture->progress_hook = pixmoor::image::holdingHook;
  }
  return __real_WebPEncode(config, picture);
}

namespace pixmoor::image {
namespace {

TEST_F(WebpWriterTest, StopEndsAnEncodePartWay) {
  const auto raster =
      makeFilled(600, 400, 24, [](int x, int y, std::uint8_t* p) { testing::photoPixel(x, y, p, 24); });
  for (const std::uint32_t encoder : {kWebpEncoder, kWebpLosslessEncoder}) {
    SCOPED_TRACE(encoder == kWebpEncoder ? "lossy" : "lossless");
    HeldEncode hold;
    held = &hold;
    CancelFlag cancel{false};
    SaveStatus status = SaveStatus::saved;
    std::thread save(
        [&] { status = saveRaster(*raster, 24, folder.file("a.webp"), encoder, 10, -1, &cancel); });
    {
      std::unique_lock guard(hold.lock);
      // Only a failing run waits this long.
      EXPECT_TRUE(hold.changed.wait_for(guard, std::chrono::minutes(2), [&] { return hold.holding; }));
      cancel.store(true);
      hold.released = true;
      hold.changed.notify_all();
    }
    save.join();
    held = nullptr;
    EXPECT_EQ(status, SaveStatus::cancelled);
    EXPECT_EQ(hold.reports, 1);  // the first report after the Stop ended it
    EXPECT_LT(hold.lastPercent, 100);
    EXPECT_TRUE(folder.names().empty());
  }
}

}  // namespace
}  // namespace pixmoor::image
