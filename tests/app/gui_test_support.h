// Helpers for the tests that drive the real main window on Qt's offscreen
// platform: one QApplication for the test program, scripted answers for the
// boxes, a reader for the settings file and a harness that builds the whole
// Program in a scratch working folder.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <chrono>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/embedded_resources.h"
#include "app/gui_numbers.h"
#include "app/gui_program.h"
#include "app_core/startup.h"
#include "codecs/format_registry.h"
#include "encoders/encode.h"
#include "online/web_pages.h"
#include "platform/requesters.h"
#include "settings/settings_store.h"
#include "support/temp_folder.h"

// fontconfig's caches live as long as the process: not a leak of ours.
// Defined here, not inline: each test program includes this header once.
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace pixmoor::testing {

inline QApplication& application() {
  static int argc = 1;
  static char name[] = "pixmoor-test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    auto* created = new QApplication(argc, argv);
    image::registerJpegDecoder();
    image::registerJpegEncoder();
    image::registerPngDecoder();
    image::registerPngEncoder();
    return created;
  }();
  return *app;
}

// Answers the boxes from a script and records what was asked.
class ScriptedRequesters final : public platform::Requesters {
 public:
  struct Asked {
    std::string kind;  // "yesno", "info", "input"
    std::string title;
    std::string text;
    std::string proposed;
    platform::DefaultAnswer enter = platform::DefaultAnswer::yes;  // of a Yes/No box
  };

  bool askYesNo(const std::string& title, const std::string& text, platform::DefaultAnswer enter) override {
    asked.push_back({"yesno", title, text, {}, enter});
    const bool answer = yesNoAnswers.empty() ? false : yesNoAnswers.front();
    if (!yesNoAnswers.empty()) yesNoAnswers.pop_front();
    return answer;
  }
  void showInformation(const std::string& title, const std::string& text) override {
    asked.push_back({"info", title, text, {}});
  }
  std::string inputBox(const std::string& title, const std::string& prompt,
                       const std::string& proposed) override {
    asked.push_back({"input", title, prompt, proposed});
    std::string answer = inputAnswers.empty() ? std::string() : inputAnswers.front();
    if (!inputAnswers.empty()) inputAnswers.pop_front();
    return answer;
  }

  std::deque<bool> yesNoAnswers;
  std::deque<std::string> inputAnswers;
  std::vector<Asked> asked;
};

// The settings file as group -> key -> value (keys in file order are not kept).
using SettingsFileContent = std::map<std::string, std::map<std::string, std::string>>;

inline SettingsFileContent readSettingsFile(const std::string& path) {
  SettingsFileContent content;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::string group;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      group = line.substr(1, line.size() - 2);
      content[group];
      continue;
    }
    const auto equals = line.find(" = ");
    if (equals != std::string::npos) content[group][line.substr(0, equals)] = line.substr(equals + 3);
  }
  return content;
}

struct HarnessOptions {
  std::string language = "FR";
  std::string mode = "REL";
  std::string format = "JPG";
  int quality = 8;
  std::string prefix = "prefix_";
  int alwaysOnTop = 0;
  int dpi = 96;
  int desktopWidth = 1920;
  int desktopHeight = 1080;
  bool summary = true;     // run the start-up's summary step
  bool realBoxes = false;  // the program's own message and input boxes instead of scripted answers
};

// The program as start-up leaves it, in a scratch working folder: the
// settings file holds the first-run group, then the options are applied in
// memory (not stored), the window is built, laid out and summarised.
class ProgramHarness {
 public:
  explicit ProgramHarness(HarnessOptions options = {}) : options_(std::move(options)) {
    application();
    app::fillStartValues(state, folder.path().string());
    state.desktopWidth = options_.desktopWidth;
    state.desktopHeight = options_.desktopHeight;
    state.soundAvailable = true;  // cues are recorded by the test's sound
    settings = settings::LoadSettings(state.settingsPath, state.desktopWidth, state.desktopHeight);
    settings.language = options_.language;
    settings::setSizeModeFromText(settings, options_.mode);
    settings::setOutputFormatFromText(settings, options_.format);
    settings.quality = options_.quality;
    settings.prefix = options_.prefix;
    settings.alwaysOnTop = options_.alwaysOnTop;
    const std::pair<int, std::span<const std::uint8_t>> icons[] = {
        {58, app::resources::informationIcon()}, {59, app::resources::donateIcon()},
        {60, app::resources::updateIcon()},      {61, app::resources::visitIcon()},
        {62, app::resources::frenchIcon()},      {64, app::resources::englishIcon()},
        {63, app::resources::dutchIcon()},       {65, app::resources::spanishIcon()},
        {66, app::resources::desktopIcon()},
    };
    for (const auto& [number, data] : icons) pictures.loadFromMemory(number, data);
    pictures.loadFromMemory(57, app::resources::logoPng());

    app::ProgramServices services;
    services.requesters = options_.realBoxes ? static_cast<platform::Requesters*>(&realBoxes) : &requesters;
    services.playCue = [this](int milliseconds) { cues.push_back(milliseconds); };
    services.openUrl = [this](const std::string& address) {
      opened.push_back(address);
      return true;
    };
    services.endProgram = [this] { ++endProgramCalls; };
    services.runBallGame = [this](app::MainWindow&) { ++ballGameRuns; };
    const int dpi = options_.dpi;
    program = std::make_unique<app::Program>(
        state, settings,
        texts::BuildUiTexts(settings.language, state.titleBase, state.versionText, state.lineBreak,
                            state.desktopWidth, state.desktopHeight, online::kVendorSite),
        app::loadWindowFonts(), pictures, [this] { return currentDpi; }, std::move(services));
    currentDpi = dpi;
    program->createMainWindow();
    program->applyModeLayout();
    if (options_.summary) program->showSettingsSummary();
  }

  app::MainWindow& window() { return program->window(); }
  const texts::UiTexts& texts() const { return program->texts(); }
  template <typename T>
  T* control(int number) {
    return window().as<T>(number);
  }
  SettingsFileContent file() const { return readSettingsFile(state.settingsPath); }
  std::map<std::string, std::string> userGroup() const {
    auto content = file();
    return content["USER"];
  }
  // Runs what the batch threads queued for the window.
  static void settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }

  TempFolder folder;
  app::AppState state;
  settings::Settings settings;
  image::ImageStore pictures;
  ScriptedRequesters requesters;
  platform::QtRequesters realBoxes;
  std::vector<int> cues;
  std::vector<std::string> opened;
  int endProgramCalls = 0;
  int ballGameRuns = 0;
  int currentDpi = 96;
  std::unique_ptr<app::Program> program;

 private:
  HarnessOptions options_;
};

}  // namespace pixmoor::testing
