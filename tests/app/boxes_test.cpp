// The program's real boxes, opened by the update check against a local
// server: nothing else of the program takes input while one is open, their
// buttons speak the interface language and the server's answer is shown as
// plain text.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "app/gui_startup.h"
#include "gui_test_support.h"
#include "online/local_http_server.h"
#include "online/web_pages.h"

namespace pixmoor::app {
namespace {

using testing::HarnessOptions;
using testing::httpResponse;
using testing::LocalHttpServer;
using testing::ProgramHarness;

// Runs the update check by its shortcut key against `server`; `onBox` runs
// for every box the check opens and must close it.
void checkForUpdate(ProgramHarness& harness, const LocalHttpServer& server, Qt::Key key,
                    const std::function<void(QMessageBox&)>& onBox) {
  harness.state.networkAvailable = true;
  harness.state.versionFileAddress = online::versionFileAddress(server.url(""));
  harness.window().show();
  QApplication::setActiveWindow(&harness.window());
  QTimer poke;
  QObject::connect(&poke, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) onBox(*box);
  });
  poke.start(10);
  QTest::keyClick(harness.window().windowHandle(), key);
}

HarnessOptions withRealBoxes(const char* language) {
  HarnessOptions options;
  options.language = language;
  options.realBoxes = true;
  return options;
}

TEST(Boxes, NothingElseTakesKeysWhileOneIsOpen) {
  LocalHttpServer server;
  server.answer("/downloads/pixmoor2.txt", httpResponse("200 OK", "1.5.0"));
  ProgramHarness harness(withRealBoxes("UK"));
  int boxes = 0;
  checkForUpdate(harness, server, Qt::Key_U, [&](QMessageBox& box) {
    if (++boxes == 1) {
      // The window manager hands the focus back to the main window (a click
      // on it) and real key presses arrive there: About, a second check.
      QWindow* main = harness.window().windowHandle();
      main->requestActivate();
      QTest::keyClick(main, Qt::Key_A);
      QTest::keyClick(main, Qt::Key_U);
    }
    QTest::keyClick(&box, Qt::Key_Escape);
  });
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(server.requestCount(), 1u);
  EXPECT_NE(harness.window().text(control::infoArea), harness.texts().aboutText);
  EXPECT_EQ(harness.window().text(control::statusLine), harness.texts().userCancelledText);
}

TEST(Boxes, FrenchInterfaceFrenchButtons) {
  LocalHttpServer server;
  server.answer("/downloads/pixmoor2.txt", httpResponse("200 OK", "1.5.0"));
  ProgramHarness harness(withRealBoxes("FR"));
  // Start-up's texts step for a French interface.
  AppState state;
  settings::Settings settings;
  settings.language = "FR";
  DesktopStartup startup(state, settings);
  startup.buildTexts(state, settings);
  QStringList buttons;
  checkForUpdate(harness, server, Qt::Key_M, [&](QMessageBox& box) {
    for (const QAbstractButton* button : box.buttons()) buttons << button->text();
    box.reject();
  });
  buttons.sort();
  EXPECT_EQ(buttons.join(QLatin1Char(' ')).toStdString(), "&Non &Oui");
}

TEST(Boxes, TheServersAnswerIsShownAsPlainText) {
  const std::string page = "<html><body><h1>404 Not Found</h1><a href=\"x\">x</a></body></html>";
  LocalHttpServer server;
  server.answer("/downloads/pixmoor2.txt", httpResponse("404 Not Found", page, "text/html"));
  ProgramHarness harness(withRealBoxes("UK"));
  QString shown;
  Qt::TextFormat format = Qt::AutoText;
  checkForUpdate(harness, server, Qt::Key_U, [&](QMessageBox& box) {
    const auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (label != nullptr) {
      shown = label->text();
      format = label->textFormat();
    }
    box.reject();
  });
  EXPECT_EQ(format, Qt::PlainText);
  EXPECT_EQ(shown.toStdString(),
            harness.texts().versionAvailablePrefix + page + harness.texts().versionAvailableSuffix);
}

}  // namespace
}  // namespace pixmoor::app
