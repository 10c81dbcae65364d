#include "platform/sound_output.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cstdarg>

namespace pixmoor::platform {

namespace {

void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

snd_pcm_t* asPcm(void* pcm) {
  return static_cast<snd_pcm_t*>(pcm);
}

}  // namespace

SoundOutput::~SoundOutput() {
  close();
}

bool SoundOutput::open(std::span<const std::uint8_t> block) {
  std::lock_guard lock(mutex_);
  if (pcm_ != nullptr) return true;
  const std::optional<WaveData> wave = readWave(block);
  if (!wave) return false;
  snd_lib_error_set_handler(&quietAlsa);
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0) return false;
  // A short buffer keeps a 50 ms click close to 50 ms.
  if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED,
                         static_cast<unsigned>(wave->channels), static_cast<unsigned>(wave->sampleRate), 1,
                         40000) < 0) {
    snd_pcm_close(pcm);
    return false;
  }
  wave_ = *wave;
  pcm_ = pcm;
  return true;
}

void SoundOutput::playCue(int milliseconds) {
  std::lock_guard lock(mutex_);
  if (pcm_ == nullptr || milliseconds <= 0) return;
  snd_pcm_t* pcm = asPcm(pcm_);
  snd_pcm_drop(pcm);
  snd_pcm_prepare(pcm);
  const std::size_t frameBytes = wave_.frameBytes();
  const std::size_t total = wave_.frameCount();
  std::size_t toPlay =
      static_cast<std::size_t>(milliseconds) * static_cast<std::size_t>(wave_.sampleRate) / 1000u;
  std::size_t position = 0;
  while (toPlay > 0) {
    const std::size_t chunk = std::min(toPlay, total - position);
    const snd_pcm_sframes_t written = snd_pcm_writei(pcm, wave_.samples.data() + position * frameBytes,
                                                     static_cast<snd_pcm_uframes_t>(chunk));
    if (written < 0) {
      if (snd_pcm_recover(pcm, static_cast<int>(written), 1) < 0) break;
      continue;
    }
    toPlay -= static_cast<std::size_t>(written);
    position = (position + static_cast<std::size_t>(written)) % total;  // loop from the start
  }
  snd_pcm_drain(pcm);
}

void SoundOutput::close() {
  std::lock_guard lock(mutex_);
  if (pcm_ == nullptr) return;
  snd_pcm_close(asPcm(pcm_));
  pcm_ = nullptr;
}

}  // namespace pixmoor::platform
