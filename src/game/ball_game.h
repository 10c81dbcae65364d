// The hidden ball game: two computer players across the whole primary
// screen, in four small borderless windows kept above every other window.
//
// runBallGame builds the windows and pictures, runs the game in its own
// event loop until the user ends it, frees everything it made and returns.
// While it runs, the main window's events (commands, drops, its close
// request) are taken and ignored; threads of a running batch go on.
// Interface thread only, with a QApplication alive. The game's pictures are
// dynamic Images of the given store, released before returning. A set-up
// failure (font, pictures, screen, windows) ends the whole program through
// the caller's endProgram, without a message.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "game_rules/ball_game_rules.h"

class QWidget;

namespace pixmoor::image {
class ImageStore;
}

namespace pixmoor::game {

// Asks whether to end the game after a click on the score window.
class QuitQuestion {
 public:
  virtual ~QuitQuestion() = default;
  // True when the user answers Yes. The game stands still while it runs.
  virtual bool confirmQuit() = 0;
};

// Called once per tick after the windows have moved (tests watch the game
// through it; the program leaves it empty).
using TickObserver = std::function<void(const BallGameState&)>;

struct BallGameSetup {
  image::ImageStore* store = nullptr;  // where the game's pictures live
  QWidget* mainWindow = nullptr;       // its events are ignored while the game runs (may be null)
  std::function<void()> endProgram;    // the common end, called when set-up fails
  QuitQuestion* question = nullptr;    // null: a Yes/No message box
  std::optional<ScreenFrame> screen;   // empty: the primary screen's geometry
  std::optional<std::uint32_t> seed;   // empty: seeded from the clock
  TickObserver onTick;
};

// The Yes/No box: "Joujou anti fausse alert virus" /
// "Souhaitez-vous quitter cette partie passionnante ?".
class MessageBoxQuitQuestion final : public QuitQuestion {
 public:
  bool confirmQuit() override;
};

void runBallGame(const BallGameSetup& setup);

}  // namespace pixmoor::game
