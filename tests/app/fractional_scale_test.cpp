// The window on a 2560 x 1600 screen scaled by 1.5, Qt's offscreen platform
// standing in for the desktop: the desktop size is read in the screen's own
// pixels, not from Qt's rounded device-independent size.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <cstdlib>

#include "app/gui_startup.h"
#include "gui_test_support.h"

namespace {
// Before the QApplication exists: the scale factor and the screen are read
// once, when it starts.
const bool kScaledScreen = [] {
  setenv("QT_SCALE_FACTOR", "1.5", 1);
  setenv("QT_QPA_PLATFORM", "offscreen:configfile=" PIXMOOR_TEST_DATA "/screens/wqxga.json", 1);
  return true;
}();
}  // namespace

namespace pixmoor::app {
namespace {

TEST(FractionalScale, DesktopSizeIsTheScreensPixels) {
  ASSERT_TRUE(kScaledScreen);
  testing::application();
  const QScreen* screen = QGuiApplication::primaryScreen();
  ASSERT_NE(screen, nullptr);
  // What the screen looks like to Qt: the rounded size and the factor.
  ASSERT_EQ(screen->devicePixelRatio(), 1.5);
  ASSERT_EQ(screen->size(), QSize(1707, 1067));

  AppState state;
  settings::Settings settings;
  DesktopStartup startup(state, settings);
  startup.initialiseRuntime();
  const DesktopSize desktop = startup.takeDesktopSize();
  EXPECT_EQ(desktop.width, 2560);
  EXPECT_EQ(desktop.height, 1600);
}

}  // namespace
}  // namespace pixmoor::app
