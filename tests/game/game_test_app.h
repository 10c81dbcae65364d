// One QApplication for a game test program, on Qt's offscreen platform with
// a single 1920 x 1080 screen at 0, 0 and 96 dots per inch.
#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <cstdlib>

// Under LeakSanitizer: fontconfig keeps a few blocks of its own for the life
// of the process, which the game's text drawing makes it load.
extern "C" __attribute__((weak, used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace pixmoor::testing {

inline QApplication& gameTestApplication() {
  // Never destroyed: Qt's own statics may be gone by the time exit handlers
  // would run its destructor.
  static QApplication* app = [] {
    const QString config = QDir::temp().filePath(
        QStringLiteral("pixmoor-game-test-screen-%1.json").arg(QCoreApplication::applicationPid()));
    QFile file(config);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
      file.write(R"({"windowFrameMargins": false, "screens": [{"name": "screen0", "x": 0, "y": 0,)"
                 R"( "width": 1920, "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
      file.close();
    }
    const QByteArray platform = "offscreen:configfile=" + config.toLocal8Bit();
    ::setenv("QT_QPA_PLATFORM", platform.constData(), 1);
    static int argc = 1;
    static char name[] = "game_test";
    static char* argv[] = {name, nullptr};
    auto* made = new QApplication(argc, argv);
    QFile::remove(config);
    return made;
  }();
  return *app;
}

}  // namespace pixmoor::testing
