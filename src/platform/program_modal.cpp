#include "platform/program_modal.h"

#include <QCoreApplication>
#include <QDialog>
#include <QWindow>

#include "platform/user_input.h"

namespace pixmoor::platform {

namespace {

// The object is the box, one of its children, or a popup opened from one
// of them (a popup's parent is the widget that opened it).
bool partOf(const QObject* object, const QObject* box) {
  for (const QObject* o = object; o != nullptr; o = o->parent()) {
    if (o == box) return true;
  }
  return false;
}

}  // namespace

ProgramModal::ProgramModal(QWidget* box) : box_(box) {
  if (box_ != nullptr && QCoreApplication::instance() != nullptr) {
    QCoreApplication::instance()->installEventFilter(this);
  }
}

ProgramModal::~ProgramModal() {
  if (QCoreApplication::instance() != nullptr) QCoreApplication::instance()->removeEventFilter(this);
}

bool ProgramModal::eventFilter(QObject* target, QEvent* event) {
  // Native windows are left to Qt, which routes their input to widgets; the
  // widgets, shortcuts and actions are what is held back here.
  if (box_ != nullptr && isUserInput(event->type()) && !target->isWindowType() && !partOf(target, box_)) {
    event->ignore();  // an accepted close event would still close its window
    return true;
  }
  return QObject::eventFilter(target, event);
}

int execForWholeProgram(QDialog& box) {
  ProgramModal modal(&box);
  return box.exec();
}

}  // namespace pixmoor::platform
