// Hostile pictures under the real limits: each bomb is loaded in a child
// whose address space is capped, with a memory budget, and must be refused
// or decoded without ever asking for a block beyond the budget nor holding
// more than it. A raised cancel flag ends every reader's decode.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>

#include "codecs/format_registry.h"
#include "decode_test_support.h"
#include "image_store/image_store.h"
#include "support/bounded_child.h"

// Every heap request of this program passes through here, so that a child
// can tell the largest block it asked for and the most it held at once.
#ifndef PIXMOOR_UNDER_SANITIZER
#define PIXMOOR_WATCH_HEAP 1
namespace {
std::atomic<std::size_t> largestRequest{0};
std::atomic<std::int64_t> held{0};
std::atomic<std::int64_t> mostHeld{0};

void noteRequest(std::size_t size) {
  std::size_t seen = largestRequest.load(std::memory_order_relaxed);
  while (size > seen && !largestRequest.compare_exchange_weak(seen, size)) {
  }
}
void noteHeld(std::int64_t change) {
  const std::int64_t now = held.fetch_add(change) + change;
  std::int64_t most = mostHeld.load(std::memory_order_relaxed);
  while (now > most && !mostHeld.compare_exchange_weak(most, now)) {
  }
}
std::int64_t usable(void* p) {
  return p == nullptr ? 0 : static_cast<std::int64_t>(malloc_usable_size(p));
}
}  // namespace

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t size) {
  noteRequest(size);
  void* p = __libc_malloc(size);
  noteHeld(usable(p));
  return p;
}
void* calloc(std::size_t count, std::size_t size) {
  noteRequest(size != 0 && count > SIZE_MAX / size ? SIZE_MAX : count * size);
  void* p = __libc_calloc(count, size);
  noteHeld(usable(p));
  return p;
}
void* realloc(void* old, std::size_t size) {
  noteRequest(size);
  const std::int64_t before = usable(old);
  void* p = __libc_realloc(old, size);
  if (p != nullptr || size == 0) noteHeld(usable(p) - before);
  return p;
}
void* memalign(std::size_t alignment, std::size_t size) {
  noteRequest(size);
  void* p = __libc_memalign(alignment, size);
  noteHeld(usable(p));
  return p;
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  return memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  *out = memalign(alignment, size);
  return *out == nullptr && size != 0 ? ENOMEM : 0;
}
void free(void* p) {
  noteHeld(-usable(p));
  __libc_free(p);
}
}
#endif

