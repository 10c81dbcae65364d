// Helpers shared by the writer tests: a scratch folder, file bytes, PNG
// chunks and JPEG markers read straight from the bytes, and test rasters.
#pragma once

#include <dirent.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

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

// Smooth, photo-like content with some fine detail, the same on every run.
inline void photoPixel(int x, int y, std::uint8_t* p, int depth) {
  const unsigned noise = (static_cast<unsigned>(x) * 2654435761u ^ static_cast<unsigned>(y) * 40503u) >> 27;
  p[0] = static_cast<std::uint8_t>((x * 3 + y) / 5 % 256);
  p[1] = static_cast<std::uint8_t>((128 + (x - y) / 3 + static_cast<int>(noise)) & 0xFF);
  p[2] = static_cast<std::uint8_t>((y * 2 + x / 4) % 256);
  if (depth == 32) p[3] = static_cast<std::uint8_t>((x + y) % 256);
}

}  // namespace pixmoor::image::testing
