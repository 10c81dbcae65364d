// Keyboard shortcuts of the main window raise their commands, also while
// the keyboard focus is in one of the number fields.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>

#include "gui_test_support.h"

namespace pixmoor::app {
namespace {

using testing::HarnessOptions;
using testing::ProgramHarness;

void focusField(ProgramHarness& harness, int number) {
  harness.window().show();
  harness.window().activateWindow();
  QApplication::setActiveWindow(&harness.window());
  harness.window().control(number)->setFocus();
  ProgramHarness::settle();
}

TEST(Shortcuts, FrenchKeysFromAFocusedField) {
  ProgramHarness harness;
  focusField(harness, control::landscapeField);
  QTest::keyClick(harness.window().control(control::landscapeField), Qt::Key_L);
  EXPECT_EQ(harness.window().text(control::infoArea), harness.texts().aboutText);
  EXPECT_EQ(harness.window().text(control::landscapeField), "1920");  // the letter did not reach the field
  QTest::keyClick(harness.window().control(control::landscapeField), Qt::Key_D);
  EXPECT_EQ(harness.opened, (std::vector<std::string>{"http://www.pixmoor.example/don.php"}));
  QTest::keyClick(harness.window().control(control::landscapeField), Qt::Key_5);
  EXPECT_EQ(harness.window().text(control::landscapeField), "19205");  // digits still go to the field
  QTest::keyClick(harness.window().control(control::landscapeField), Qt::Key_Q);
  EXPECT_TRUE(harness.state.quitRequested);
  EXPECT_EQ(harness.userGroup().at("Taille_Paysage"), "19205");
}

TEST(Shortcuts, EnglishKeys) {
  HarnessOptions options;
  options.language = "UK";
  ProgramHarness harness(options);
  focusField(harness, control::portraitField);
  QTest::keyClick(harness.window().control(control::portraitField), Qt::Key_Q);  // not a shortcut here
  EXPECT_FALSE(harness.state.quitRequested);
  QTest::keyClick(harness.window().control(control::portraitField), Qt::Key_A);
  EXPECT_EQ(harness.window().text(control::infoArea), harness.texts().aboutText);
  QTest::keyClick(harness.window().control(control::portraitField), Qt::Key_E);
  EXPECT_TRUE(harness.state.quitRequested);
}

TEST(Shortcuts, CtrlOStartsTheGameOnlyInFrench) {
  for (const auto& [language, runs] : {std::pair("FR", 1), std::pair("UK", 0), std::pair("DE", 0)}) {
    HarnessOptions options;
    options.language = language;
    ProgramHarness harness(options);
    focusField(harness, control::landscapeField);
    QTest::keyClick(harness.window().control(control::landscapeField), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(harness.ballGameRuns, runs) << language;
  }
}

}  // namespace
}  // namespace pixmoor::app
