#include "app/gui_startup.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QScreen>
#include <QUrl>
#include <chrono>
#include <cstdlib>

#include "app/embedded_resources.h"
#include "app/gui_numbers.h"
#include "codecs/format_registry.h"
#include "encoders/encode.h"
#include "game/ball_game.h"
#include "online/web_pages.h"
#include "platform/fade_out.h"
#include "platform/screen_size.h"

namespace pixmoor::app {

namespace {
// How long the end waits for the batch's threads to give up their picture.
constexpr std::chrono::milliseconds kEndWait{1000};
}  // namespace

int primaryScreenDpi() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen == nullptr ? 96 : static_cast<int>(screen->logicalDotsPerInchX());
}

DesktopStartup::~DesktopStartup() {
  endProgram();
}

void DesktopStartup::initialiseRuntime() {
  image::registerJpegDecoder();
  image::registerJpegEncoder();
  image::registerPngDecoder();
  image::registerPngEncoder();
  // The display list is read once: later mode changes are not seen.
  const QSize size = platform::screenPixelSize(QGuiApplication::primaryScreen());
  if (!size.isEmpty()) displayZero_ = {size.width(), size.height()};
}

bool DesktopStartup::startNetwork() {
  network_ = std::make_unique<online::NetworkSession>();
  return network_->available();
}

void DesktopStartup::loadFonts() {
  fonts_ = loadWindowFonts();
}

bool DesktopStartup::openSound() {
  return sound_.open(resources::chimeWave());
}

void DesktopStartup::loadIcons() {
  const std::pair<int, std::span<const std::uint8_t>> icons[] = {
      {picture::informationIcon, resources::informationIcon()},
      {picture::donateIcon, resources::donateIcon()},
      {picture::updateIcon, resources::updateIcon()},
      {picture::visitIcon, resources::visitIcon()},
      {picture::frenchIcon, resources::frenchIcon()},
      {picture::englishIcon, resources::englishIcon()},
      {picture::dutchIcon, resources::dutchIcon()},
      {picture::spanishIcon, resources::spanishIcon()},
      {picture::desktopIcon, resources::desktopIcon()},
  };
  for (const auto& [number, data] : icons) pictures_.loadFromMemory(number, data);
}

platform::InstanceCheck DesktopStartup::checkSingleInstance(const std::string& instanceName) {
  return lock_.acquire(instanceName);
}

DesktopSize DesktopStartup::takeDesktopSize() {
  return displayZero_;
}

void DesktopStartup::buildTexts(const AppState& state, const settings::Settings& settings) {
  texts_ = texts::BuildUiTexts(settings.language, state.titleBase, state.versionText, state.lineBreak,
                               state.desktopWidth, state.desktopHeight, online::siteAddress());
  // The boxes' standard buttons speak the interface language too.
  qtTranslation_.install(settings.language);
}

void DesktopStartup::createMainWindow() {
  pictures_.loadFromMemory(picture::logo, resources::logoPng());
  ProgramServices services;
  services.requesters = &requesters_;
  services.playCue = [this](int milliseconds) { sound_.playCue(milliseconds); };
  services.openUrl = [](const std::string& address) {
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(address)));
  };
  services.endProgram = [this] {
    // The loop returns after the current event and start-up ends at once.
    state_.endAtOnce = true;
    RequestQuit(state_);
  };
  services.runBallGame = [this](MainWindow& window) {
    game::BallGameSetup setup;
    setup.store = &pictures_;
    setup.mainWindow = &window;
    setup.endProgram = [this] {
      state_.endAtOnce = true;
      RequestQuit(state_);
    };
    game::runBallGame(setup);
  };
  program_ = std::make_unique<Program>(state_, settings_, texts_, fonts_, pictures_, &primaryScreenDpi,
                                       std::move(services));
  program_->createMainWindow();
}

void DesktopStartup::applyModeLayout() {
  if (program_) program_->applyModeLayout();
}

void DesktopStartup::showSettingsSummary() {
  if (program_) program_->showSettingsSummary();
}

void DesktopStartup::runEventLoop() {
  if (!program_) return;
  program_->runEventLoop();
  // The window is closing: the batch is abandoned at once, and a new start
  // gets its window even while this copy is still ending.
  program_->runner().finish(std::chrono::milliseconds::zero());
  lock_.release();
}

void DesktopStartup::fadeOutMainWindow() {
  if (!program_) return;
  platform::fadeOutAndHide(&program_->window());
  program_->window().closeForGood();
}

void DesktopStartup::endProgram() {
  lock_.release();
  // A batch thread stuck in the kernel (a read on a hung network mount)
  // would hold the end for ever. The settings are saved and an output is
  // never half-written where the user sees it, so the process ends without
  // waiting for that thread.
  if (program_ && !program_->runner().finish(kEndWait)) std::_Exit(0);
  program_.reset();  // a running batch ends cooperatively: no partial file is left
  sound_.close();
  pictures_.releaseAll();
  network_.reset();
}

}  // namespace pixmoor::app
