// Skinned buttons: colours of both faces, the focus frame and the rule of
// the drawn font.
#include "platform/skinned_button.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>

#include "platform/balloon_tip.h"
#include "qt_application.h"

namespace pixmoor::platform {
namespace {

QApplication& application() {
  return pixmoor::testing::qtApplication();
}

TEST(SkinnedButton, FontShowsOnlyAfterASizeOrCaptionChange) {
  application();
  SkinnedButton button;
  button.setGeometry(0, 0, 100, 30);
  button.show();  // size changes reach a shown button at once
  const QFont first("Microsoft Sans Serif", 7);
  const QFont second("Arial black", 10);
  button.setFont(first);
  button.setCaption("Go");
  EXPECT_EQ(button.drawnFont().pointSize(), 7);
  button.setFont(second);
  EXPECT_EQ(button.drawnFont().pointSize(), 7);  // a font change alone is not drawn
  button.setGeometry(0, 0, 100, 30);             // same size: nothing drawn
  EXPECT_EQ(button.drawnFont().pointSize(), 7);
  button.resize(100, 20);
  EXPECT_EQ(button.drawnFont().pointSize(), 10);
  button.setFont(first);
  button.setCaption("Again");
  EXPECT_EQ(button.drawnFont().pointSize(), 7);
  EXPECT_EQ(button.caption(), "Again");
}

TEST(SkinnedButton, FontChangeAloneLeavesTheFaceAsDrawn) {
  application();
  SkinnedButton button;
  button.resize(120, 30);
  button.show();
  button.setFont(QFont("Microsoft Sans Serif", 7));
  button.setCaption("Mode Libre");
  QImage before(120, 30, QImage::Format_RGB32);
  button.render(&before);
  QFont heavy("Arial black", 10);
  heavy.setWeight(QFont::Black);
  button.setFont(heavy);
  QImage after(120, 30, QImage::Format_RGB32);
  button.render(&after);
  EXPECT_EQ(before, after);
  button.resize(120, 20);  // now the heavy font is drawn
  QImage redrawn(120, 20, QImage::Format_RGB32);
  button.render(&redrawn);
  EXPECT_NE(redrawn, before.copy(0, 0, 120, 20));
}

TEST(SkinnedButton, FaceColours) {
  application();
  SkinnedButton button;
  button.resize(60, 20);
  button.setCaption("");
  QImage face(60, 20, QImage::Format_RGB32);
  button.render(&face);
  EXPECT_EQ(QColor(face.pixel(30, 10)), QColor(252, 233, 167));
  button.setDown(true);
  button.render(&face);
  EXPECT_EQ(QColor(face.pixel(30, 10)), QColor(241, 189, 7));
}

TEST(SkinnedButton, FocusFrame) {
  application();
  SkinnedButton button;  // no caption: every black pixel is the frame's
  button.resize(60, 20);
  button.show();
  QApplication::setActiveWindow(&button);
  QImage face(60, 20, QImage::Format_RGB32);
  auto blackIn = [&face](int x) {
    int count = 0;
    for (int y = 0; y < face.height(); ++y) count += QColor(face.pixel(x, y)) == Qt::black ? 1 : 0;
    return count;
  };
  button.setFocus();
  ASSERT_TRUE(button.hasFocus());
  button.render(&face);
  EXPECT_GT(blackIn(kFocusInset), 0);  // the frame's left side
  EXPECT_EQ(blackIn(kFocusInset - 1), 0);
  button.clearFocus();
  button.render(&face);
  EXPECT_EQ(blackIn(kFocusInset), 0);
}

TEST(BalloonTip, TitleIconAndLines) {
  const std::string withTitle = balloonTipHtml("Mode Relatif \r(pour photo)", "Aide").toStdString();
  EXPECT_NE(withTitle.find("<b>Aide</b><br>Mode Relatif <br>(pour photo)"), std::string::npos);
  EXPECT_NE(withTitle.find("&nbsp;i&nbsp;"), std::string::npos);
  EXPECT_NE(withTitle.find("max-width:180px"), std::string::npos);
  const std::string plain = balloonTipHtml("a < b & c", "").toStdString();
  EXPECT_EQ(plain.find("<b>"), std::string::npos);
  EXPECT_EQ(plain.find("&nbsp;i&nbsp;"), std::string::npos);
  EXPECT_NE(plain.find("a &lt; b &amp; c"), std::string::npos);
}

}  // namespace
}  // namespace pixmoor::platform
