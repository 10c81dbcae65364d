#include "game/ball_game_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <functional>
#include <vector>

#include "game/ball_game.h"
#include "game/ball_game_pictures.h"
#include "game/game_test_app.h"
#include "game/qt_drawing.h"
#include "game_rules/label_turn.h"
#include "image_store/image_store.h"
#include "platform/raster_image.h"

namespace pixmoor::game {
namespace {

constexpr ScreenFrame kFullHd{0, 0, 1920, 1080};

class BallGameWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::gameTestApplication(); }
  image::ImageStore store_;
};

// Answers from a list and lets the test look at the game while it asks.
class ScriptedQuestion : public QuitQuestion {
 public:
  std::vector<bool> answers;
  std::function<void()> whileAsking;
  int asked = 0;
  bool confirmQuit() override {
    const bool answer = answers.at(static_cast<std::size_t>(asked));
    ++asked;
    if (whileAsking) whileAsking();
    return answer;
  }
};

QPoint placeOf(const QWidget* w) {
  return w->geometry().topLeft();
}

void postLeftClick(QWidget* target, Qt::MouseButton button = Qt::LeftButton) {
  const QPointF inside(10, 10);
  QCoreApplication::postEvent(
      target, new QMouseEvent(QEvent::MouseButtonPress, inside, target->mapToGlobal(inside), button, button,
                              Qt::NoModifier));
}

std::vector<QWidget*> visibleGameWindows() {
  std::vector<QWidget*> found;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    const QString title = w->windowTitle();
    if (w->isVisible() &&
        (title == "QVL MULTIMEDIA" || title == "QVLM" || title == "AntiVirus" || title == "balle")) {
      found.push_back(w);
    }
  }
  return found;
}

QImage shownPicture(const GameWindow* window) {
  return window->imageControl()->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
}

TEST_F(BallGameWindowTest, OffscreenScreenIsFullHd) {
  ASSERT_NE(QGuiApplication::primaryScreen(), nullptr);
  EXPECT_EQ(QGuiApplication::primaryScreen()->geometry(), QRect(0, 0, 1920, 1080));
}

TEST_F(BallGameWindowTest, WindowsOpenAtTheirPlacesWithTheirPictures) {
  ScriptedQuestion question;
  SeededRandom random(1);
  BallGameWindows game(store_, question, random);
  ASSERT_TRUE(game.start(kFullHd, 96.0));

  struct Expect {
    QWidget* window;
    const char* title;
    QPoint place;
    QSize size;
  };
  const Expect expected[] = {
      {game.scoreWindow(), "QVL MULTIMEDIA", {896, 0}, {128, 24}},
      {game.leftBat(), "QVLM", {0, 476}, {24, 128}},
      {game.rightBat(), "AntiVirus", {1896, 476}, {24, 128}},
      {game.ball(), "balle", {25, 536}, {8, 8}},
  };
  for (const Expect& e : expected) {
    ASSERT_NE(e.window, nullptr);
    EXPECT_EQ(e.window->windowTitle(), QString(e.title));
    EXPECT_EQ(placeOf(e.window), e.place) << e.title;
    EXPECT_EQ(e.window->size(), e.size) << e.title;
    EXPECT_TRUE(e.window->isVisible()) << e.title;
    EXPECT_TRUE(e.window->isWindow()) << e.title;
    const Qt::WindowFlags flags = e.window->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint)) << e.title;
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint)) << e.title;
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool) << e.title;
    const auto* control = static_cast<GameWindow*>(e.window)->imageControl();
    EXPECT_EQ(control->pos(), QPoint(0, 0));
    EXPECT_EQ(control->size(), e.size);
  }
  // The bats and the ball belong to the score window.
  EXPECT_EQ(game.leftBat()->parentWidget(), game.scoreWindow());
  EXPECT_EQ(game.rightBat()->parentWidget(), game.scoreWindow());
  EXPECT_EQ(game.ball()->parentWidget(), game.scoreWindow());
  EXPECT_EQ(game.scoreWindow()->parentWidget(), nullptr);
  EXPECT_TRUE(game.clockRunning());

  // The score is black until the first tick draws it.
  const QImage blank = shownPicture(game.scoreWindow());
  ASSERT_EQ(blank.size(), QSize(128, 24));
  for (int y = 0; y < 24; ++y) {
    for (int x = 0; x < 128; ++x) ASSERT_EQ(blank.pixel(x, y), qRgb(0, 0, 0));
  }
  game.tick();
  const QImage score = shownPicture(game.scoreWindow());
  EXPECT_EQ(score.pixel(0, 0), qRgb(0, 0, 0));
  EXPECT_EQ(score.pixel(2, 2), qRgb(255, 255, 255));
  EXPECT_FALSE(game.state().scoreChanged);

  // The bats show the two words turned: compare with the label drawn again.
  const QFont font = makeGameFont(96.0);
  const auto label = static_cast<image::ImageId>(store_.create(image::kNewImage, 128, 24, 24));
  struct Bat {
    const GameWindow* window;
    const char* word;
    bool counterClockwise;
  };
  for (const Bat bat : {Bat{game.leftBat(), "QVLM", true}, Bat{game.rightBat(), "AntiVirus", false}}) {
    ASSERT_TRUE(drawLabelPicture(store_, label, font, bat.word));
    const QImage source = platform::rasterToQImage(store_.raster(label));
    const QImage shown = shownPicture(bat.window);
    ASSERT_EQ(shown.size(), QSize(24, 128));
    for (int y = 0; y < 128; ++y) {
      for (int x = 0; x < 24; ++x) {
        const QPoint from = bat.counterClockwise ? QPoint(127 - y, x) : QPoint(y, 23 - x);
        ASSERT_EQ(shown.pixel(x, y), source.pixel(from)) << bat.word << " " << x << "," << y;
      }
    }
  }
  const QImage ball = shownPicture(game.ball());
  EXPECT_EQ(ball.pixel(0, 0), qRgb(0, 0, 0));
  EXPECT_EQ(ball.pixel(3, 4), qRgb(255, 255, 0));

  const auto pictures = game.pictures();
  game.finish();
  EXPECT_TRUE(visibleGameWindows().empty());
  EXPECT_EQ(game.scoreWindow(), nullptr);
  for (image::ImageId id : pictures) {
    EXPECT_NE(id, 0);
    EXPECT_EQ(store_.record(id), nullptr);  // released
  }
}

