// The desktop program's start-up steps: what each step of the start-up
// spine does on a Linux desktop with Qt.
//
// Holds every runtime object that lives from start-up to the end: the image
// store with the logo and menu icons, the fonts, the sound output, the
// network session, the single-instance lock, Qt's translation for the
// interface language and the running Program.
// endProgram releases them all. Interface thread only; a QApplication must
// exist.
#pragma once

#include <memory>
#include <optional>

#include "app/gui_main_window.h"
#include "app/gui_program.h"
#include "app_core/startup.h"
#include "image_store/image_store.h"
#include "online/update_check.h"
#include "platform/qt_translation.h"
#include "platform/requesters.h"
#include "platform/sound_output.h"
#include "platform_core/single_instance.h"

namespace pixmoor::app {

class DesktopStartup final : public StartupSteps {
 public:
  DesktopStartup(AppState& state, settings::Settings& settings) : state_(state), settings_(settings) {}
  ~DesktopStartup() override;

  void initialiseRuntime() override;
  bool startNetwork() override;
  void loadFonts() override;
  bool openSound() override;
  void loadIcons() override;
  platform::InstanceCheck checkSingleInstance(const std::string& instanceName) override;
  DesktopSize takeDesktopSize() override;
  void buildTexts(const AppState& state, const settings::Settings& settings) override;
  void createMainWindow() override;
  void applyModeLayout() override;
  void showSettingsSummary() override;
  void runEventLoop() override;
  void fadeOutMainWindow() override;
  void endProgram() override;

  Program* program() { return program_.get(); }

 private:
  AppState& state_;
  settings::Settings& settings_;
  image::ImageStore pictures_;
  DesktopSize displayZero_;
  std::unique_ptr<online::NetworkSession> network_;
  WindowFonts fonts_;
  platform::SoundOutput sound_;
  platform::QtRequesters requesters_;
  platform::QtTranslation qtTranslation_;
  platform::InstanceLock lock_;  // released when the window closes
  texts::UiTexts texts_;
  std::unique_ptr<Program> program_;
};

// The horizontal logical dpi of the primary screen (96 without a screen).
int primaryScreenDpi();

}  // namespace pixmoor::app
