// The game's four windows and its clock: the score window (which takes the
// clicks and the close request), the two bats and the ball, kept on top and
// moved in screen coordinates to follow the rules' state on every 20 ms tick.
//
// BallGameWindows owns the windows, the five pictures (dynamic Images of the
// store) and the font for its lifetime; finish() (or the destructor) closes
// the bats, the ball and then the score window and releases the pictures.
// Interface thread only, with a QApplication alive.
#pragma once

#include <QFont>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

#include "game/ball_game.h"
#include "game_rules/ball_game_rules.h"
#include "image_store/image_store.h"

class QLabel;

namespace pixmoor::game {

// A borderless window that always stays above the others and shows one
// picture in an image control at (0, 0).
class GameWindow : public QWidget {
 public:
  GameWindow(const char* title, int width, int height, QWidget* owner);
  // Replaces the shown picture with a copy of Image `number`.
  bool showPicture(const image::ImageStore& store, image::ImageId number);
  QLabel* imageControl() const { return control_; }

 private:
  QLabel* control_;
};

// The score window: a left click asks whether to end, a close request ends.
class ScoreWindow final : public GameWindow {
 public:
  ScoreWindow();
  std::function<void()> onLeftClick;
  std::function<void()> onCloseRequest;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
};

class BallGameWindows {
 public:
  BallGameWindows(image::ImageStore& store, QuitQuestion& question, RandomSource& random);
  ~BallGameWindows();
  BallGameWindows(const BallGameWindows&) = delete;
  BallGameWindows& operator=(const BallGameWindows&) = delete;

  // Makes the font and pictures, opens the windows on `frame` and starts the
  // clock. False when any of it cannot be made; what was made is freed.
  bool start(const ScreenFrame& frame, double dotsPerInch);

  // One tick of the clock: the rules, the score picture when it changed,
  // the windows' places, then onTick.
  void tick();
  // A left click on the score picture: the clock stands still while the
  // question is open; Yes ends the game, No goes on from where it stood.
  void askToQuit();
  // Ends the game at once (the score window's close request).
  void quitNow();

  bool ended() const { return state_.quitGame; }
  const BallGameState& state() const { return state_; }
  const ScreenFrame& frame() const { return frame_; }

  // onTick runs after each tick; onEnd once, when the game has been ended.
  std::function<void(const BallGameState&)> onTick;
  std::function<void()> onEnd;

  // The windows while the game runs (null before start and after the end).
  ScoreWindow* scoreWindow() const { return score_.get(); }
  GameWindow* leftBat() const { return leftBat_.get(); }
  GameWindow* rightBat() const { return rightBat_.get(); }
  GameWindow* ball() const { return ball_.get(); }
  bool clockRunning() const { return timer_.isActive(); }
  // The five pictures: label, score, left bat, right bat, ball (0 when not made).
  std::array<image::ImageId, 5> pictures() const {
    return {labelPicture_, scorePicture_, leftPicture_, rightPicture_, ballPicture_};
  }

  // Closes the windows (bats, ball, then score) and frees the pictures.
  void finish();

 private:
  bool makePictures();
  void placeWindows();
  void showScore();

  image::ImageStore& store_;
  QuitQuestion& question_;
  RandomSource& random_;
  ScreenFrame frame_;
  BallGameState state_;
  QFont font_;
  QTimer timer_;
  image::ImageId labelPicture_ = 0;
  image::ImageId scorePicture_ = 0;
  image::ImageId leftPicture_ = 0;
  image::ImageId rightPicture_ = 0;
  image::ImageId ballPicture_ = 0;
  std::unique_ptr<ScoreWindow> score_;
  std::unique_ptr<GameWindow> leftBat_;
  std::unique_ptr<GameWindow> rightBat_;
  std::unique_ptr<GameWindow> ball_;
};

}  // namespace pixmoor::game
