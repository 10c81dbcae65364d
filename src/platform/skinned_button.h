// A flat button drawn by the program: black caption, centred, on the button
// face colour (252,233,167), on the pressed face colour (241,189,7) while it
// is held down; a black dotted frame 3 px inside its edge while it has the
// keyboard focus.
//
// The caption is drawn with the font the button had at its last change of
// size or caption: a change of font alone shows only at the next such
// change (the face pictures are drawn then and kept). Interface thread only.
#pragma once

#include <QColor>
#include <QFont>
#include <QPushButton>
#include <string>

namespace pixmoor::platform {

inline const QColor kButtonFace{252, 233, 167};
inline const QColor kPressedFace{241, 189, 7};
inline constexpr int kFocusInset = 3;

class SkinnedButton : public QPushButton {
 public:
  explicit SkinnedButton(QWidget* parent = nullptr);

  // Changes the caption and draws the faces again with the current font.
  void setCaption(const std::string& text);
  std::string caption() const;

  // The font the faces were last drawn with.
  const QFont& drawnFont() const { return drawnFont_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QFont drawnFont_;
};

}  // namespace pixmoor::platform
