// Target size of a picture.

#include "batch/size_rules.h"

#include <algorithm>

namespace pixmoor::batch {
namespace {

// Checks a computed size. Sides are 64-bit here so that a product too large
// for 32 bits is refused instead of wrapping into a plausible number.
TargetSize checked(std::int64_t width, std::int64_t height) {
  if (width <= 0 || height <= 0) {
    return {SizeOutcome::nonPositiveSide, 0, 0};
  }
  if (width > kMaxPictureSide || height > kMaxPictureSide) {
    return {SizeOutcome::tooLarge, 0, 0};
  }
  return {SizeOutcome::resize, static_cast<std::int32_t>(width), static_cast<std::int32_t>(height)};
}

// numerator / denominator to the nearest whole number, halves up, at least 1.
std::int64_t roundedSide(std::int64_t numerator, std::int64_t denominator) {
  return std::max<std::int64_t>(1, (2 * numerator + denominator) / (2 * denominator));
}

// The other side of a picture whose `side` becomes `to`, proportions kept.
std::int64_t proportional(std::int64_t other, std::int64_t to, std::int64_t side) {
  return roundedSide(other * to, side);
}

TargetSize companionSize(std::int64_t width, std::int64_t height, const SizeChoice& choice) {
  switch (choice.rule) {
    case SizeRule::fit: {
      const std::int64_t boxWidth = choice.width;
      const std::int64_t boxHeight = choice.height;
      if (boxWidth <= 0 || boxHeight <= 0) return checked(0, 0);
      // The side that reaches the box first is set; compared as products so
      // that no rounding picks the wrong one.
      if (boxWidth * height <= boxHeight * width)
        return checked(boxWidth, proportional(height, boxWidth, width));
      return checked(proportional(width, boxHeight, height), boxHeight);
    }
    case SizeRule::scale:
      if (choice.percent <= 0) return checked(0, 0);
      return checked(roundedSide(width * choice.percent, 100), roundedSide(height * choice.percent, 100));
    case SizeRule::longEdge: {
      const std::int64_t edge = choice.longEdge;
      if (edge <= 0) return checked(0, 0);
      if (width >= height) return checked(edge, proportional(height, edge, width));
      return checked(proportional(width, edge, height), edge);
    }
    case SizeRule::settings:
      break;
  }
  return checked(width, height);
}

}  // namespace

TargetSize targetSize(std::int32_t pictureWidth, std::int32_t pictureHeight,
                      const settings::Settings& settings, const SizeChoice& choice) {
  TargetSize target = targetSize(pictureWidth, pictureHeight, settings);
  if (choice.rule != SizeRule::settings && target.outcome != SizeOutcome::emptyPicture)
    target = companionSize(pictureWidth, pictureHeight, choice);
  if (choice.shrinkOnly && target.writesPicture() && target.width >= pictureWidth &&
      target.height >= pictureHeight)
    return {SizeOutcome::resize, pictureWidth, pictureHeight};
  return target;
}

TargetSize targetSize(std::int32_t pictureWidth, std::int32_t pictureHeight,
                      const settings::Settings& settings) {
  if (pictureWidth <= 0 || pictureHeight <= 0 || pictureWidth > kMaxPictureSide ||
      pictureHeight > kMaxPictureSide) {
    return {SizeOutcome::emptyPicture, 0, 0};
  }
  const std::int64_t width = pictureWidth;
  const std::int64_t height = pictureHeight;

  if (settings.mode == settings::SizeMode::relative) {
    const std::int64_t landscapeWidth = settings.landscapeWidth;
    const std::int64_t portraitHeight = settings.portraitHeight;
    // Product first, then the division; C++ division truncates toward zero,
    // so 1024 x 683 at width 640 gives height 426, not 427.
    if (width > height) {
      return checked(landscapeWidth, height * landscapeWidth / width);
    }
    if (height > width) {
      return checked(width * portraitHeight / height, portraitHeight);
    }
    // A square fits either way at the smaller side; when only one side is
    // set (the other 0 or less), at that one, as landscapes or portraits
    // still get theirs.
    std::int64_t side = std::min(landscapeWidth, portraitHeight);
    if (landscapeWidth <= 0 || portraitHeight <= 0) side = std::max(landscapeWidth, portraitHeight);
    return checked(side, side);
  }
  if (settings.mode == settings::SizeMode::free) {
    // The free sizes are 16-bit fields; widening sign-extends them, so a
    // stored 0xFFFF is -1 and yields no picture rather than 65535 pixels.
    return checked(settings.freeWidth, settings.freeHeight);
  }
  return checked(width, height);
}

}  // namespace pixmoor::batch
