#include "platform/drop_down_list.h"

#include <QProxyStyle>
#include <QStyleOptionComboBox>

namespace pixmoor::platform {

namespace {

// The application's style with a narrower arrow button; the caption's field
// takes what the arrow gives up.
class NarrowArrowStyle final : public QProxyStyle {
 public:
  QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                       const QWidget* widget) const override {
    QRect rect = QProxyStyle::subControlRect(control, option, part, widget);
    if (control != CC_ComboBox || (part != SC_ComboBoxArrow && part != SC_ComboBoxEditField)) return rect;
    const QRect arrow = QProxyStyle::subControlRect(control, option, SC_ComboBoxArrow, widget);
    const int spare = arrow.width() - kDropDownArrowWidth;
    if (spare <= 0) return rect;
    if (part == SC_ComboBoxArrow) return rect.adjusted(spare, 0, 0, 0);
    return rect.adjusted(0, 0, spare, 0);
  }
};

}  // namespace

DropDownList::DropDownList(QWidget* parent) : QComboBox(parent) {
  auto* narrow = new NarrowArrowStyle;  // follows the application's style
  narrow->setParent(this);
  setStyle(narrow);
}

}  // namespace pixmoor::platform
