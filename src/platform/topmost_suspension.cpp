#include "platform/topmost_suspension.h"

#include <QApplication>

namespace pixmoor::platform {

void setStaysOnTop(QWidget* window, bool onTop) {
  if (window == nullptr) return;
  if (window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) return;
  const bool wasVisible = window->isVisible();
  // Changing window flags re-creates the native window, which hides it.
  window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
  if (wasVisible) window->show();
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