TEST_F(BallGameWindowTest, WindowsFollowTheStateEveryTick) {
  ScriptedQuestion question;
  SeededRandom random(5);
  BallGameWindows game(store_, question, random);
  ASSERT_TRUE(game.start(kFullHd, 96.0));
  for (int i = 0; i < 400; ++i) {
    game.tick();
    const WindowPlaces places = windowPlaces(game.state(), kFullHd);
    ASSERT_EQ(placeOf(game.scoreWindow()), QPoint(896, 0));
    ASSERT_EQ(placeOf(game.leftBat()), QPoint(places.leftBat.x, places.leftBat.y));
    ASSERT_EQ(placeOf(game.rightBat()), QPoint(places.rightBat.x, places.rightBat.y));
    ASSERT_EQ(placeOf(game.ball()), QPoint(places.ball.x, places.ball.y));
  }
  // The opening serve has been hit long ago.
  EXPECT_GE(game.state().speed, 10.0f);
}

// The whole game through runBallGame, on the offscreen screen: a click
// answered No stands the game still and then resumes it where it stood, a
// click answered Yes ends it and everything is gone.
TEST_F(BallGameWindowTest, QuestionNoResumesAndYesEnds) {
  ScriptedQuestion question;
  question.answers = {false, true};
  std::vector<BallGameState> seen;
  QWidget* scoreWindow = nullptr;
  BallGameState atQuestion;
  bool scoreShownWhileAsking = false;
  bool stillWhileAsking = false;

  BallGameSetup setup;
  setup.store = &store_;
  setup.question = &question;
  setup.seed = 42;
  bool ended = false;
  setup.endProgram = [&] { ended = true; };
  setup.onTick = [&](const BallGameState& s) {
    seen.push_back(s);
    if (seen.size() == 1) {
      for (QWidget* w : visibleGameWindows()) {
        if (w->windowTitle() == "QVL MULTIMEDIA") scoreWindow = w;
      }
      ASSERT_NE(scoreWindow, nullptr);
      EXPECT_EQ(placeOf(scoreWindow), QPoint(896, 0));
      EXPECT_EQ(visibleGameWindows().size(), 4u);
    }
    if (seen.size() == 80 || seen.size() == 120) {
      // On the picture, as the user clicks: the image control passes it on.
      QLabel* picture = scoreWindow->findChild<QLabel*>();
      ASSERT_NE(picture, nullptr);
      postLeftClick(picture, Qt::RightButton);  // not a question
      postLeftClick(picture);
    }
  };
  question.whileAsking = [&] {
    if (question.asked != 1) return;
    atQuestion = seen.back();
    const std::size_t ticks = seen.size();
    // A modal box would keep the events flowing: the clock must not.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 120) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    stillWhileAsking = seen.size() == ticks;
    scoreShownWhileAsking = true;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->windowTitle() == "QVL MULTIMEDIA") scoreShownWhileAsking = w->isVisible();
    }
  };

  runBallGame(setup);

  EXPECT_FALSE(ended);
  EXPECT_EQ(question.asked, 2);
  EXPECT_TRUE(stillWhileAsking);
  EXPECT_TRUE(scoreShownWhileAsking);
  ASSERT_EQ(seen.size(), 120u);
  // Replay the game from the start with the same seed: tick 81 follows tick
  // 80 as if no question had come.
  SeededRandom replay(42);
  BallGameState s = initialState(kFullHd);
  for (std::size_t i = 0; i < seen.size(); ++i) {
    tick(s, kFullHd, replay);
    s.scoreChanged = false;
    ASSERT_EQ(windowPlaces(s, kFullHd), windowPlaces(seen[i], kFullHd)) << i;
    ASSERT_EQ(s.ballX, seen[i].ballX) << i;
    ASSERT_EQ(s.ballY, seen[i].ballY) << i;
  }
  EXPECT_EQ(atQuestion.ballX, seen[79].ballX);
  EXPECT_TRUE(visibleGameWindows().empty());
}

