// Helpers shared by the writer tests: a scratch folder, file bytes, PNG
// chunks and JPEG markers read straight from the bytes, and test rasters.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "encoders/temp_output.h"
#include "image/raster.h"

namespace pixmoor::image::testing {

// A fresh folder under the system's temporary folder, removed with all its
// content at the end of the test.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pixmoor-encode-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!path_.empty()) {
      std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
      std::filesystem::remove_all(path_, ec);
    }
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

  // Every name in the folder, hidden ones included.
  std::set<std::string> names() const {
    std::set<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
      out.insert(entry.path().filename().string());
    return out;
  }

 private:
  std::string path_;
};

inline std::vector<std::uint8_t> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::uint32_t bigEndian32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

struct PngChunk {
  std::string type;
  std::vector<std::uint8_t> data;
};

// The chunks of a PNG file, in file order; empty when the signature or a
// chunk length is wrong.
inline std::vector<PngChunk> pngChunks(const std::vector<std::uint8_t>& bytes) {
  static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<PngChunk> chunks;
  if (bytes.size() < 8 || std::memcmp(bytes.data(), kSignature, 8) != 0) return chunks;
  std::size_t at = 8;
  while (at + 12 <= bytes.size()) {
    const std::uint32_t length = bigEndian32(&bytes[at]);
    if (length > bytes.size() - at - 12) return {};
    PngChunk chunk;
    chunk.type.assign(reinterpret_cast<const char*>(&bytes[at + 4]), 4);
    chunk.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at + 8),
                      bytes.begin() + static_cast<std::ptrdiff_t>(at + 8 + length));
    chunks.push_back(std::move(chunk));
    at += 12 + length;
  }
  return chunks;
}

inline const PngChunk* findChunk(const std::vector<PngChunk>& chunks, const std::string& type) {
  for (const auto& c : chunks) {
    if (c.type == type) return &c;
  }
  return nullptr;
}

// A raster filled by `pixel(x, y, bytes)`, x and y in picture coordinates
// (y 0 at the top), bytes being B G R (A).
template <typename Fill>
std::unique_ptr<Raster> makeFilled(int width, int height, int depth, Fill pixel) {
  auto raster = makeRaster(width, height, depth);
  if (!raster) return raster;
  const int bpp = raster->bytesPerPixel();
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = raster->pictureRow(y);
    for (int x = 0; x < width; ++x) pixel(x, y, row + x * bpp);
  }
  return raster;
}

// Content no compressor can shrink much, the same on every run.
inline void noisePixel(int x, int y, std::uint8_t* p, int depth) {
  const unsigned seed = static_cast<unsigned>(x) * 2654435761u ^ static_cast<unsigned>(y) * 2246822519u;
  const unsigned mixed = (seed ^ (seed >> 15)) * 2654435761u;
  p[0] = static_cast<std::uint8_t>(mixed >> 24);
  p[1] = static_cast<std::uint8_t>(mixed >> 16);
  p[2] = static_cast<std::uint8_t>(mixed >> 8);
  if (depth == 32) p[3] = static_cast<std::uint8_t>(mixed);
}

// A writer's output that raises `cancel` once `after` bytes have come, as a
// Stop would part-way through a picture: the write itself holds the writer
// at that point, however fast the machine is. Keeps nothing but counts.
class StopAfterBytes final : public TempOutput {
 public:
  StopAfterBytes(std::uint64_t after, CancelFlag& cancel) : after_(after), cancel_(cancel) {}
  bool write(const void*, std::size_t size) override {
    total_ += size;
    if (!stopped_ && total_ >= after_) {
      cancel_.store(true);
      stopped_ = true;
      atStop_ = total_;
    }
    return true;
  }
  bool failed() const override { return false; }
  std::uint64_t bytesWritten() const override { return total_; }
  bool stopped() const { return stopped_; }
  // The bytes that came after the flag was raised.
  std::uint64_t afterStop() const { return total_ - atStop_; }

 private:
  std::uint64_t after_;
  CancelFlag& cancel_;
  std::uint64_t total_ = 0;
  std::uint64_t atStop_ = 0;
  bool stopped_ = false;
};

