#include "platform/topmost_suspension.h"

#include <QApplication>
#include <QWindow>

#include "platform/x11_window.h"

namespace pixmoor::platform {

void setStaysOnTop(QWidget* window, bool onTop) {
  if (window == nullptr) return;
  Qt::WindowFlags flags = window->windowFlags();
  if (flags.testFlag(Qt::WindowStaysOnTopHint) == onTop) return;
  flags.setFlag(Qt::WindowStaysOnTopHint, onTop);
  // QWidget::setWindowFlags would hide the window and, on X11, make a new
  // native window when showing it again. The widget's flags are changed
  // alone and the native window is told through QWindow::setFlags, which
  // asks the window manager for _NET_WM_STATE_ABOVE on X11 while the
  // window stays mapped.
  window->overrideWindowFlags(flags);
  if (QWindow* native = window->windowHandle(); native != nullptr) {
    native->setFlags(flags);
    setWindowManagerButtons(window);  // the flags rewrote Qt's own Motif hints
  }
}

TopmostSuspension::TopmostSuspension() {
  owner_ = QApplication::activeWindow();
  const QWidgetList windows = QApplication::topLevelWidgets();
  for (QWidget* window : windows) {
    if (!window->isVisible() || !window->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) continue;
    Suspended entry{window, false};
    setStaysOnTop(window, false);
    if (window->isEnabled() && window != owner_) {
      window->setEnabled(false);
      entry.disabled = true;
    }
    suspended_.push_back(entry);
  }
}

TopmostSuspension::~TopmostSuspension() {
  for (const Suspended& entry : suspended_) {
    if (entry.window.isNull()) continue;
    if (entry.disabled) entry.window->setEnabled(true);
    setStaysOnTop(entry.window, true);
  }
}

}  // namespace pixmoor::platform
