// Around a box, the program's own stay-on-top windows step back and come
// back afterwards.
#include <gtest/gtest.h>

#include "qt_application.h"

#include <QApplication>
#include <QWidget>

#include "platform/topmost_suspension.h"

namespace pixmoor::platform {
namespace {

QApplication& application() { return pixmoor::testing::qtApplication(); }

TEST(TopmostSuspension, ClearsAndRestoresTheFlag) {
  application();
  QWidget onTop;
  onTop.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  onTop.show();
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
    EXPECT_TRUE(plain.isEnabled());                                           // not topmost: untouched
    EXPECT_TRUE(hiddenOnTop.windowFlags().testFlag(Qt::WindowStaysOnTopHint));  // not visible: untouched
  }
  EXPECT_TRUE(onTop.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(onTop.isEnabled());
  EXPECT_TRUE(onTop.isVisible());
}

TEST(TopmostSuspension, SetStaysOnTopKeepsTheWindowShown) {
  application();
  QWidget window;
  window.show();
  setStaysOnTop(&window, true);
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(window.isVisible());
  setStaysOnTop(&window, false);
  EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(window.isVisible());
  setStaysOnTop(nullptr, true);  // nothing to do
}

}  // namespace
}  // namespace pixmoor::platform
