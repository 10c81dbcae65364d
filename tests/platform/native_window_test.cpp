// A dialog's native window, asked for while its owner is on screen, leaves
// the owner's children drawn in the owner's own window (Qt's winId would
// turn them all into native windows of their own).
#include <gtest/gtest.h>

#include <QDialog>
#include <QMainWindow>
#include <QMenuBar>

#include "platform/qt_application.h"
#include "platform/x11_window.h"

namespace pixmoor::platform {
namespace {

TEST(NativeWindow, ADialogsLeavesItsOwnersChildrenInTheOwnersWindow) {
  testing::qtApplication();
  QMainWindow owner;
  owner.menuBar()->addMenu(QStringLiteral("Information"));
  auto* client = new QWidget;
  owner.setCentralWidget(client);
  owner.show();
  QDialog dialog(&owner);
  const WId id = nativeWindowOf(&dialog);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(dialog.internalWinId(), id);
  EXPECT_EQ(nativeWindowOf(&dialog), id);  // made once
  for (const QWidget* child : {static_cast<QWidget*>(owner.menuBar()), client}) {
    EXPECT_EQ(child->internalWinId(), 0u) << child->metaObject()->className();
    EXPECT_FALSE(child->testAttribute(Qt::WA_NativeWindow)) << child->metaObject()->className();
  }
  EXPECT_EQ(nativeWindowOf(nullptr), 0u);
}

}  // namespace
}  // namespace pixmoor::platform