TEST_F(BallGameWindowTest, CloseRequestEndsAtOnceWithoutAQuestion) {
  ScriptedQuestion question;  // no answers: asking would throw
  int ticks = 0;
  BallGameSetup setup;
  setup.store = &store_;
  setup.question = &question;
  setup.seed = 3;
  setup.onTick = [&](const BallGameState&) {
    if (++ticks == 5) {
      for (QWidget* w : visibleGameWindows()) {
        if (w->windowTitle() == "QVL MULTIMEDIA") w->close();
      }
    }
  };
  runBallGame(setup);
  EXPECT_EQ(ticks, 5);
  EXPECT_EQ(question.asked, 0);
  EXPECT_TRUE(visibleGameWindows().empty());
}

// A stand-in for the main window that counts what reaches it.
class CountingWindow : public QWidget {
 public:
  int presses = 0;
  int keys = 0;
  int closes = 0;

 protected:
  void mousePressEvent(QMouseEvent*) override { ++presses; }
  void keyPressEvent(QKeyEvent*) override { ++keys; }
  void closeEvent(QCloseEvent* event) override {
    ++closes;
    event->accept();
  }
};

TEST_F(BallGameWindowTest, MainWindowEventsAreTakenAndIgnoredDuringTheGame) {
  CountingWindow mainWindow;
  auto* child = new CountingWindow;
  child->setParent(&mainWindow);
  mainWindow.show();
  ScriptedQuestion question;
  BallGameSetup setup;
  setup.store = &store_;
  setup.question = &question;
  setup.mainWindow = &mainWindow;
  setup.seed = 9;
  int ticks = 0;
  bool visibleAfterClose = false;
  setup.onTick = [&](const BallGameState&) {
    if (++ticks != 3) {
      if (ticks == 6) {
        for (QWidget* w : visibleGameWindows()) {
          if (w->windowTitle() == "QVL MULTIMEDIA") w->close();
        }
      }
      return;
    }
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&mainWindow, &press);
    QApplication::sendEvent(child, &press);
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Q, Qt::NoModifier, QStringLiteral("q"));
    QApplication::sendEvent(&mainWindow, &key);
    mainWindow.close();
    visibleAfterClose = mainWindow.isVisible();
  };
  runBallGame(setup);
  EXPECT_EQ(ticks, 6);
  EXPECT_EQ(mainWindow.presses, 0);
  EXPECT_EQ(child->presses, 0);
  EXPECT_EQ(mainWindow.keys, 0);
  EXPECT_EQ(mainWindow.closes, 0);
  EXPECT_TRUE(visibleAfterClose);
  EXPECT_TRUE(mainWindow.isVisible());

  // Once the game is over the main window hears everything again.
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(&mainWindow, &press);
  EXPECT_EQ(mainWindow.presses, 1);
  EXPECT_TRUE(mainWindow.close());
  EXPECT_EQ(mainWindow.closes, 1);
}

TEST_F(BallGameWindowTest, SetUpFailureEndsTheProgramThroughTheCallback) {
  int ends = 0;
  BallGameSetup setup;
  setup.store = &store_;
  setup.endProgram = [&] { ++ends; };
  setup.screen = ScreenFrame{0, 0, 0, 0};  // no screen to play on
  runBallGame(setup);
  EXPECT_EQ(ends, 1);
  EXPECT_TRUE(visibleGameWindows().empty());

  BallGameSetup noStore;
  noStore.endProgram = [&] { ++ends; };
  runBallGame(noStore);
  EXPECT_EQ(ends, 2);
}

TEST_F(BallGameWindowTest, ScreenOriginMovesEveryWindow) {
  ScriptedQuestion question;
  SeededRandom random(1);
  BallGameWindows game(store_, question, random);
  ASSERT_TRUE(game.start(ScreenFrame{-1280, 100, 1280, 1024}, 96.0));
  EXPECT_EQ(placeOf(game.scoreWindow()), QPoint(-704, 100));
  EXPECT_EQ(placeOf(game.leftBat()), QPoint(-1280, 548));
  EXPECT_EQ(placeOf(game.rightBat()), QPoint(-24, 548));
  EXPECT_EQ(placeOf(game.ball()), QPoint(-1255, 608));
}

}  // namespace
}  // namespace pixmoor::game
