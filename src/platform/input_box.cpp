#include "platform/input_box.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "platform/program_modal.h"
#include "platform/x11_window.h"

namespace pixmoor::platform {

namespace {
QString fromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
}  // namespace

InputBoxDialog::InputBoxDialog(const std::string& title, const std::string& prompt,
                               const std::string& proposed, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      prompt_(new QLabel(fromUtf8(prompt), this)),
      edit_(new QLineEdit(fromUtf8(proposed), this)),
      ok_(new QPushButton(QStringLiteral("OK"), this)) {
  setWindowTitle(fromUtf8(title));
  setModal(true);
  setFixedSize(300, 130);
  // A title and nothing else: no minimise, maximise or close button.
  setWindowManagerButtons(this);
  prompt_->setTextFormat(Qt::PlainText);
  prompt_->setGeometry(10, 10, 280, 22);
  edit_->setGeometry(10, 32, 275, 21);
  ok_->setGeometry(110, 67, 80, 25);
  ok_->setDefault(true);
  ok_->setAutoDefault(true);
  edit_->selectAll();
  edit_->setFocus();
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
    const QRect area = screen->geometry();
    move(area.x() + (area.width() - 300) / 2, area.y() + (area.height() - 130) / 2);
  }
}

std::string InputBoxDialog::result() const {
  if (QDialog::result() != QDialog::Accepted) return {};
  return edit_->text().toStdString();
}

std::string runInputBox(const std::string& title, const std::string& prompt, const std::string& proposed,
                        QWidget* owner) {
  InputBoxDialog box(title, prompt, proposed, owner);
  execForWholeProgram(box);
  return box.result();
}

}  // namespace pixmoor::platform
