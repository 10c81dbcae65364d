// Takes and ignores the main window's events while the game runs.
//
// An application-wide event filter, in place for the blocker's lifetime: the
// main window and everything inside it (controls, menus' shortcuts) receive
// no input, no drops and no close request; painting and the program's own
// queued updates still go through. Interface thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace pixmoor::game {

class MainWindowBlocker final : public QObject {
 public:
  // A null window blocks nothing.
  explicit MainWindowBlocker(QWidget* mainWindow);
  ~MainWindowBlocker() override;
  MainWindowBlocker(const MainWindowBlocker&) = delete;
  MainWindowBlocker& operator=(const MainWindowBlocker&) = delete;

  // Whether an event of this type, for this object, is taken and ignored.
  bool blocks(QObject* target, const QEvent* event) const;

 protected:
  bool eventFilter(QObject* target, QEvent* event) override;

 private:
  QPointer<QWidget> mainWindow_;
};

}  // namespace pixmoor::game
