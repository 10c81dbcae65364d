#include "app/gui_program.h"

#include <QCoreApplication>
#include <chrono>

#include "app/gui_numbers.h"
#include "app_core/failure_list.h"
#include "batch/status_texts.h"

namespace pixmoor::app {

namespace {
// How often the window looks whether a stopped worker has ended.
constexpr std::chrono::milliseconds kLateFailuresInterval{100};
}  // namespace

Program::Program(AppState& state, settings::Settings& settings, texts::UiTexts texts, WindowFonts fonts,
                 image::ImageStore& pictures, std::function<int()> screenDpi, ProgramServices services)
    : state_(state),
      settings_(settings),
      texts_(std::move(texts)),
      pictures_(pictures),
      services_(std::move(services)),
      shared_(settings) {
  WindowSetup setup;
  setup.state = &state_;
  setup.settings = &settings_;
  setup.texts = &texts_;
  setup.fonts = std::move(fonts);
  setup.pictures = &pictures_;
  setup.screenDpi = std::move(screenDpi);
  window_ = std::make_unique<MainWindow>(std::move(setup));
  batchView_ = std::make_unique<WindowBatchView>(
      *window_, [this](int ms) { playCue(ms); }, [this] { batchEnded(); });
  runner_ =
      std::make_unique<batch::BatchRunner>(*batchView_, shared_, batch::batchTextsFrom(texts_), state_.busy);
  lateFailures_ = new QTimer(window_.get());
  lateFailures_->setInterval(kLateFailuresInterval);
  QObject::connect(lateFailures_, &QTimer::timeout, window_.get(), [this] {
    if (runner_->running()) return;
    lateFailures_->stop();
    if (window_->infoAreaWrites() == failuresShownAt_) showBatchFailures();
  });
}

Program::~Program() {
  runner_.reset();  // ends a running batch cooperatively and joins its threads
  batchView_.reset();
  window_.reset();
}

void Program::createMainWindow() {
  window_->create();
  window_->setDispatch([this](const platform::UiEvent& event) { dispatch(event); });
}

void Program::applyModeLayout() {
  window_->applyModeLayout();
}

void Program::showSettingsSummary() {
  window_->showSummary();
}

void Program::runEventLoop() {
  if (state_.quitRequested) return;
  QEventLoop loop;
  loop_ = &loop;
  loop.exec();
  loop_ = nullptr;
}

void Program::dispatch(const platform::UiEvent& event) {
  switch (event.kind) {
    case platform::UiEventKind::control:
      onControl(event.number);
      break;
    case platform::UiEventKind::menuCommand:
      onMenuCommand(event.number);
      break;
    case platform::UiEventKind::filesDropped:
      onFilesDropped(event.paths);
      break;
    case platform::UiEventKind::closeRequest:
      onCloseRequest(event.number);
      break;
  }
  // The batch reads the settings as they are when it needs them.
  shared_.publish(settings_);
  if (state_.quitRequested && loop_ != nullptr) loop_->quit();
}

void Program::onFilesDropped(const std::vector<std::string>& paths) {
  if (runner_->handleDrop(paths, settings_) == batch::DropResult::started) replaceFailureList();
}

void Program::batchEnded() {
  showBatchFailures();
  if (runner_->running()) lateFailures_->start();
}

void Program::showBatchFailures() {
  const std::string list = failureListText(runner_->failures(), texts_);
  if (!list.empty()) window_->showFailureList(list);
  failuresShownAt_ = window_->infoAreaWrites();
}

void Program::replaceFailureList() {
  lateFailures_->stop();
  if (window_->showsFailureList()) window_->showSummary();
}

void Program::onCloseRequest(int number) {
  if (number != kMainWindow) return;
  saveAll();
  RequestQuit(state_);
}

bool Program::askYesNo(const std::string& title, const std::string& text, platform::DefaultAnswer enter) {
  return services_.requesters != nullptr && services_.requesters->askYesNo(title, text, enter);
}

void Program::openWebPage(const std::string& address) {
  online::OpenWebPage(address, *this);
}

void Program::playCue(int milliseconds) {
  if (state_.soundAvailable && services_.playCue) services_.playCue(milliseconds);
}

bool Program::openUrl(const std::string& address) {
  return services_.openUrl && services_.openUrl(address);
}

void Program::settingsSaved() {
  window_->setStatus(texts_.savedText);
}

void Program::settingsNotSaved() {
  window_->setStatus(texts_.saveFailedText);
  window_->showHelpText(texts_.saveFailedHelp);
}

void Program::saveAll() {
  settings::SaveAllSettings(settings_, state_.settingsPath, *this);
}

void Program::storeNumber(const char* key, std::int32_t value) {
  settings::StoreSettingNumber(state_.settingsPath, key, value, *this);
}

void Program::storeText(const char* key, const std::string& value) {
  settings::StoreSettingText(state_.settingsPath, key, value, *this);
}

std::int32_t decimalValue(const std::string& text) {
  std::uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10u + static_cast<std::uint32_t>(c - '0');
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace pixmoor::app
