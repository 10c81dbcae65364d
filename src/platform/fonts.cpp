#include "platform/fonts.h"

namespace pixmoor::platform {

QFont fontByName(const char* family, int points) {
  QFont font(QString::fromUtf8(family), points);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

}  // namespace pixmoor::platform
