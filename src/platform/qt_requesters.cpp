#include <QMessageBox>

#include "platform/input_box.h"
#include "platform/requesters.h"
#include "platform/topmost_suspension.h"

namespace pixmoor::platform {

namespace {
QString fromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
}  // namespace

bool QtRequesters::askYesNo(const std::string& title, const std::string& text) {
  TopmostSuspension suspension;
  QMessageBox box(QMessageBox::NoIcon, fromUtf8(title), fromUtf8(text), QMessageBox::Yes | QMessageBox::No,
                  suspension.owner());
  return box.exec() == QMessageBox::Yes;
}

void QtRequesters::showInformation(const std::string& title, const std::string& text) {
  TopmostSuspension suspension;
  QMessageBox box(QMessageBox::Information, fromUtf8(title), fromUtf8(text), QMessageBox::Ok,
                  suspension.owner());
  box.exec();
}

std::string QtRequesters::inputBox(const std::string& title, const std::string& prompt,
                                   const std::string& proposed) {
  TopmostSuspension suspension;
  return runInputBox(title, prompt, proposed, suspension.owner());
}

}  // namespace pixmoor::platform
