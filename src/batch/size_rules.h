// How large each output picture is.
//
// A pure function of its arguments: it reads the Settings, changes nothing
// and holds no state, so any thread may call it (the batch worker calls it
// on its own copy of the Settings). A picture that must not be written is
// reported as a value, never by throwing.
#pragma once

#include <cstdint>

#include "settings/settings.h"

namespace pixmoor::batch {

// Largest side a picture may have, in pixels (signed 16-bit sides).
inline constexpr std::int32_t kMaxPictureSide = 32767;

enum class SizeOutcome {
  resize,           // width and height hold the target size, both in 1..kMaxPictureSide
  emptyPicture,     // the picture has a side below 1 or above kMaxPictureSide
  nonPositiveSide,  // the settings give a target side of zero or less
  tooLarge,         // a target side would exceed kMaxPictureSide
};

struct TargetSize {
  SizeOutcome outcome = SizeOutcome::emptyPicture;
  std::int32_t width = 0;   // 0 unless outcome is resize
  std::int32_t height = 0;  // 0 unless outcome is resize

  bool writesPicture() const { return outcome == SizeOutcome::resize; }
  bool operator==(const TargetSize&) const = default;
};

// The size a picture of pictureWidth x pictureHeight is resampled to.
//  - relative: a landscape picture gets landscapeWidth and keeps its proportion
//    (height * landscapeWidth / width, truncated toward zero); a portrait
//    picture gets portraitHeight likewise; a square picture gets both sides
//    equal to the smaller of the two settings, so that it fits either way,
//    or to the one that is set when the other is 0 or less.
//  - free: freeWidth x freeHeight whatever the picture.
//  - an unknown mode: the picture's own size (it is re-encoded, not resized).
// Products are formed in 64 bits; nothing is clamped or wrapped.
TargetSize targetSize(std::int32_t pictureWidth, std::int32_t pictureHeight,
                      const settings::Settings& settings);

// The companion's own sizes, which the window never sets (nor its settings
// file): by default the settings' mode holds.
enum class SizeRule {
  settings,  // the settings' mode, as above
  fit,       // the largest size within width x height, proportions kept
  scale,     // each side times percent / 100
  longEdge,  // the longer side to longEdge (both sides of a square), proportions kept
};

struct SizeChoice {
  SizeRule rule = SizeRule::settings;
  std::int32_t width = 0;  // fit: the box
  std::int32_t height = 0;
  std::int32_t percent = 0;   // scale
  std::int32_t longEdge = 0;  // longEdge
  // A picture already within the target keeps its size.
  bool shrinkOnly = false;

  bool operator==(const SizeChoice&) const = default;
};

// The size under `choice`. The rules of its own round each computed side to
// the nearest pixel (halves up) and never below 1; with shrinkOnly a target
// at least as large as the picture both ways gives the picture's own size.
TargetSize targetSize(std::int32_t pictureWidth, std::int32_t pictureHeight,
                      const settings::Settings& settings, const SizeChoice& choice);

}  // namespace pixmoor::batch
