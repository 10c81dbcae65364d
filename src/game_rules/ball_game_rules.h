// The rules of the bat-and-ball game: the state of one game and the 20 ms
// tick that moves it on, with no windows and no clock.
//
// The windows (ball_game_window.h) call tick() from their timer and show the
// result; tests call it directly, tick by tick, with a seeded generator. All
// positions are screen pixels kept in single-precision floats; they become
// integers only in windowPlaces(), when the windows are moved. Plain data,
// no allocation, no failure: any thread may use its own state. Qt-free.
#pragma once

#include <cstdint>
#include <random>

namespace pixmoor::game {

// The frame of the screen the game is played on: origin and size in pixels.
struct ScreenFrame {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// Sizes of the four windows.
inline constexpr int kScoreWidth = 128;
inline constexpr int kScoreHeight = 24;
inline constexpr int kBatWidth = 24;
inline constexpr int kBatHeight = 128;
inline constexpr int kBallSize = 8;

// Ticks of stillness before the opening serve and after every point.
inline constexpr std::int32_t kOpeningPause = 50;
inline constexpr std::int32_t kPointPause = 150;
// Milliseconds between two ticks.
inline constexpr int kTickMilliseconds = 20;

// The game's source of chance: next(n) is a uniformly distributed integer
// from 0 to n inclusive (n >= 0).
class RandomSource {
 public:
  virtual ~RandomSource() = default;
  virtual int next(int n) = 0;
};

// A Mersenne twister behind RandomSource; the same seed gives the same game.
class SeededRandom final : public RandomSource {
 public:
  explicit SeededRandom(std::uint32_t seed) : engine_(seed) {}
  int next(int n) override;

 private:
  std::mt19937 engine_;
};

struct BallGameState {
  float ballX = 0;  // top-left corner of the ball
  float ballY = 0;
  float dirX = -1;  // direction of travel, a unit vector after every bat hit
  float dirY = 0;
  float speed = 1;  // pixels per tick along the direction
  float leftY = 0;  // top edge of each bat
  float rightY = 0;
  float leftTarget = 0;  // where each player wants the ball's top edge
  float rightTarget = 0;
  bool leftIdle = false;  // the player has picked its waiting position for this rally
  bool rightIdle = false;
  std::int32_t leftScore = 0;   // the "QVLM" player
  std::int32_t rightScore = 0;  // the "AntiVirus" player
  bool scoreChanged = true;     // the score picture must be redrawn (the view clears it)
  std::int32_t pauseTicks = kOpeningPause;
  bool quitGame = false;
};

// The state at the start of a game on `frame`: both bats centred, the ball
// waiting one pixel outside the left bat's zone for the opening serve.
BallGameState initialState(const ScreenFrame& frame);

// One tick: counts the pause down, or moves the ball, lets both players
// predict and move their bats, bounces the ball off the top and bottom of
// the screen, hits it with a bat, and scores a miss with its serve. Leaves
// scoreChanged set when the score picture needs redrawing.
void tick(BallGameState& state, const ScreenFrame& frame, RandomSource& random);

// Where a player expects the ball's top edge when it reaches its edge of the
// screen, with noise growing with the distance since the last bounce.
// `noise` is the player's factor (0.5 left, 3.0 right); `leftPlayer` picks
// the edge (DX for the left player, DX + DW for the right one).
float predictBallY(const BallGameState& state, const ScreenFrame& frame, RandomSource& random, float noise,
                   bool leftPlayer);

// A bat's waiting position while the ball moves away from it: in the upper
// half of the screen, most often near its middle.
float waitingPosition(const ScreenFrame& frame, RandomSource& random);

// Whether each bat would hit the ball where it stands now (limits exclusive).
bool leftBatHits(const BallGameState& state, const ScreenFrame& frame);
bool rightBatHits(const BallGameState& state, const ScreenFrame& frame);

struct WindowPoint {
  int x = 0;
  int y = 0;
  bool operator==(const WindowPoint&) const = default;
};

// The screen positions of the four windows for `state`.
struct WindowPlaces {
  WindowPoint score;
  WindowPoint leftBat;
  WindowPoint rightBat;
  WindowPoint ball;
  bool operator==(const WindowPlaces&) const = default;
};
WindowPlaces windowPlaces(const BallGameState& state, const ScreenFrame& frame);

// The nearest integer to v (ties to even, as the processor rounds).
int nearestInt(float v);

}  // namespace pixmoor::game
