#include "platform/skinned_button.h"

#include <QPainter>
#include <QResizeEvent>

namespace pixmoor::platform {

namespace {

// The faces keep every property of the font they were drawn with; a painter
// would otherwise fill unset ones from the button's current font.
QFont frozen(QFont font) {
  font.setResolveMask(QFont::AllPropertiesResolved);
  return font;
}

}  // namespace

SkinnedButton::SkinnedButton(QWidget* parent) : QPushButton(parent), drawnFont_(frozen(font())) {
  setFlat(true);
}

void SkinnedButton::setCaption(const std::string& text) {
  setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  drawnFont_ = frozen(font());
  update();
}

std::string SkinnedButton::caption() const {
  return text().toStdString();
}

void SkinnedButton::resizeEvent(QResizeEvent* event) {
  QPushButton::resizeEvent(event);
  drawnFont_ = frozen(font());
}

void SkinnedButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), isDown() ? kPressedFace : kButtonFace);
  painter.setPen(Qt::black);
  painter.setFont(drawnFont_);
  painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
  if (hasFocus()) {
    // The keyboard's place: a dotted frame inside the face.
    painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
    painter.drawRect(rect().adjusted(kFocusInset, kFocusInset, -kFocusInset - 1, -kFocusInset - 1));
  }
}

}  // namespace pixmoor::platform
