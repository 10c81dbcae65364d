// The prefix input box: layout, proposed text selected, Enter and Escape.
#include "platform/input_box.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "qt_application.h"

namespace pixmoor::platform {
namespace {

QApplication& application() {
  return pixmoor::testing::qtApplication();
}

TEST(InputBox, Layout) {
  application();
  InputBoxDialog box("Choix du préfixe", "Ecrire le préfixe désiré", "prefix_");
  EXPECT_EQ(box.size(), QSize(300, 130));
  EXPECT_EQ(box.windowTitle().toStdString(), "Choix du préfixe");
  EXPECT_EQ(box.promptLabel()->geometry(), QRect(10, 10, 280, 22));
  EXPECT_EQ(box.promptLabel()->text().toStdString(), "Ecrire le préfixe désiré");
  EXPECT_EQ(box.promptLabel()->textFormat(), Qt::PlainText);
  EXPECT_EQ(box.edit()->geometry(), QRect(10, 32, 275, 21));
  EXPECT_EQ(box.okButton()->geometry(), QRect(110, 67, 80, 25));
  EXPECT_EQ(box.okButton()->text(), QStringLiteral("OK"));
  EXPECT_TRUE(box.okButton()->isDefault());
  EXPECT_EQ(box.edit()->text().toStdString(), "prefix_");
  EXPECT_EQ(box.edit()->selectedText().toStdString(), "prefix_");
  EXPECT_FALSE(box.windowFlags().testFlag(Qt::WindowCloseButtonHint));
  EXPECT_TRUE(box.isModal());
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(box.pos(),
            QPoint(screen.x() + (screen.width() - 300) / 2, screen.y() + (screen.height() - 130) / 2));
}

std::string answerWithKey(int key, const QString& typed) {
  application();
  InputBoxDialog box("t", "p", "old");
  QTimer::singleShot(0, &box, [&] {
    if (!typed.isNull()) box.edit()->setText(typed);
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(box.focusWidget() != nullptr ? box.focusWidget() : &box, &press);
  });
  box.exec();
  return box.result();
}

TEST(InputBox, EnterPressesOk) {
  EXPECT_EQ(answerWithKey(Qt::Key_Return, "new_"), "new_");
  EXPECT_EQ(answerWithKey(Qt::Key_Return, QString()), "old");
}

TEST(InputBox, EscapeCancelsWithTheEmptyText) {
  EXPECT_EQ(answerWithKey(Qt::Key_Escape, "typed"), "");
}

TEST(InputBox, OkWithAnEmptyEditAnswersEmpty) {
  EXPECT_EQ(answerWithKey(Qt::Key_Return, ""), "");
}

}  // namespace
}  // namespace pixmoor::platform