// Smooth, photo-like content with some fine detail, the same on every run.
inline void photoPixel(int x, int y, std::uint8_t* p, int depth) {
  const unsigned noise = (static_cast<unsigned>(x) * 2654435761u ^ static_cast<unsigned>(y) * 40503u) >> 27;
  p[0] = static_cast<std::uint8_t>((x * 3 + y) / 5 % 256);
  p[1] = static_cast<std::uint8_t>((128 + (x - y) / 3 + static_cast<int>(noise)) & 0xFF);
  p[2] = static_cast<std::uint8_t>((y * 2 + x / 4) % 256);
  if (depth == 32) p[3] = static_cast<std::uint8_t>((x + y) % 256);
}

// Pixels an independent decoder gave back: B G R (A), top row first, rows
// packed.
struct DecodedPixels {
  int width = 0;
  int height = 0;
  int channels = 3;
  std::vector<std::uint8_t> bytes;
};

// How a faulty writer would have turned the picture: the comparison's
// tolerance must fail each of these.
enum class Fault { none, swappedRedAndBlue, upsideDown, rowOffByOne };

// The mean absolute difference per channel between the decoded pixels and
// `raster` turned by `fault` (channels both have; alpha only where
// `withAlpha`). Pixels of alpha 0 in the raster have no colour to compare.
inline double meanDifference(const DecodedPixels& decoded, const Raster& raster, Fault fault = Fault::none,
                             bool withAlpha = false) {
  const int bpp = raster.bytesPerPixel();
  const int channels = withAlpha ? 4 : 3;
  double sum = 0;
  std::uint64_t count = 0;
  for (int y = 0; y < raster.height; ++y) {
    int sourceY = fault == Fault::upsideDown ? raster.height - 1 - y : y;
    if (fault == Fault::rowOffByOne) sourceY = y + 1 < raster.height ? y + 1 : y;
    const std::uint8_t* expected = raster.pictureRow(sourceY);
    const std::uint8_t* got =
        decoded.bytes.data() + static_cast<std::size_t>(y) * decoded.width * decoded.channels;
    for (int x = 0; x < raster.width; ++x, expected += bpp, got += decoded.channels) {
      if (bpp == 4 && expected[3] == 0) continue;
      for (int c = 0; c < channels; ++c) {
        const int from = fault == Fault::swappedRedAndBlue && c < 3 ? 2 - c : c;
        sum += std::abs(static_cast<int>(got[c]) - static_cast<int>(expected[from]));
        ++count;
      }
    }
  }
  return count == 0 ? 0 : sum / static_cast<double>(count);
}

// A picture with features along both axes that lossy coders keep well:
// blue grows to the right, red downwards, and every other row is lighter in
// all three channels; with alpha, four levels across. A swap, a flip or a
// row out of place moves it far.
inline std::unique_ptr<Raster> stripedPicture(int width, int height, int depth) {
  return makeFilled(width, height, depth, [&](int x, int y, std::uint8_t* p) {
    const int stripe = y % 2 == 0 ? -30 : 30;
    p[0] = static_cast<std::uint8_t>(40 + x * 170 / (width - 1) + stripe);
    p[1] = static_cast<std::uint8_t>(128 + stripe);
    p[2] = static_cast<std::uint8_t>(40 + y * 170 / (height - 1) + stripe);
    if (depth == 32) p[3] = static_cast<std::uint8_t>(255 - (x / 4 % 4) * 60);
  });
}

// The decoded pixels are `raster` within `tolerance` (a mean per channel),
// and would not be had the writer swapped, flipped or shifted it.
inline void expectTheRightWayRound(const DecodedPixels& decoded, const Raster& raster, bool withAlpha,
                                   double tolerance = 3) {
  ASSERT_EQ(decoded.width, raster.width);
  ASSERT_EQ(decoded.height, raster.height);
  EXPECT_LT(meanDifference(decoded, raster, Fault::none, withAlpha), tolerance);
  for (const Fault fault : {Fault::swappedRedAndBlue, Fault::upsideDown, Fault::rowOffByOne})
    EXPECT_GT(meanDifference(decoded, raster, fault), 5 * tolerance) << static_cast<int>(fault);
}

}  // namespace pixmoor::image::testing
