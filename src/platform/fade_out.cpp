#include "platform/fade_out.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QWidget>

namespace pixmoor::platform {

bool windowOpacitySupported() {
  // The offscreen and minimal platforms and plain X servers without a
  // compositor cannot blend a window; Wayland and composited X11 can.
  const QString name = QGuiApplication::platformName();
  return name == QLatin1String("xcb") || name.startsWith(QLatin1String("wayland"));
}

bool fadeOutAndHide(QWidget* window, int milliseconds) {
  if (window == nullptr) return false;
  if (!window->isVisible() || !windowOpacitySupported() || milliseconds <= 0) {
    window->hide();
    return false;
  }
  QPropertyAnimation animation(window, "windowOpacity");
  animation.setDuration(milliseconds);
  animation.setStartValue(window->windowOpacity());
  animation.setEndValue(0.0);
  QEventLoop wait;
  QObject::connect(&animation, &QPropertyAnimation::finished, &wait, &QEventLoop::quit);
  animation.start();
  wait.exec(QEventLoop::ExcludeUserInputEvents);
  window->hide();
  return true;
}

}  // namespace pixmoor::platform
