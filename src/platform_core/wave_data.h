// Reading a RIFF/WAVE block: the PCM format and where its samples lie.
//
// The block is untrusted: every chunk is checked against the block's end and
// anything but 16-bit PCM with 1 or 2 channels is refused. No Qt, no sound
// library; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace pixmoor::platform {

struct WaveData {
  int channels = 0;
  int sampleRate = 0;
  int bitsPerSample = 0;
  std::span<const std::uint8_t> samples;  // whole frames only, inside the block

  std::size_t frameBytes() const { return static_cast<std::size_t>(channels) * 2u; }
  std::size_t frameCount() const { return frameBytes() == 0 ? 0 : samples.size() / frameBytes(); }
};

std::optional<WaveData> readWave(std::span<const std::uint8_t> block);

}  // namespace pixmoor::platform
