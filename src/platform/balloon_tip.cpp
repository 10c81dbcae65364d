#include "platform/balloon_tip.h"

#include <QWidget>

namespace pixmoor::platform {

namespace {

QString escapedLines(const std::string& text) {
  QString html = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toHtmlEscaped();
  html.replace(QStringLiteral("\r\n"), QStringLiteral("<br>"));
  html.replace(QLatin1Char('\r'), QStringLiteral("<br>"));
  html.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
  return html;
}

}  // namespace

QString balloonTipHtml(const std::string& text, const std::string& title) {
  QString html = QStringLiteral("<table width=\"%1\" style=\"max-width:%1px\"><tr>").arg(kBalloonMaxWidth);
  if (!title.empty()) {
    // The information icon: a blue disc with a white "i", drawn in text so
    // that the tip needs no picture resource.
    html += QStringLiteral(
        "<td valign=\"top\"><span style=\"background-color:#1e5ac8;color:#ffffff;"
        "font-weight:bold\">&nbsp;i&nbsp;</span></td>");
  }
  html += QStringLiteral("<td>");
  if (!title.empty()) html += QStringLiteral("<b>") + escapedLines(title) + QStringLiteral("</b><br>");
  html += escapedLines(text) + QStringLiteral("</td></tr></table>");
  return html;
}

void AddBalloonTip(QWidget* control, const std::string& text, const std::string& title) {
  if (control == nullptr) return;
  control->setToolTip(balloonTipHtml(text, title));
}

}  // namespace pixmoor::platform