namespace pixmoor::image {
namespace {

using decodetest::Bytes;
using decodetest::TempFolder;

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

Bytes be32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

// A JPEG made by libjpeg, progressive when `scans` holds a script, whose
// frame header then claims `width` x `height` when those are given.
Bytes makeJpeg(int width, int height, int components, std::vector<jpeg_scan_info> scans, int claimWidth = 0,
               int claimHeight = 0) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  for (int c = 0; c < cinfo.num_components; ++c)
    cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
  if (!scans.empty()) {
    cinfo.scan_info = scans.data();
    cinfo.num_scans = static_cast<int>(scans.size());
  }
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(static_cast<std::size_t>(width * components));
  while (cinfo.next_scanline < cinfo.image_height) {
    for (std::size_t i = 0; i < row.size(); ++i)
      row[i] = static_cast<JSAMPLE>((i * 7 + cinfo.next_scanline * 3) & 0xFF);
    JSAMPROW pointer = row.data();
    jpeg_write_scanlines(&cinfo, &pointer, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes out(buffer, buffer + size);
  std::free(buffer);
  if (claimWidth != 0) {
    for (std::size_t i = 0; i + 8 < out.size(); ++i) {
      if (out[i] == 0xFF && (out[i + 1] == 0xC0 || out[i + 1] == 0xC2)) {
        out[i + 5] = static_cast<std::uint8_t>(claimHeight >> 8);
        out[i + 6] = static_cast<std::uint8_t>(claimHeight);
        out[i + 7] = static_cast<std::uint8_t>(claimWidth >> 8);
        out[i + 8] = static_cast<std::uint8_t>(claimWidth);
        break;
      }
    }
  }
  return out;
}

// A grey progressive script of many scans: DC, then each AC coefficient on
// its own, both refined bit by bit.
std::vector<jpeg_scan_info> manyScans() {
  std::vector<jpeg_scan_info> scans;
  scans.push_back({1, {0}, 0, 0, 0, 7});
  for (int al = 6; al >= 0; --al) scans.push_back({1, {0}, 0, 0, al + 1, al});
  for (int k = 1; k < 64; ++k) scans.push_back({1, {0}, k, k, 0, 6});
  for (int al = 5; al >= 0; --al) {
    for (int k = 1; k < 64; ++k) scans.push_back({1, {0}, k, k, al + 1, al});
  }
  return scans;
}

std::vector<jpeg_scan_info> simpleProgression(int components) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_simple_progression(&cinfo);
  std::vector<jpeg_scan_info> scans(cinfo.scan_info, cinfo.scan_info + cinfo.num_scans);
  jpeg_destroy_compress(&cinfo);
  return scans;
}

// An RGBA PNG of 16 x 16 whose header then claims 32767 x 32767.
Bytes claimingPng() {
  decodetest::PngRecipe recipe;
  recipe.width = recipe.height = 16;
  recipe.colourType = PNG_COLOR_TYPE_RGB_ALPHA;
  for (int y = 0; y < 16; ++y) recipe.rows.emplace_back(64, static_cast<std::uint8_t>(y));
  Bytes file = decodetest::makePng(recipe);
  const Bytes side = be32(32767);
  std::copy(side.begin(), side.end(), file.begin() + 16);
  std::copy(side.begin(), side.end(), file.begin() + 20);
  const Bytes crc = be32(static_cast<std::uint32_t>(crc32(0, &file[12], 17)));
  std::copy(crc.begin(), crc.end(), file.begin() + 29);
  return file;
}

// A PNG of zero rows: small on disk, `width` x `height` x 3 bytes decoded.
Bytes blankPng(int width, int height) {
  decodetest::PngRecipe recipe;
  recipe.width = width;
  recipe.height = height;
  recipe.rows.assign(static_cast<std::size_t>(height), Bytes(static_cast<std::size_t>(width) * 3, 0));
  return decodetest::makePng(recipe);
}

void put16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes& out, std::uint32_t v) {
  put16(out, static_cast<std::uint16_t>(v));
  put16(out, static_cast<std::uint16_t>(v >> 16));
}

Bytes bmpHeader(std::int32_t width, std::int32_t height, std::uint16_t bits, std::uint32_t compression,
                std::uint32_t paletteEntries) {
  Bytes file = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0};
  put32(file, 14 + 40 + 4 * paletteEntries);
  put32(file, 40);
  put32(file, static_cast<std::uint32_t>(width));
  put32(file, static_cast<std::uint32_t>(height));
  put16(file, 1);
  put16(file, bits);
  put32(file, compression);
  for (int i = 0; i < 5; ++i) put32(file, 0);
  for (std::uint32_t i = 0; i < paletteEntries; ++i) put32(file, i * 0x010101u);
  return file;
}

// 32767 x 32767 at 8 bits, every row painted by runs of 255 pixels.
Bytes rleBmp() {
  Bytes file = bmpHeader(32767, 32767, 8, 1, 256);
  file.reserve(file.size() + 32767u * 260);
  for (int y = 0; y < 32767; ++y) {
    for (int x = 0; x < 32767; x += 255) {
      file.push_back(static_cast<std::uint8_t>(std::min(255, 32767 - x)));
      file.push_back(static_cast<std::uint8_t>(y));
    }
    file.push_back(0);
    file.push_back(0);
  }
  return file;
}

// A sparse file of 4 GiB that starts with `start`.
std::string sparseFile(const TempFolder& folder, const Bytes& start) {
  const std::string path = folder.file("x.jpg");
  decodetest::writeFile(path, start);
  if (::truncate(path.c_str(), static_cast<off_t>(4096 * kMiB)) != 0) return {};
  return path;
}

