// Suspends the program's own topmost windows around a modal box.
//
// On construction every visible top-level window of the program that stays
// on top loses that flag, and each of them that is enabled and not the
// active window is disabled. The destructor gives both back. Interface
// thread only; scoped (RAII).
#pragma once

#include <QPointer>
#include <QWidget>
#include <vector>

namespace pixmoor::platform {

class TopmostSuspension {
 public:
  TopmostSuspension();
  ~TopmostSuspension();
  TopmostSuspension(const TopmostSuspension&) = delete;
  TopmostSuspension& operator=(const TopmostSuspension&) = delete;

  // The window that should own the box: the program's active window, if any.
  QWidget* owner() const { return owner_; }

 private:
  struct Suspended {
    QPointer<QWidget> window;
    bool disabled = false;
  };
  std::vector<Suspended> suspended_;
  QWidget* owner_ = nullptr;
};

// Sets or clears a top-level window's stay-on-top flag without hiding it or
// replacing its native window.
void setStaysOnTop(QWidget* window, bool onTop);

}  // namespace pixmoor::platform
