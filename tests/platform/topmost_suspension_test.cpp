// Around a box, the program's own stay-on-top windows step back and come
// back afterwards.
#include "platform/topmost_suspension.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <QWindow>

#include "qt_application.h"

namespace pixmoor::platform {
namespace {

QApplication& application() {
  return pixmoor::testing::qtApplication();
}

// Counts the times a window was hidden. Hiding unmaps the native window,
// and on X11 showing it again after a change of stays-on-top makes a new one.
struct Hides : QObject {
  explicit Hides(QWidget* window) { window->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    count += event->type() == QEvent::Hide ? 1 : 0;
    return false;
  }
  int count = 0;
};

TEST(TopmostSuspension, ClearsAndRestoresTheFlag) {
  application();
  QWidget onTop;
  onTop.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  onTop.show();
  Hides hides(&onTop);
  QWidget plain;
  plain.show();
  QWidget hiddenOnTop;
  hiddenOnTop.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  {
    TopmostSuspension suspension;
    EXPECT_FALSE(onTop.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(onTop.isVisible());
    // Not the active window: disabled while the box is open.
    EXPECT_EQ(onTop.isEnabled(), QApplication::activeWindow() == &onTop);
    EXPECT_TRUE(plain.isEnabled());                                             // not topmost: untouched
    EXPECT_TRUE(hiddenOnTop.windowFlags().testFlag(Qt::WindowStaysOnTopHint));  // not visible: untouched
  }
  EXPECT_TRUE(onTop.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(onTop.isEnabled());
  EXPECT_TRUE(onTop.isVisible());
  EXPECT_EQ(hides.count, 0);
}

// One native window for the window's life: the flag reaches the window
// system while the window stays mapped.
TEST(TopmostSuspension, SetStaysOnTopKeepsTheWindowShownAndItsNativeWindow) {
  application();
  QWidget window;
  window.show();
  Hides hides(&window);
  setStaysOnTop(&window, true);
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(window.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(window.isVisible());
  setStaysOnTop(&window, false);
  EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_FALSE(window.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(hides.count, 0);
  setStaysOnTop(nullptr, true);  // nothing to do
}

}  // namespace
}  // namespace pixmoor::platform
