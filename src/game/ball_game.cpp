// runBallGame: set-up, the game's own event loop, and the clean end.
#include "game/ball_game.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <chrono>

#include "game/ball_game_window.h"
#include "game/main_window_blocker.h"
#include "platform/program_modal.h"

namespace pixmoor::game {
namespace {

std::uint32_t clockSeed() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  return static_cast<std::uint32_t>(now) ^ static_cast<std::uint32_t>(static_cast<std::uint64_t>(now) >> 32);
}

void endProgram(const BallGameSetup& setup) {
  if (setup.endProgram) setup.endProgram();
}

}  // namespace

bool MessageBoxQuitQuestion::confirmQuit() {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Joujou anti fausse alert virus"),
                  QStringLiteral("Souhaitez-vous quitter cette partie passionnante ?"),
                  QMessageBox::Yes | QMessageBox::No);
  box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  box.setTextFormat(Qt::PlainText);
  // Nothing else of the program, the game's windows included, takes input
  // until the question is answered.
  return platform::execForWholeProgram(box) == QMessageBox::Yes;
}

void runBallGame(const BallGameSetup& setup) {
  if (setup.store == nullptr) {
    endProgram(setup);
    return;
  }
  // The screen is read once, from a fresh look at the displays.
  ScreenFrame frame;
  double dotsPerInch = 96.0;
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen != nullptr) {
    dotsPerInch = screen->logicalDotsPerInchY();
  }
  if (setup.screen) {
    frame = *setup.screen;
  } else if (screen != nullptr) {
    const QRect geometry = screen->geometry();
    frame = {geometry.x(), geometry.y(), geometry.width(), geometry.height()};
  } else {
    endProgram(setup);
    return;
  }

  MessageBoxQuitQuestion messageBox;
  SeededRandom random(setup.seed ? *setup.seed : clockSeed());
  BallGameWindows game(*setup.store, setup.question != nullptr ? *setup.question : messageBox, random);
  if (!game.start(frame, dotsPerInch)) {
    endProgram(setup);
    return;
  }

  MainWindowBlocker blocker(setup.mainWindow);
  QEventLoop loop;
  game.onTick = setup.onTick;
  game.onEnd = [&loop] { loop.quit(); };
  if (!game.ended()) {
    loop.exec();
  }
  game.finish();
}

}  // namespace pixmoor::game
