#include "game_rules/ball_game_rules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

namespace pixmoor::game {
namespace {

constexpr ScreenFrame kFullHd{0, 0, 1920, 1080};

// Answers by a rule and remembers every n it was asked for.
class ScriptedRandom : public RandomSource {
 public:
  explicit ScriptedRandom(std::function<int(int)> rule) : rule_(std::move(rule)) {}
  int next(int n) override {
    asked.push_back(n);
    return rule_(n);
  }
  std::vector<int> asked;

 private:
  std::function<int(int)> rule_;
};

// The middle answer: no noise in any guess.
ScriptedRandom middle() {
  return ScriptedRandom([](int n) { return n / 2; });
}

TEST(BallGameRulesTest, StartPlacesOnAFullHdScreen) {
  const BallGameState s = initialState(kFullHd);
  const WindowPlaces places = windowPlaces(s, kFullHd);
  EXPECT_EQ(places.score, (WindowPoint{896, 0}));
  EXPECT_EQ(places.leftBat, (WindowPoint{0, 476}));
  EXPECT_EQ(places.rightBat, (WindowPoint{1896, 476}));
  EXPECT_EQ(places.ball, (WindowPoint{25, 536}));
  EXPECT_EQ(s.dirX, -1.0f);
  EXPECT_EQ(s.dirY, 0.0f);
  EXPECT_EQ(s.speed, 1.0f);
  EXPECT_EQ(s.leftTarget, 0.0f);
  EXPECT_EQ(s.rightTarget, 0.0f);
  EXPECT_FALSE(s.leftIdle);
  EXPECT_FALSE(s.rightIdle);
  EXPECT_EQ(s.leftScore, 0);
  EXPECT_EQ(s.rightScore, 0);
  EXPECT_TRUE(s.scoreChanged);
  EXPECT_EQ(s.pauseTicks, 50);
  EXPECT_FALSE(s.quitGame);
}

struct PlacesRow {
  ScreenFrame frame;
  WindowPlaces expected;
};

TEST(BallGameRulesTest, StartPlacesFollowTheScreenFrame) {
  const PlacesRow rows[] = {
      {{0, 0, 1920, 1080}, {{896, 0}, {0, 476}, {1896, 476}, {25, 536}}},
      {{0, 0, 1024, 768}, {{448, 0}, {0, 320}, {1000, 320}, {25, 380}}},
      {{-1280, 100, 1280, 1024}, {{-704, 100}, {-1280, 548}, {-24, 548}, {-1255, 608}}},
      // Odd sizes: halves are integer divisions, truncated towards zero.
      {{0, 0, 1367, 769}, {{619, 0}, {0, 320}, {1343, 320}, {25, 380}}},
      {{0, 0, 101, 100}, {{-13, 0}, {0, -14}, {77, -14}, {25, 46}}},
  };
  for (const PlacesRow& row : rows) {
    EXPECT_EQ(windowPlaces(initialState(row.frame), row.frame), row.expected)
        << row.frame.x << "," << row.frame.y << " " << row.frame.width << "x" << row.frame.height;
  }
}

TEST(BallGameRulesTest, NearestIntRoundsHalvesToEven) {
  EXPECT_EQ(nearestInt(0.4f), 0);
  EXPECT_EQ(nearestInt(0.5f), 0);
  EXPECT_EQ(nearestInt(0.6f), 1);
  EXPECT_EQ(nearestInt(1.5f), 2);
  EXPECT_EQ(nearestInt(2.5f), 2);
  EXPECT_EQ(nearestInt(-0.5f), 0);
  EXPECT_EQ(nearestInt(-1.5f), -2);
  EXPECT_EQ(nearestInt(-2.6f), -3);
  EXPECT_EQ(nearestInt(475.9f), 476);
  EXPECT_EQ(nearestInt(NAN), 0);
  EXPECT_EQ(nearestInt(1e20f), 1 << 30);
  EXPECT_EQ(nearestInt(-1e20f), -(1 << 30));
}

TEST(BallGameRulesTest, NothingMovesDuringTheOpeningPause) {
  SeededRandom random(7);
  const BallGameState start = initialState(kFullHd);
  BallGameState s = start;
  for (int i = 1; i <= 50; ++i) {
    tick(s, kFullHd, random);
    EXPECT_EQ(s.pauseTicks, 50 - i);
  }
  EXPECT_EQ(s.ballX, start.ballX);
  EXPECT_EQ(s.ballY, start.ballY);
  EXPECT_EQ(s.leftY, start.leftY);
  EXPECT_EQ(s.rightY, start.rightY);
  EXPECT_EQ(s.speed, 1.0f);
  EXPECT_EQ(s.leftTarget, 0.0f);
  EXPECT_EQ(windowPlaces(s, kFullHd), windowPlaces(start, kFullHd));
}

// After one second the ball steps into the left bat's zone and is sent off
// to the right at 10 to 20 pixels a tick, whatever the chance.
TEST(BallGameRulesTest, OpeningServeIsHitAfterOneSecond) {
  for (std::uint32_t seed = 1; seed <= 200; ++seed) {
    SeededRandom random(seed);
    BallGameState s = initialState(kFullHd);
    for (int i = 0; i < 50; ++i) tick(s, kFullHd, random);
    ASSERT_EQ(s.speed, 1.0f);
    tick(s, kFullHd, random);
    EXPECT_EQ(s.ballX, 24.0f) << seed;
    EXPECT_EQ(s.ballY, 536.0f) << seed;
    EXPECT_EQ(s.leftY, 468.0f) << seed;  // one step of 8 towards the guess near the top
    EXPECT_GE(s.speed, 10.0f) << seed;
    EXPECT_LE(s.speed, 20.0f) << seed;
    EXPECT_GE(s.dirX, 0.25f) << seed;
    EXPECT_LE(s.dirX, 1.0f) << seed;
    EXPECT_NEAR(s.dirX * s.dirX + s.dirY * s.dirY, 1.0f, 1e-6f) << seed;
    EXPECT_EQ(s.leftScore + s.rightScore, 0);
    // The next tick takes it away from the bat at that speed.
    const float x = s.ballX;
    tick(s, kFullHd, random);
    EXPECT_GE(s.ballX - x, 2.5f) << seed;
    EXPECT_LE(s.ballX - x, 20.0f) << seed;
  }
}

TEST(BallGameRulesTest, HitSpeedAndDirectionFromTheRandomAnswers) {
  struct Row {
    int speedDraw, angleDraw, sideDraw;
    float speed, dirX;
    bool up;
  };
  const Row rows[] = {
      {0, 0, 0, 10.0f, 0.25f, false},
      {1000, 1000, 1, 20.0f, 1.0f, true},
      {500, 500, 0, 12.5f, 0.625f, false},
      {100, 200, 1, 10.1f, 0.4f, true},
  };
  for (const Row& row : rows) {
    std::vector<int> answers = {row.speedDraw, row.angleDraw, row.sideDraw};
    std::size_t at = 0;
    // Guesses get the middle answer; the three draws of the hit come in order.
    ScriptedRandom random([&](int n) { return n == 1000 || n == 1 ? answers[at++ % 3] : n / 2; });
    BallGameState s = initialState(kFullHd);
    s.pauseTicks = 0;
    s.leftIdle = s.rightIdle = true;
    s.rightTarget = s.rightY + 40;  // the right player stays where it is
    tick(s, kFullHd, random);
    ASSERT_EQ(at, 3u);
    EXPECT_NEAR(s.speed, row.speed, 1e-5f);
    EXPECT_NEAR(s.dirX, row.dirX, 1e-6f);
    EXPECT_NEAR(std::fabs(s.dirY), std::sqrt(1.0f - row.dirX * row.dirX), 1e-6f);
    EXPECT_EQ(std::signbit(s.dirY), row.up);  // -0 when the ball flies straight
  }
}

// Bats move before the hit test, so the limits are checked on the bat's
// place after its step: leftY 536 -> 528 puts the ball's top edge 8 pixels
// below the bat's top edge.
TEST(BallGameRulesTest, BallExactlyEightPixelsBelowTheBatTopIsNotHit) {
  struct Row {
    float batYBefore;
    bool hit;
  };
  const Row rows[] = {{536.0f, false}, {535.5f, true}, {536.5f, false}};
  for (const Row& row : rows) {
    ScriptedRandom random = middle();
    BallGameState s = initialState(kFullHd);
    s.pauseTicks = 0;
    s.leftY = row.batYBefore;
    s.leftTarget = 536.0f;  // guess = ball y: 540 < leftY + 48, one step up
    s.rightIdle = true;
    tick(s, kFullHd, random);
    EXPECT_EQ(s.leftY, row.batYBefore - 8) << row.batYBefore;
    EXPECT_EQ(s.ballX, 24.0f);
    EXPECT_EQ(s.speed != 1.0f, row.hit) << row.batYBefore;
    EXPECT_EQ(s.dirX > 0, row.hit) << row.batYBefore;
  }
}

TEST(BallGameRulesTest, HitZonesHaveExclusiveLimits) {
  struct Row {
    float ballX, ballY, leftY, rightY;
    bool left, right;
  };
  const Row rows[] = {
      {24.0f, 108.0f, 100.0f, 0.0f, false, false},   // top edge exactly 8 below
      {24.0f, 108.5f, 100.0f, 0.0f, true, false},    //
      {24.0f, 218.9f, 100.0f, 0.0f, true, false},    //
      {24.0f, 219.0f, 100.0f, 0.0f, false, false},   // exactly 119 below
      {24.5f, 150.0f, 100.0f, 0.0f, false, false},   // not yet in the zone
      {-5.0f, 150.0f, 100.0f, 0.0f, true, false},    // behind the bat still counts
      {1888.0f, 58.0f, 0.0f, 50.0f, false, false},   // right: exactly 8 below
      {1888.0f, 58.25f, 0.0f, 50.0f, false, true},   //
      {1887.9f, 100.0f, 0.0f, 50.0f, false, false},  // one tenth short of the zone
      {1920.0f, 168.9f, 0.0f, 50.0f, false, true},   //
      {1900.0f, 169.0f, 0.0f, 50.0f, false, false},  // exactly 119 below
  };
  for (const Row& row : rows) {
    BallGameState s = initialState(kFullHd);
    s.ballX = row.ballX;
    s.ballY = row.ballY;
    s.leftY = row.leftY;
    s.rightY = row.rightY;
    EXPECT_EQ(leftBatHits(s, kFullHd), row.left) << row.ballX << "," << row.ballY;
    EXPECT_EQ(rightBatHits(s, kFullHd), row.right) << row.ballX << "," << row.ballY;
  }
}

TEST(BallGameRulesTest, BallBouncesOffTopAndBottom) {
  struct Row {
    float y, dirY;
    bool reversed;
  };
  const float s2 = std::sqrt(0.5f);
  const Row rows[] = {
      {14.0f, -s2, true},     // 14 - 14.14 < 0
      {20.0f, -s2, false},    //
      {14.0f, s2, false},     // going down already
      {1058.0f, s2, true},    // >= 1072 after the step
      {1050.0f, s2, false},   //
      {1072.0f, -s2, false},  // going up already
  };
  for (const Row& row : rows) {
    ScriptedRandom random = middle();
    BallGameState s = initialState(kFullHd);
    s.pauseTicks = 0;
    s.ballX = 900;
    s.ballY = row.y;
    s.dirX = s2;
    s.dirY = row.dirY;
    s.speed = 20;
    tick(s, kFullHd, random);
    EXPECT_EQ(s.dirY == -row.dirY, row.reversed) << row.y;
    EXPECT_EQ(s.dirY == row.dirY, !row.reversed) << row.y;
  }
}

TEST(BallGameRulesTest, MissAtTheLeftScoresForTheRightAndServesFromIt) {
  ScriptedRandom random = middle();
  BallGameState s = initialState(kFullHd);
  s.pauseTicks = 0;
  s.scoreChanged = false;
  s.ballX = 2;
  s.ballY = 10;  // far above the bat
  s.dirX = -0.6f;
  s.dirY = 0.8f;
  s.speed = 10;
  s.leftY = 700;
  s.rightY = 100;
  tick(s, kFullHd, random);
  EXPECT_EQ(s.rightScore, 1);
  EXPECT_EQ(s.leftScore, 0);
  EXPECT_TRUE(s.scoreChanged);
  EXPECT_EQ(s.leftY, 476.0f);
  EXPECT_EQ(s.rightY, 476.0f);
  EXPECT_EQ(s.ballX, 1887.0f);
  EXPECT_EQ(s.ballY, 536.0f);
  EXPECT_EQ(s.dirX, 1.0f);
  EXPECT_EQ(s.dirY, 0.0f);
  EXPECT_EQ(s.speed, 1.0f);
  EXPECT_EQ(s.pauseTicks, 150);

  // Three seconds later the right bat serves: its first step is a hit.
  for (int i = 0; i < 150; ++i) tick(s, kFullHd, random);
  EXPECT_EQ(s.ballX, 1887.0f);
  tick(s, kFullHd, random);
  EXPECT_EQ(s.ballX, 1888.0f);
  EXPECT_GE(s.speed, 10.0f);
  EXPECT_LE(s.dirX, -0.25f);
}

TEST(BallGameRulesTest, MissAtTheRightScoresForTheLeftAndServesFromIt) {
  ScriptedRandom random = middle();
  BallGameState s = initialState(kFullHd);
  s.pauseTicks = 0;
  s.scoreChanged = false;
  s.rightScore = 4;
  s.ballX = 1915;
  s.ballY = 1000;
  s.dirX = 1;
  s.dirY = 0;
  s.speed = 5;
  s.rightY = 0;
  tick(s, kFullHd, random);
  EXPECT_EQ(s.leftScore, 1);
  EXPECT_EQ(s.rightScore, 4);
  EXPECT_TRUE(s.scoreChanged);
  EXPECT_EQ(s.ballX, 25.0f);
  EXPECT_EQ(s.ballY, 536.0f);
  EXPECT_EQ(s.dirX, -1.0f);
  EXPECT_EQ(s.leftY, 476.0f);
  EXPECT_EQ(s.rightY, 476.0f);
  EXPECT_EQ(s.pauseTicks, 150);
}

// A hand-worked guess: one bounce off the top, then the left edge.
TEST(BallGameRulesTest, PredictionFollowsBouncesWithNoise) {
  const ScreenFrame frame{0, 0, 100, 100};
  BallGameState s = initialState(frame);
  s.ballX = 50;
  s.ballY = 10;
  s.dirX = -0.6f;
  s.dirY = -0.8f;
  s.speed = 10;

  // Middle answers: no noise. Bounce at (38, -6) after 28 pixels, then the
  // edge at (-4, 50): 98 pixels since the bounce.
  ScriptedRandom quiet = middle();
  EXPECT_NEAR(predictBallY(s, frame, quiet, 0.5f, true), 50.0f, 1e-3f);
  EXPECT_EQ(quiet.asked, (std::vector<int>{28, 98}));

  // Top answers: the bounce throws the guess 7 pixels back (14 x 0.5), it
  // crosses the edge at (-3, 58), and the end adds 56 x 0.5.
  ScriptedRandom loud([](int n) { return n; });
  EXPECT_NEAR(predictBallY(s, frame, loud, 0.5f, true), 86.0f, 1e-3f);
  EXPECT_EQ(loud.asked, (std::vector<int>{28, 112}));

  // The right player, noise 3: the bounce off the bottom at (62, 96) after
  // 28 pixels throws the guess 14 x 3 forward, past the right edge at 104;
  // no flight since then, so the last draw is Random(0).
  s.dirX = 0.6f;
  s.dirY = 0.8f;
  s.ballY = 80;
  ScriptedRandom right([](int n) { return n; });
  EXPECT_NEAR(predictBallY(s, frame, right, 3.0f, false), 96.0f, 1e-3f);
  EXPECT_EQ(right.asked, (std::vector<int>{28, 0}));

  // Without a bounce the guess is the ball's own height plus the noise of
  // the whole flight: 24 pixels to the left edge, (0 - 12) x 0.5.
  const BallGameState serve = [] {
    BallGameState t = initialState(kFullHd);
    t.ballX = 24;
    return t;
  }();
  ScriptedRandom zero([](int) { return 0; });
  EXPECT_NEAR(predictBallY(serve, kFullHd, zero, 0.5f, true), 530.0f, 1e-3f);
  EXPECT_EQ(zero.asked, (std::vector<int>{24}));
}

TEST(BallGameRulesTest, WaitingPositionLiesInTheUpperHalf) {
  struct Row {
    int draw;
    float expected;
  };
  const Row rows[] = {{0, 0.0f}, {250, 405.0f}, {500, 540.0f}, {750, 405.0f}, {1000, 0.0f}};
  for (const Row& row : rows) {
    ScriptedRandom random([&](int) { return row.draw; });
    EXPECT_NEAR(waitingPosition(kFullHd, random), row.expected, 1e-3f) << row.draw;
    EXPECT_EQ(random.asked, (std::vector<int>{1000}));
  }
  const ScreenFrame shifted{0, 200, 800, 601};  // half of 601 is 300
  ScriptedRandom random([](int) { return 500; });
  EXPECT_NEAR(waitingPosition(shifted, random), 500.0f, 1e-3f);
}

TEST(BallGameRulesTest, AwayPlayerPicksItsWaitingPlaceOncePerRally) {
  int calls = 0;
  // The first draw of the tick is the left player's waiting place.
  ScriptedRandom random([&](int n) { return calls++ == 0 ? 250 : n / 2; });
  BallGameState s = initialState(kFullHd);
  s.pauseTicks = 0;
  s.ballX = 900;
  s.dirX = 1;
  s.dirY = 0;
  s.speed = 10;
  s.leftTarget = 123;
  tick(s, kFullHd, random);
  EXPECT_TRUE(s.leftIdle);
  EXPECT_NEAR(s.leftTarget, 405.0f, 1e-3f);
  EXPECT_FALSE(s.rightIdle);
  s.leftTarget = 300;  // not picked again while the rally lasts
  tick(s, kFullHd, random);
  EXPECT_EQ(s.leftTarget, 300.0f);
  // The right player follows its guess by 2 % a tick.
  EXPECT_NEAR(s.rightTarget, 536.0f * 0.02f * 0.98f + 536.0f * 0.02f, 1e-3f);
}

TEST(BallGameRulesTest, BatsStepEightPixelsOutsideTheirStillZones) {
  struct Row {
    float target;
    float leftMove, rightMove;
  };
  // Left still zone: target + 4 within [leftY + 48, leftY + 80];
  // right: within [rightY + 24, rightY + 104]. Both bats at 476.
  const Row rows[] = {
      {519.9f, -8, 0},                                                    // 523.9 < 524
      {520.0f, 0, 0},  {552.0f, 0, 0}, {552.1f, 8, 0}, {495.9f, -8, -8},  // 499.9 < 500
      {496.0f, -8, 0}, {576.0f, 8, 0}, {576.1f, 8, 8},
  };
  for (const Row& row : rows) {
    ScriptedRandom random = middle();
    BallGameState s = initialState(kFullHd);
    s.pauseTicks = 0;
    s.ballX = 900;
    s.dirX = 0;  // neither player is approached: both keep their targets
    s.leftIdle = s.rightIdle = true;
    s.leftTarget = s.rightTarget = row.target;
    s.speed = 0;
    tick(s, kFullHd, random);
    EXPECT_EQ(s.leftY, 476.0f + row.leftMove) << row.target;
    EXPECT_EQ(s.rightY, 476.0f + row.rightMove) << row.target;
    EXPECT_TRUE(random.asked.empty());
  }
}

TEST(BallGameRulesTest, SameSeedSameGame) {
  SeededRandom a(99), b(99);
  BallGameState sa = initialState(kFullHd), sb = initialState(kFullHd);
  for (int i = 0; i < 5000; ++i) {
    tick(sa, kFullHd, a);
    tick(sb, kFullHd, b);
  }
  EXPECT_EQ(windowPlaces(sa, kFullHd), windowPlaces(sb, kFullHd));
  EXPECT_EQ(sa.leftScore, sb.leftScore);
  EXPECT_EQ(sa.rightScore, sb.rightScore);
}

// A long seeded game: bats never jump more than 8 pixels, the score only
// grows, and the noisier right player loses more points.
TEST(BallGameRulesTest, LongGameKeepsItsInvariants) {
  SeededRandom random(2011);
  BallGameState s = initialState(kFullHd);
  int points = 0;
  for (int i = 0; i < 200000; ++i) {
    const BallGameState before = s;
    tick(s, kFullHd, random);
    const int scored = (s.leftScore - before.leftScore) + (s.rightScore - before.rightScore);
    ASSERT_GE(scored, 0);
    ASSERT_LE(scored, 1);
    points += scored;
    if (scored == 0) {
      ASSERT_LE(std::fabs(s.leftY - before.leftY), 8.0f);
      ASSERT_LE(std::fabs(s.rightY - before.rightY), 8.0f);
    }
    ASSERT_TRUE(std::isfinite(s.ballX) && std::isfinite(s.ballY));
    ASSERT_GE(s.speed, 1.0f);
    ASSERT_LE(s.speed, 20.0f);
  }
  EXPECT_GT(points, 10);
  EXPECT_GT(s.leftScore, s.rightScore);
}

}  // namespace
}  // namespace pixmoor::game