struct Bomb {
  const char* what;
  std::function<Bytes()> bytes;                        // loaded from memory ...
  std::function<std::string(const TempFolder&)> file;  // ... or from this file
  std::uint64_t budget;
  LoadStatus expected;
};

class Bombs : public ::testing::TestWithParam<Bomb> {
 protected:
  static void SetUpTestSuite() {
    registerJpegDecoder();
    registerPngDecoder();
  }
};

TEST_P(Bombs, RefusedOrDecodedWithinTheBudget) {
  const Bomb& bomb = GetParam();
  TempFolder folder;
  const Bytes bytes = bomb.bytes ? bomb.bytes() : Bytes{};
  const std::string path = bomb.file ? bomb.file(folder) : std::string();
  ASSERT_TRUE(bomb.bytes || !path.empty());
  // The child reports its status, then (watching the heap) its largest
  // request and the most it held beyond what it started with, in KiB.
  int channel[2];
  ASSERT_EQ(::pipe(channel), 0);
  const auto run = testing::runBounded(
      [&] {
        ImageStore store;
        LoadStatus status = LoadStatus::loaded;
        std::int64_t report[3] = {0, 0, 0};
#ifdef PIXMOOR_WATCH_HEAP
        largestRequest = 0;
        const std::int64_t before = held.load();
        mostHeld = before;
#endif
        const DecodeLimits limits{bomb.budget, nullptr};
        if (bomb.bytes) {
          status = store.loadData(kWorkingPicture, bytes, limits).status;
        } else {
          status = store.load(kWorkingPicture, path, limits).status;
        }
        report[0] = static_cast<std::int64_t>(status);
#ifdef PIXMOOR_WATCH_HEAP
        report[1] = static_cast<std::int64_t>(largestRequest.load() >> 10);
        report[2] = (mostHeld.load() - before) >> 10;
#endif
        return ::write(channel[1], report, sizeof report) == sizeof report ? 0 : 1;
      },
      bomb.budget + 256 * kMiB, 60);
  ::close(channel[1]);
  std::int64_t report[3] = {-1, 0, 0};
  const bool reported = ::read(channel[0], report, sizeof report) == sizeof report;
  ::close(channel[0]);
  ASSERT_TRUE(run.inTime) << bomb.what << ": still running after 60 s";
  ASSERT_TRUE(reported && run.status == 0) << bomb.what << ": the child failed";
  EXPECT_EQ(static_cast<LoadStatus>(report[0]), bomb.expected) << bomb.what;
#ifdef PIXMOOR_WATCH_HEAP
  const std::uint64_t budgetKiB = bomb.budget >> 10;
  EXPECT_LE(static_cast<std::uint64_t>(report[1]), budgetKiB)
      << bomb.what << ": a block beyond the budget was asked for";
  EXPECT_LE(static_cast<std::uint64_t>(report[2]), budgetKiB)
      << bomb.what << ": more than the budget was held";
#endif
  std::printf(
      "%-58s %6.2f s, largest block %7.1f MiB, held %7.1f MiB, resident +%6.1f MiB (budget %llu MiB)\n",
      bomb.what, run.seconds, static_cast<double>(report[1]) / 1024, static_cast<double>(report[2]) / 1024,
      static_cast<double>(run.peakKiB) / 1024, static_cast<unsigned long long>(bomb.budget / kMiB));
}

const Bytes kJpegStart = {0xFF, 0xD8, 0xFF, 0xE0};

