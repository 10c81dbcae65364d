#include "platform_core/wave_data.h"

#include <cstring>

namespace pixmoor::platform {

namespace {

std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

}  // namespace

std::optional<WaveData> readWave(std::span<const std::uint8_t> block) {
  if (block.size() < 12 || std::memcmp(block.data(), "RIFF", 4) != 0 ||
      std::memcmp(block.data() + 8, "WAVE", 4) != 0) {
    return std::nullopt;
  }
  WaveData wave;
  bool haveFormat = false;
  std::size_t at = 12;
  while (block.size() - at >= 8) {
    const std::uint8_t* header = block.data() + at;
    const std::uint32_t length = le32(header + 4);
    at += 8;
    if (length > block.size() - at) return std::nullopt;  // chunk runs past the block
    const std::uint8_t* body = block.data() + at;
    if (std::memcmp(header, "fmt ", 4) == 0) {
      if (length < 16) return std::nullopt;
      if (le16(body) != 1) return std::nullopt;  // PCM only
      wave.channels = le16(body + 2);
      wave.sampleRate = static_cast<int>(le32(body + 4));
      wave.bitsPerSample = le16(body + 14);
      if (wave.channels < 1 || wave.channels > 2 || wave.bitsPerSample != 16 || wave.sampleRate < 1000 ||
          wave.sampleRate > 192000) {
        return std::nullopt;
      }
      haveFormat = true;
    } else if (std::memcmp(header, "data", 4) == 0) {
      if (!haveFormat) return std::nullopt;
      const std::size_t whole = length - length % wave.frameBytes();
      wave.samples = block.subspan(at, whole);
      if (wave.frameCount() == 0) return std::nullopt;
      return wave;
    }
    at += length;
    if (length % 2 != 0 && at < block.size()) ++at;  // chunks are padded to even sizes
  }
  return std::nullopt;
}

}  // namespace pixmoor::platform
