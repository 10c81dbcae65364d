// One QApplication for a Qt test program, kept until the process ends (Qt's
// own statics go first at exit), and the leak checker told about
// fontconfig's caches, which live as long as the process.
#pragma once

#include <QApplication>

// Defined here, not inline: each test program includes this header once.
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace pixmoor::testing {

inline QApplication& qtApplication() {
  static int argc = 1;
  static char name[] = "pixmoor-qt-test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

}  // namespace pixmoor::testing
