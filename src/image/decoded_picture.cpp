#include "image/decoded_picture.h"

namespace pixmoor::image {

std::optional<PictureSize> reductionFor(const ReduceTo* reduce, int width, int height) {
  if (reduce == nullptr || !*reduce) return std::nullopt;
  const std::optional<PictureSize> target = (*reduce)(width, height);
  if (!target || target->width <= 0 || target->height <= 0 || target->width > width ||
      target->height > height || (target->width == width && target->height == height))
    return std::nullopt;
  return target;
}

}  // namespace pixmoor::image
