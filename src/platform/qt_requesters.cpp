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
// answered): a box never interprets markup.
int runMessageBox(QMessageBox::Icon icon, const std::string& title, const std::string& text,
                  QMessageBox::StandardButtons buttons) {
  TopmostSuspension suspension;
  QMessageBox box(icon, fromUtf8(title), fromUtf8(text), buttons, suspension.owner());
  box.setTextFormat(Qt::PlainText);
  return execForWholeProgram(box);
}

}  // namespace

bool QtRequesters::askYesNo(const std::string& title, const std::string& text) {
  return runMessageBox(QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

void QtRequesters::showInformation(const std::string& title, const std::string& text) {
  runMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok);
}

std::string QtRequesters::inputBox(const std::string& title, const std::string& prompt,
                                   const std::string& proposed) {
  TopmostSuspension suspension;
  return runInputBox(title, prompt, proposed, suspension.owner());
}

}  // namespace pixmoor::platform
