// The game's windows, pictures and clock.
#include "game/ball_game_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>

#include "game/ball_game_pictures.h"
#include "game/qt_drawing.h"
#include "game_rules/label_turn.h"
#include "platform/raster_image.h"

namespace pixmoor::game {
namespace {

constexpr Qt::WindowFlags kGameWindowFlags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;

image::ImageId newPicture(image::ImageStore& store, int width, int height) {
  return static_cast<image::ImageId>(store.create(image::kNewImage, width, height, 24));
}

}  // namespace

GameWindow::GameWindow(const char* title, int width, int height, QWidget* owner)
    : QWidget(owner, kGameWindowFlags), control_(new QLabel(this)) {
  setWindowTitle(QString::fromUtf8(title));
  setFixedSize(width, height);
  control_->move(0, 0);
  control_->resize(width, height);
}

bool GameWindow::showPicture(const image::ImageStore& store, image::ImageId number) {
  const image::ImageRecord* record = store.record(number);
  if (record == nullptr || record->raster == nullptr) {
    return false;
  }
  const QImage picture = platform::rasterToQImage(record->raster.get());
  if (picture.isNull()) {
    return false;
  }
  control_->setPixmap(QPixmap::fromImage(picture));
  control_->resize(picture.size());
  return true;
}

ScoreWindow::ScoreWindow() : GameWindow("QVL MULTIMEDIA", kScoreWidth, kScoreHeight, nullptr) {}

void ScoreWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && onLeftClick) {
    event->accept();
    onLeftClick();
    return;
  }
  GameWindow::mousePressEvent(event);
}

void ScoreWindow::closeEvent(QCloseEvent* event) {
  // The game closes its windows itself, in its own order.
  event->ignore();
  if (onCloseRequest) onCloseRequest();
}

BallGameWindows::BallGameWindows(image::ImageStore& store, QuitQuestion& question, RandomSource& random)
    : store_(store), question_(question), random_(random) {
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(kTickMilliseconds);
  QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
}

BallGameWindows::~BallGameWindows() {
  finish();
}

bool BallGameWindows::makePictures() {
  labelPicture_ = newPicture(store_, kLabelWidth, kLabelHeight);
  scorePicture_ = newPicture(store_, kScoreWidth, kScoreHeight);
  leftPicture_ = newPicture(store_, kBatWidth, kBatHeight);
  rightPicture_ = newPicture(store_, kBatWidth, kBatHeight);
  ballPicture_ = newPicture(store_, kBallSize, kBallSize);
  return labelPicture_ != 0 && scorePicture_ != 0 && leftPicture_ != 0 && rightPicture_ != 0 &&
         ballPicture_ != 0;
}

bool BallGameWindows::start(const ScreenFrame& frame, double dotsPerInch) {
  font_ = makeGameFont(dotsPerInch);
  if (!makePictures() || frame.width <= 0 || frame.height <= 0) {
    finish();
    return false;
  }
  frame_ = frame;
  state_ = initialState(frame_);

  score_ = std::make_unique<ScoreWindow>();
  leftBat_ = std::make_unique<GameWindow>("QVLM", kBatWidth, kBatHeight, score_.get());
  rightBat_ = std::make_unique<GameWindow>("AntiVirus", kBatWidth, kBatHeight, score_.get());
  ball_ = std::make_unique<GameWindow>("balle", kBallSize, kBallSize, score_.get());
  score_->onLeftClick = [this] { askToQuit(); };
  score_->onCloseRequest = [this] { quitNow(); };

  // The same label picture serves both words, one after the other.
  const image::Raster* label = store_.raster(labelPicture_);
  bool drawn = drawLabelPicture(store_, labelPicture_, font_, "QVLM") && label != nullptr &&
               turnLabelCounterClockwise(*label, *store_.raster(leftPicture_)) &&
               leftBat_->showPicture(store_, leftPicture_);
  drawn = drawn && drawLabelPicture(store_, labelPicture_, font_, "AntiVirus") &&
          turnLabelClockwise(*label, *store_.raster(rightPicture_)) &&
          rightBat_->showPicture(store_, rightPicture_);
  drawn = drawn && drawBallPicture(store_, ballPicture_) && ball_->showPicture(store_, ballPicture_);
  // Black until the first tick draws the score.
  drawn = drawn && score_->showPicture(store_, scorePicture_);
  if (!drawn) {
    finish();
    return false;
  }

  placeWindows();
  for (GameWindow* window :
       {static_cast<GameWindow*>(score_.get()), leftBat_.get(), rightBat_.get(), ball_.get()}) {
    window->show();
    window->raise();
  }
  timer_.start();
  return true;
}

void BallGameWindows::placeWindows() {
  const WindowPlaces places = windowPlaces(state_, frame_);
  score_->move(places.score.x, places.score.y);
  leftBat_->move(places.leftBat.x, places.leftBat.y);
  rightBat_->move(places.rightBat.x, places.rightBat.y);
  ball_->move(places.ball.x, places.ball.y);
}

void BallGameWindows::showScore() {
  // A score that cannot be drawn keeps the previous picture.
  if (drawScorePicture(store_, scorePicture_, font_, state_.leftScore, state_.rightScore)) {
    score_->showPicture(store_, scorePicture_);
  }
}

void BallGameWindows::tick() {
  if (!score_ || state_.quitGame) {
    return;
  }
  game::tick(state_, frame_, random_);
  if (state_.scoreChanged) {
    showScore();
    state_.scoreChanged = false;
  }
  placeWindows();
  if (onTick) onTick(state_);
}

void BallGameWindows::askToQuit() {
  if (!score_ || state_.quitGame) {
    return;
  }
  timer_.stop();
  const bool yes = question_.confirmQuit();
  if (yes) {
    quitNow();
    return;
  }
  if (score_ && !state_.quitGame) {
    timer_.start();
  }
}

void BallGameWindows::quitNow() {
  if (state_.quitGame) {
    return;
  }
  state_.quitGame = true;
  timer_.stop();
  if (onEnd) onEnd();
}

void BallGameWindows::finish() {
  timer_.stop();
  // The bats and the ball first: they belong to the score window.
  for (std::unique_ptr<GameWindow>* window : {&leftBat_, &rightBat_, &ball_}) {
    if (*window) (*window)->hide();
    window->reset();
  }
  if (score_) {
    score_->onLeftClick = nullptr;
    score_->onCloseRequest = nullptr;
    score_->hide();
    score_.reset();
  }
  for (image::ImageId* picture :
       {&labelPicture_, &scorePicture_, &leftPicture_, &rightPicture_, &ballPicture_}) {
    if (*picture != 0) store_.release(*picture);
    *picture = 0;
  }
}

}  // namespace pixmoor::game
