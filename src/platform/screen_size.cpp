#include "platform/screen_size.h"

#include <QScreen>
// Qt's platform screen (QPA): the one public handle on a screen's pixels.
#include <qpa/qplatformscreen.h>

namespace pixmoor::platform {

QSize screenPixelSize(const QScreen* screen) {
  if (screen == nullptr) return {};
  if (const QPlatformScreen* native = screen->handle(); native != nullptr) return native->geometry().size();
  // Without a platform screen (never seen), the rounded size is the best known.
  return screen->size() * screen->devicePixelRatio();
}

}  // namespace pixmoor::platform
