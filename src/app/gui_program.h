// The running program: the main window, its event loop and every command.
//
// Program owns the window, the interface texts, the published copy of the
// Settings and the batch runner, and turns each event of the window into
// setting changes (stored at once), window changes, a batch, a help text, a
// web page, the update check, the ball game or the end. Services that touch
// the outside world (boxes, sound, browser, the end of the process, the
// game) come in through ProgramServices so that tests can stand in for
// them. Interface thread only; the batch threads reach the window through
// WindowBatchView.
//
// Implemented in gui_program.cpp (life, dispatch, settings stores),
// gui_control_handlers.cpp (the controls), gui_menu_commands.cpp (menus,
// shortcuts, the update check) and gui_prefix_command.cpp (the prefix box).
#pragma once

#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/gui_batch_view.h"
#include "app/gui_main_window.h"
#include "app_core/app_state.h"
#include "batch/batch_runner.h"
#include "batch/shared_settings.h"
#include "image_store/image_store.h"
#include "online/update_check.h"
#include "online/web_pages.h"
#include "platform/requesters.h"
#include "platform/ui_event.h"
#include "settings/settings.h"
#include "settings/settings_store.h"
#include "texts/ui_texts.h"

namespace pixmoor::app {

struct ProgramServices {
  platform::Requesters* requesters = nullptr;
  std::function<void(int)> playCue;                 // blocks for the duration; silent without sound
  std::function<bool(const std::string&)> openUrl;  // the default browser
  std::function<void()> endProgram;                 // the common end (language change, game failure)
  std::function<void(MainWindow&)> runBallGame;     // empty when the game is not built in
};

class Program final : public online::PageOpener, public settings::SettingsStatusSink {
 public:
  Program(AppState& state, settings::Settings& settings, texts::UiTexts texts, WindowFonts fonts,
          image::ImageStore& pictures, std::function<int()> screenDpi, ProgramServices services);
  ~Program() override;
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Start-up steps 14 to 17.
  void createMainWindow();
  void applyModeLayout();
  void showSettingsSummary();
  void runEventLoop();

  // Runs the handler of one event (the dispatch function of the window).
  void dispatch(const platform::UiEvent& event);

  MainWindow& window() { return *window_; }
  batch::BatchRunner& runner() { return *runner_; }
  const texts::UiTexts& texts() const { return texts_; }

  // PageOpener: the default browser.
  bool openUrl(const std::string& address) override;

  // SettingsStatusSink: the outcome of SaveAllSettings, and a single store
  // that did not reach the file.
  void settingsSaved() override;
  void settingsNotSaved() override;

 private:
  void onControl(int number);
  void onMenuCommand(int number);
  void onFilesDropped(const std::vector<std::string>& paths);
  void onCloseRequest(int number);
  // The controls of a batch are back: its pictures that produced no file
  // are listed in the information area. A stopped batch may still finish
  // saves it had begun; its list is shown again once its worker has ended,
  // unless something else was shown meanwhile.
  void batchEnded();
  void showBatchFailures();
  // A prefix change or a new batch puts the summary back in place of the
  // last batch's list.
  void replaceFailureList();

  void checkForUpdate();
  void presetChosen();
  void prefixCommand();
  void languageChange(const std::string& code);
  void desktopCommand();
  void saveAll();
  bool askYesNo(const std::string& title, const std::string& text, platform::DefaultAnswer enter);
  void openWebPage(const std::string& address);
  void playCue(int milliseconds);
  // A handler stores last: a store that fails then has the last word on the
  // status line and in the information area.
  void storeNumber(const char* key, std::int32_t value);
  void storeText(const char* key, const std::string& value);
  // Sets a field's text; the field's own handler runs once either way.
  void setFieldText(int number, int value);
  std::string fieldText(int number) const;

  AppState& state_;
  settings::Settings& settings_;
  const texts::UiTexts texts_;
  image::ImageStore& pictures_;
  ProgramServices services_;
  batch::SharedSettings shared_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<WindowBatchView> batchView_;
  std::unique_ptr<batch::BatchRunner> runner_;  // ends before the window and view it uses
  QTimer* lateFailures_ = nullptr;              // the window's child: waits for a stopped worker
  int failuresShownAt_ = 0;                     // the information area's writes when the list was shown
  QEventLoop* loop_ = nullptr;
};

// The decimal value of a field's text: its leading digits (0 without any),
// wrapping like a 32-bit integer.
std::int32_t decimalValue(const std::string& text);

}  // namespace pixmoor::app
