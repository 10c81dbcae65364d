#include "platform/menu_bar_titles.h"

#include <QMenuBar>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>

namespace pixmoor::platform {

namespace {

class EmptyTitleStyle final : public QProxyStyle {
 public:
  QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                         const QWidget* widget) const override {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (type == CT_MenuBarItem && item != nullptr && item->text.isEmpty() && item->icon.isNull()) {
      const QSize space = option->fontMetrics.size(Qt::TextShowMnemonic, QStringLiteral(" "));
      return QProxyStyle::sizeFromContents(type, option, space, widget);
    }
    return QProxyStyle::sizeFromContents(type, option, size, widget);
  }
};

}  // namespace

void keepEmptyMenuTitles(QMenuBar* bar) {
  if (bar == nullptr) return;
  auto* style = new EmptyTitleStyle;  // follows the application's style
  style->setParent(bar);
  bar->setStyle(style);
}

}  // namespace pixmoor::platform
