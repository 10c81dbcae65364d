// Makes a box modal for the whole program, whatever the window manager does.
//
// Qt blocks the other windows of a modal box, but it matches keyboard
// shortcuts before it looks at that block: when the window manager hands
// the focus back to the main window (a click on it, or a box that has no
// owner), a key pressed there would still run the main window's commands.
// While a ProgramModal lives, every user input event (platform/user_input.h:
// keys, shortcuts, mouse, wheel, drag and drop, close requests) for an
// object that is not part of the box is taken and ignored. Painting, timers
// and the work the batch threads queue go on. Interface thread only; scoped
// (RAII).
#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QWidget>

class QDialog;

namespace pixmoor::platform {

class ProgramModal final : public QObject {
 public:
  explicit ProgramModal(QWidget* box);
  ~ProgramModal() override;
  ProgramModal(const ProgramModal&) = delete;
  ProgramModal& operator=(const ProgramModal&) = delete;

 protected:
  bool eventFilter(QObject* target, QEvent* event) override;

 private:
  QPointer<QWidget> box_;
};

// Runs a box with exec() under a ProgramModal; answers exec()'s result.
int execForWholeProgram(QDialog& box);

}  // namespace pixmoor::platform
