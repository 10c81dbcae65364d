// Sound output: the completion cue played through ALSA's "default" device.
//
// open() answers whether the device could be opened for the wave's format;
// without a device every playCue returns at once. playCue(ms) stops what is
// playing, plays the wave from its start in a loop for `ms` milliseconds and
// returns when that time is over, blocking the calling thread. Any thread;
// calls from several threads take turns. ALSA's own error messages are
// silenced.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>

#include "platform_core/wave_data.h"

namespace pixmoor::platform {

class SoundOutput {
 public:
  SoundOutput() = default;
  ~SoundOutput();
  SoundOutput(const SoundOutput&) = delete;
  SoundOutput& operator=(const SoundOutput&) = delete;

  // `wave` must stay alive as long as this object (it is the program's own data).
  bool open(std::span<const std::uint8_t> wave);
  bool available() const { return pcm_ != nullptr; }
  void playCue(int milliseconds);
  void close();

 private:
  std::mutex mutex_;
  void* pcm_ = nullptr;  // snd_pcm_t
  WaveData wave_;
};

}  // namespace pixmoor::platform