INSTANTIATE_TEST_SUITE_P(Hostile, Bombs,
                         ::testing::Values(Bomb{"progressive JPEG of 449 scans claiming 32767 x 32767",
                                                [] { return makeJpeg(16, 16, 1, manyScans(), 32767, 32767); },
                                                {},
                                                256 * kMiB,
                                                LoadStatus::unknownFormat},
                                           Bomb{"progressive JPEG cut to 238 bytes claiming 32767 x 32767",
                                                [] {
                                                  Bytes file =
                                                      makeJpeg(64, 64, 3, simpleProgression(3), 32767, 32767);
                                                  file.resize(238);
                                                  return file;
                                                },
                                                {},
                                                256 * kMiB,
                                                LoadStatus::unknownFormat},
                                           Bomb{"RGBA PNG of a few hundred bytes claiming 32767 x 32767",
                                                claimingPng,
                                                {},
                                                256 * kMiB,
                                                LoadStatus::unknownFormat},
                                           Bomb{"RLE8 BMP of 32767 x 32767 painted by 8.5 MB of runs",
                                                rleBmp,
                                                {},
                                                256 * kMiB,
                                                LoadStatus::tooLargeForMemory},
                                           Bomb{"BMP claiming 65500 x 65500",
                                                [] { return bmpHeader(65500, 65500, 24, 0, 0); },
                                                {},
                                                256 * kMiB,
                                                LoadStatus::unsupported},
                                           Bomb{"progressive JPEG whose coefficients pass the budget",
                                                [] { return makeJpeg(2048, 2048, 3, simpleProgression(3)); },
                                                {},
                                                32 * kMiB,
                                                LoadStatus::tooLargeForMemory},
                                           Bomb{"the same JPEG with twice the budget",
                                                [] { return makeJpeg(2048, 2048, 3, simpleProgression(3)); },
                                                {},
                                                64 * kMiB,
                                                LoadStatus::loaded},
                                           Bomb{"4096 x 4096 PNG of zeros",
                                                [] { return blankPng(4096, 4096); },
                                                {},
                                                32 * kMiB,
                                                LoadStatus::tooLargeForMemory},
                                           Bomb{"sparse 4 GiB x.jpg of zeros",
                                                {},
                                                [](const TempFolder& f) {
                                                  return sparseFile(f, {0, 0, 0, 0});
                                                },
                                                256 * kMiB,
                                                LoadStatus::unknownFormat},
                                           Bomb{"sparse 4 GiB x.jpg starting as a JPEG, read in pieces",
                                                {},
                                                [](const TempFolder& f) { return sparseFile(f, kJpegStart); },
                                                8 * kMiB,
                                                LoadStatus::unknownFormat},
                                           Bomb{"FIFO named a.jpg",
                                                {},
                                                [](const TempFolder& f) {
                                                  const std::string path = f.file("a.jpg");
                                                  return ::mkfifo(path.c_str(), 0600) == 0 ? path
                                                                                           : std::string();
                                                },
                                                256 * kMiB,
                                                LoadStatus::unreadable}));

// A raised cancel flag ends the decode of every reader: nothing is loaded.
TEST(DecodeCancel, EveryReaderStops) {
  registerJpegDecoder();
  registerPngDecoder();
  decodetest::PngRecipe png;
  png.width = png.height = 64;
  png.rows.assign(64, Bytes(64 * 3, 9));
  Bytes bmp = bmpHeader(64, 64, 24, 0, 0);
  bmp.resize(bmp.size() + 64 * 64 * 3, 7);
  const std::pair<const char*, Bytes> pictures[] = {
      {"baseline JPEG", makeJpeg(64, 64, 3, {})},
      {"progressive JPEG", makeJpeg(64, 64, 3, simpleProgression(3))},
      {"PNG", decodetest::makePng(png)},
      {"BMP", bmp},
  };
  CancelFlag stop{false};
  for (const auto& [what, bytes] : pictures) {
    ImageStore store;
    LoadStatus status = LoadStatus::loaded;
    stop = false;
    status = store.loadData(55, bytes, {kNoMemoryBudget, &stop}).status;
    EXPECT_EQ(status, LoadStatus::loaded) << what;
    stop = true;
    status = store.loadData(55, bytes, {kNoMemoryBudget, &stop}).status;
    EXPECT_NE(status, LoadStatus::loaded) << what;
    EXPECT_EQ(status, LoadStatus::cancelled) << what;
  }
}

}  // namespace
}  // namespace pixmoor::image
