#include <QMessageBox>

#include "platform/input_box.h"
#include "platform/program_modal.h"
#include "platform/requesters.h"
#include "platform/topmost_suspension.h"

namespace pixmoor::platform {

namespace {
QString fromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Texts may come from the network (the update check shows what the server
// answered): a box never interprets markup. `enter` is the default button,
// `escape` the answer of Escape (NoButton: Qt's choice).
int runMessageBox(QMessageBox::Icon icon, const std::string& title, const std::string& text,
                  QMessageBox::StandardButtons buttons, QMessageBox::StandardButton enter,
                  QMessageBox::StandardButton escape) {
  TopmostSuspension suspension;
  QMessageBox box(icon, fromUtf8(title), fromUtf8(text), buttons, suspension.owner());
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(enter);
  if (escape != QMessageBox::NoButton) box.setEscapeButton(escape);
  return execForWholeProgram(box);
}

}  // namespace

bool QtRequesters::askYesNo(const std::string& title, const std::string& text, DefaultAnswer enter) {
  const auto defaultButton = enter == DefaultAnswer::yes ? QMessageBox::Yes : QMessageBox::No;
  return runMessageBox(QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::No, defaultButton,
                       QMessageBox::No) == QMessageBox::Yes;
}

void QtRequesters::showInformation(const std::string& title, const std::string& text) {
  runMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok, QMessageBox::Ok,
                QMessageBox::NoButton);
}

std::string QtRequesters::inputBox(const std::string& title, const std::string& prompt,
                                   const std::string& proposed) {
  TopmostSuspension suspension;
  return runInputBox(title, prompt, proposed, suspension.owner());
}

}  // namespace pixmoor::platform
