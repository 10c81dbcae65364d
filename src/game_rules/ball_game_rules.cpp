// The game's tick: pause, ball flight, the two players, bounces, hits, points.
//
// Arithmetic is single precision throughout and follows the order of the
// rules as written (for instance 0.75 x n / 1000 multiplies first), so that
// a seeded game runs the same on every machine. Screen values are integers;
// their halves are integer divisions.
#include "game_rules/ball_game_rules.h"

#include <cmath>

namespace pixmoor::game {
namespace {

constexpr float kLeftNoise = 0.5f;
constexpr float kRightNoise = 3.0f;
// The predicted ball wanders with its noise; it always reaches the edge in the
// end, but the loop is bounded so that no chance can hold the window.
constexpr int kMaxPredictionSteps = 1000000;

int centredBatY(const ScreenFrame& frame) {
  return frame.y + (frame.height - kBatHeight) / 2;
}
int centredBallY(const ScreenFrame& frame) {
  return frame.y + (frame.height - kBallSize) / 2;
}

bool outOfTop(float y, float vy, const ScreenFrame& frame) {
  return y <= frame.y && vy < 0;
}
bool outOfBottom(float y, float vy, const ScreenFrame& frame) {
  return y >= frame.y + frame.height - kBallSize && vy > 0;
}

// (Random(d) - d / 2) x k: the spread of a guess after d pixels of flight.
float noiseAfter(int d, float k, RandomSource& random) {
  return static_cast<float>(random.next(d) - d / 2) * k;
}

void moveBat(float& batY, float target, int upperLimit, int lowerLimit) {
  if (target + 4 < batY + static_cast<float>(upperLimit)) {
    batY -= 8;
  } else if (target + 4 > batY + static_cast<float>(lowerLimit)) {
    batY += 8;
  }
}

// A new direction away from the bat that hit, at a random speed.
void hitBall(BallGameState& s, const ScreenFrame& frame, RandomSource& random) {
  const float r = static_cast<float>(random.next(1000)) / 1000.0f;
  s.speed = 10.0f + 10.0f * (r * r);
  s.dirX = 0.25f + 0.75f * static_cast<float>(random.next(1000)) / 1000.0f;
  if (s.ballX > static_cast<float>(frame.x + kBatWidth)) {
    s.dirX = -s.dirX;
  }
  s.dirY = std::sqrt(1.0f - s.dirX * s.dirX);
  if (random.next(1) == 1) {
    s.dirY = -s.dirY;
  }
}

// After a point: both bats centred, the winner's serve waits three seconds.
void servePoint(BallGameState& s, const ScreenFrame& frame, bool leftServes) {
  s.scoreChanged = true;
  s.leftY = static_cast<float>(centredBatY(frame));
  s.rightY = s.leftY;
  s.ballX = static_cast<float>(leftServes ? frame.x + 25 : frame.x + frame.width - 33);
  s.ballY = static_cast<float>(centredBallY(frame));
  s.dirX = leftServes ? -1.0f : 1.0f;
  s.dirY = 0;
  s.speed = 1;
  s.pauseTicks = kPointPause;
}

}  // namespace

int SeededRandom::next(int n) {
  if (n <= 0) return 0;
  return std::uniform_int_distribution<int>(0, n)(engine_);
}

int nearestInt(float v) {
  // Screen positions are far inside int; anything else is clamped rather
  // than left to an undefined conversion.
  constexpr float kLimit = 1073741824.0f;
  if (std::isnan(v)) return 0;
  if (v >= kLimit) return static_cast<int>(kLimit);
  if (v <= -kLimit) return -static_cast<int>(kLimit);
  return static_cast<int>(std::nearbyint(v));
}

BallGameState initialState(const ScreenFrame& frame) {
  BallGameState s;
  s.ballX = static_cast<float>(frame.x + 25);
  s.ballY = static_cast<float>(centredBallY(frame));
  s.leftY = static_cast<float>(centredBatY(frame));
  s.rightY = s.leftY;
  return s;
}

float predictBallY(const BallGameState& state, const ScreenFrame& frame, RandomSource& random, float noise,
                   bool leftPlayer) {
  float px = state.ballX;
  float py = state.ballY;
  float pvy = state.dirY;
  int bx = nearestInt(px);
  int by = nearestInt(py);
  const float edge = static_cast<float>(leftPlayer ? frame.x : frame.x + frame.width);
  int steps = 0;
  do {
    px += state.dirX * state.speed;
    py += pvy * state.speed;
    if (outOfTop(py, pvy, frame) || outOfBottom(py, pvy, frame)) {
      const int d =
          nearestInt(std::fabs(py - static_cast<float>(by)) + std::fabs(px - static_cast<float>(bx)));
      pvy = -pvy;
      px += noiseAfter(d, noise, random);
      bx = nearestInt(px);
      by = nearestInt(py);
    }
  } while ((leftPlayer ? px > edge : px < edge) && ++steps < kMaxPredictionSteps);
  const int d = nearestInt(std::fabs(py - static_cast<float>(by)) + std::fabs(px - static_cast<float>(bx)));
  return py + noiseAfter(d, noise, random);
}

float waitingPosition(const ScreenFrame& frame, RandomSource& random) {
  const float r = static_cast<float>(random.next(1000)) / 500.0f;
  const int half = frame.height / 2;
  return static_cast<float>(frame.y + half) - static_cast<float>(half) * ((1.0f - r) * (1.0f - r));
}

bool leftBatHits(const BallGameState& s, const ScreenFrame& frame) {
  return s.ballX <= static_cast<float>(frame.x + kBatWidth) && s.leftY + 8 < s.ballY &&
         s.ballY < s.leftY + 119;
}

bool rightBatHits(const BallGameState& s, const ScreenFrame& frame) {
  return s.ballX >= static_cast<float>(frame.x + frame.width - 32) && s.rightY + 8 < s.ballY &&
         s.ballY < s.rightY + 119;
}

void tick(BallGameState& s, const ScreenFrame& frame, RandomSource& random) {
  if (s.pauseTicks > 0) {
    --s.pauseTicks;
    return;
  }
  s.ballX += s.dirX * s.speed;
  s.ballY += s.dirY * s.speed;

  // Each player follows its guess slowly while the ball comes, and picks a
  // waiting place once per rally while it goes away.
  if (s.dirX < 0) {
    const float predicted = predictBallY(s, frame, random, kLeftNoise, true);
    s.leftTarget = s.leftTarget * 0.98f + predicted * 0.02f;
    s.leftIdle = false;
  } else if (!s.leftIdle) {
    s.leftIdle = true;
    s.leftTarget = waitingPosition(frame, random);
  }
  moveBat(s.leftY, s.leftTarget, 48, 80);

  if (s.dirX > 0) {
    const float predicted = predictBallY(s, frame, random, kRightNoise, false);
    s.rightTarget = s.rightTarget * 0.98f + predicted * 0.02f;
    s.rightIdle = false;
  } else if (!s.rightIdle) {
    s.rightIdle = true;
    s.rightTarget = waitingPosition(frame, random);
  }
  moveBat(s.rightY, s.rightTarget, 24, 104);

  if (outOfTop(s.ballY, s.dirY, frame) || outOfBottom(s.ballY, s.dirY, frame)) {
    s.dirY = -s.dirY;
  }

  // Tested on every tick: a ball still in a bat's zone is sent off again.
  if (leftBatHits(s, frame) || rightBatHits(s, frame)) {
    hitBall(s, frame, random);
  }

  if (s.ballX < static_cast<float>(frame.x)) {
    ++s.rightScore;
    servePoint(s, frame, /*leftServes=*/false);
  }
  if (s.ballX >= static_cast<float>(frame.x + frame.width)) {
    ++s.leftScore;
    servePoint(s, frame, /*leftServes=*/true);
  }
}

WindowPlaces windowPlaces(const BallGameState& s, const ScreenFrame& frame) {
  WindowPlaces places;
  places.score = {frame.x + (frame.width - kScoreWidth) / 2, frame.y};
  places.leftBat = {frame.x, nearestInt(s.leftY)};
  places.rightBat = {frame.x + frame.width - kBatWidth, nearestInt(s.rightY)};
  places.ball = {nearestInt(s.ballX), nearestInt(s.ballY)};
  return places;
}

}  // namespace pixmoor::game
