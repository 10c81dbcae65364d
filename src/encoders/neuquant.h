// The palette quantiser: reduces a picture to 2, 4, 16 or 256 colours with
// Dekker's NeuQuant self-organising network, in floating point, over four
// channels (alpha, red, green, blue), on colours taken through a gamma of 1.8.
//
// learn() trains the network on a sample of the pixels and keeps the result
// as a palette sorted by green; indexOf() maps a pixel to its nearest entry
// without dithering. A picture with no more distinct colours (alpha included)
// than the palette holds gets exactly those colours instead, the unused
// entries keeping the untrained network's, and each of its pixels maps to
// its own colour. Results depend only on the pixels and the colour count,
// so the same picture always gives the same palette and indices.
//
// The quantiser owns copies of everything it needs; the caller's pixels are
// only read during learn(). One object belongs to one thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "image/raster.h"

namespace pixmoor::image {

struct PaletteColour {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  std::uint8_t alpha = 0;
};

// T[v] = floor((v / 255)^(1 / 1.8) * 255 + 0.5): linear byte to gamma space.
const std::array<std::uint8_t, 256>& gammaTable();

// How learning walks the pixels of a picture of `pixelCount` pixels: one in
// `factor` is taken (factor = pixelCount / 262144 + 1, at most 10), `samples`
// of them, `step` pixels apart (wrapping at the end), the learning rate and
// radius shrinking after every `delta` samples.
struct SamplingPlan {
  int factor = 1;
  std::size_t samples = 0;
  std::size_t step = 0;  // 499, 491, 487 or 503: the first that does not divide the byte count
  std::size_t delta = 1;
};
SamplingPlan samplingPlan(std::size_t pixelCount);

class PaletteQuantizer {
 public:
  // `bgra` holds `pixelCount` pixels of 4 bytes (blue, green, red, alpha),
  // contiguous. `colours` is a power of two from 2 to 256. Nothing when the
  // arguments are unusable or `cancel` was raised during learning.
  static std::optional<PaletteQuantizer> learn(const std::uint8_t* bgra, std::size_t pixelCount, int colours,
                                               const CancelFlag* cancel = nullptr);

  // The palette, `colours` entries, sorted by ascending green of their
  // gamma-space values.
  const std::vector<PaletteColour>& palette() const { return palette_; }

  // Index of the palette entry nearest to the pixel (an entry of exactly its
  // colour when the palette holds the picture's own colours).
  int indexOf(std::uint8_t blue, std::uint8_t green, std::uint8_t red, std::uint8_t alpha) const;

 private:
  struct GammaEntry {
    int alpha, red, green, blue;
  };
  struct ExactEntry {
    std::uint32_t key;  // blue | green << 8 | red << 16 | alpha << 24
    int index;
  };
  // Sorts the palette by green and builds the search index.
  static PaletteQuantizer fromPalette(std::vector<PaletteColour> palette);

  std::vector<PaletteColour> palette_;
  std::vector<ExactEntry> exactKeys_;     // by key; empty unless the palette holds the picture's colours
  std::vector<GammaEntry> gammaPalette_;  // T of each palette entry, alpha kept
  std::array<int, 256> greenIndex_{};     // where the search for a green value starts
};

}  // namespace pixmoor::image
