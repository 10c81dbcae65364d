// The program's real boxes, opened by the update check against a local
// server: nothing else of the program takes input while one is open, their
// buttons speak the interface language and the server's answer is shown as
// plain text.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
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

// Cancelling the prefix box asks whether to remove the prefix; Enter and
// Escape on that question both keep it: only a deliberate Yes replaces the
// originals from then on.
struct PrefixQuestionRow {
  const char* language;
  Qt::Key answer;  // pressed on the question
  bool clickYes;   // the Yes button clicked instead
  const char* prefixAfter;
  const char* status;
};

class PrefixQuestion : public ::testing::TestWithParam<PrefixQuestionRow> {};

TEST_P(PrefixQuestion, KeysKeepThePrefix) {
  const PrefixQuestionRow& row = GetParam();
  ProgramHarness harness(withRealBoxes(row.language));
  harness.window().show();
  QApplication::setActiveWindow(&harness.window());
  int questions = 0;
  bool noIsDefault = false;
  QTimer poke;
  QObject::connect(&poke, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      ++questions;
      noIsDefault = box->defaultButton() == box->button(QMessageBox::No);
      if (row.clickYes) {
        box->button(QMessageBox::Yes)->click();
      } else {
        QTest::keyClick(box, row.answer);
      }
    } else {
      QTest::keyClick(modal, Qt::Key_Escape);  // the prefix box, cancelled
    }
  });
  poke.start(10);
  harness.control<QAbstractButton>(control::changePrefixButton)->click();
  poke.stop();
  EXPECT_EQ(questions, 1);
  EXPECT_TRUE(noIsDefault);
  EXPECT_EQ(harness.settings.prefix, row.prefixAfter);
  EXPECT_EQ(harness.window().text(control::prefixValue), row.prefixAfter);
  EXPECT_EQ(harness.window().text(control::statusLine), row.status);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, PrefixQuestion,
    ::testing::Values(PrefixQuestionRow{"FR", Qt::Key_Return, false, "prefix_", "Annulé, Préfixe inchangé"},
                      PrefixQuestionRow{"UK", Qt::Key_Enter, false, "prefix_",
                                        "Cancel, Prefixe has not been changed"},
                      PrefixQuestionRow{"FR", Qt::Key_Escape, false, "prefix_", "Annulé, Préfixe inchangé"},
                      PrefixQuestionRow{"FR", Qt::Key_Space, true, "0", "http://www.pixmoor.example"}));

}  // namespace
}  // namespace pixmoor::app
