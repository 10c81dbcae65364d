#include "platform/fade_out.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QWidget>

#include "platform/x11_window.h"

namespace pixmoor::platform {

bool windowOpacitySupported(const QWidget* window) {
  // A Wayland compositor always blends; an X server only while a
  // compositing manager runs. Offscreen and minimal platforms never do.
  if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) return true;
  return x11CompositorRunning(window);
}

bool fadeOutAndHide(QWidget* window, int milliseconds) {
  if (window == nullptr) return false;
  if (!window->isVisible() || !windowOpacitySupported(window) || milliseconds <= 0) {
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
