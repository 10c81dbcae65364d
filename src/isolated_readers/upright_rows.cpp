#include "isolated_readers/upright_rows.h"

#include <cstddef>
#include <cstring>

#include "image/orientation.h"

namespace pixmoor::foreign {

UprightRows::UprightRows(std::uint8_t* pixels, int stride, bool bottomUp, int storedWidth, int storedHeight,
                         int orientation, int bytesPerPixel)
    : pixels_(pixels),
      stride_(stride),
      bottomUp_(bottomUp),
      storedWidth_(storedWidth),
      storedHeight_(storedHeight),
      orientation_(orientation),
      bytesPerPixel_(bytesPerPixel) {}

std::uint8_t* UprightRows::storageRow(int uprightY) const {
  const int uprightHeight = image::orientationSwapsSides(orientation_) ? storedWidth_ : storedHeight_;
  const int row = bottomUp_ ? uprightHeight - 1 - uprightY : uprightY;
  return pixels_ + static_cast<std::size_t>(stride_) * static_cast<std::size_t>(row);
}

void UprightRows::place(const std::uint8_t* pixels, int x, int y, int count) const {
  const auto size = static_cast<std::size_t>(bytesPerPixel_);
  if (orientation_ == 1) {
    std::memcpy(storageRow(y) + static_cast<std::size_t>(x) * size, pixels,
                static_cast<std::size_t>(count) * size);
    return;
  }
  for (int i = 0; i < count; ++i, pixels += size) {
    const image::Position at = image::orientedPosition(orientation_, x + i, y, storedWidth_, storedHeight_);
    std::memcpy(storageRow(at.y) + static_cast<std::size_t>(at.x) * size, pixels, size);
  }
}

}  // namespace pixmoor::foreign
