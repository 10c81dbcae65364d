// The event filter that keeps the main window still during the game.
#include "game/main_window_blocker.h"

#include <QCoreApplication>
#include <QEvent>

#include "platform/user_input.h"

namespace pixmoor::game {
namespace {

// The object itself or one of its QObject parents is `root`: covers the
// window's controls and the shortcuts and actions it owns.
bool belongsTo(const QObject* object, const QObject* root) {
  for (const QObject* o = object; o != nullptr; o = o->parent()) {
    if (o == root) return true;
  }
  return false;
}

}  // namespace

MainWindowBlocker::MainWindowBlocker(QWidget* mainWindow) : mainWindow_(mainWindow) {
  if (mainWindow_ && QCoreApplication::instance() != nullptr) {
    QCoreApplication::instance()->installEventFilter(this);
  }
}

MainWindowBlocker::~MainWindowBlocker() {
  if (QCoreApplication::instance() != nullptr) {
    QCoreApplication::instance()->removeEventFilter(this);
  }
}

bool MainWindowBlocker::blocks(QObject* target, const QEvent* event) const {
  return mainWindow_ && target != nullptr && platform::isUserInput(event->type()) &&
         belongsTo(target, mainWindow_.data());
}

bool MainWindowBlocker::eventFilter(QObject* target, QEvent* event) {
  if (blocks(target, event)) {
    // A close event left accepted would still close the window.
    event->ignore();
    return true;
  }
  return QObject::eventFilter(target, event);
}

}  // namespace pixmoor::game
