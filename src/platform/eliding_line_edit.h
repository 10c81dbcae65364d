// A one-line edit that, when its text is wider than its box and the user is
// not editing it, shows the text's beginning followed by an ellipsis instead
// of scrolling to its end or clipping it.
//
// text() always answers the whole text; only the painting shortens it.
// Interface thread only.
#pragma once

#include <QLineEdit>

namespace pixmoor::platform {

class ElidingLineEdit : public QLineEdit {
 public:
  explicit ElidingLineEdit(QWidget* parent = nullptr) : QLineEdit(parent) {}

  // The text as painted: the whole text, or its elided form.
  QString shownText() const;
  // Where the text is drawn: the contents less the text margins and the
  // line edit's own 2 px on each side.
  QRect textArea() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace pixmoor::platform
