#include "platform/eliding_line_edit.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace pixmoor::platform {

QRect ElidingLineEdit::textArea() const {
  QStyleOptionFrame option;
  initStyleOption(&option);
  const QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
  return contents.marginsRemoved(textMargins()).adjusted(2, 0, -2, 0);
}

QString ElidingLineEdit::shownText() const {
  if (hasFocus() && !isReadOnly()) return text();
  return fontMetrics().elidedText(text(), Qt::ElideRight, textArea().width());
}

void ElidingLineEdit::paintEvent(QPaintEvent* event) {
  const QString shown = shownText();
  if (shown == text()) {
    QLineEdit::paintEvent(event);
    return;
  }
  QPainter painter(this);
  QStyleOptionFrame option;
  initStyleOption(&option);
  style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
  painter.setPen(palette().color(QPalette::Text));
  painter.drawText(textArea(), static_cast<int>(alignment()) | Qt::TextSingleLine, shown);
}

}  // namespace pixmoor::platform
