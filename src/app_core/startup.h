// The start-up spine: the fixed order in which the program comes up and the
// way it ends.
//
// runStartup fills AppState and the Settings and calls the platform's steps
// in order. Steps whose part of the program is not there yet keep their
// default (nothing happens), so the order holds as the program grows. A
// second copy of the same version ends right after the single-instance
// check. Interface thread only.
#pragma once

#include <string>

#include "app_core/app_state.h"
#include "platform_core/single_instance.h"
#include "settings/settings.h"

namespace pixmoor::app {

struct DesktopSize {
  int width = 0;
  int height = 0;
};

class StartupSteps {
 public:
  virtual ~StartupSteps() = default;

  virtual void initialiseRuntime() {}  // image store, codecs, display list
  virtual std::string currentFolder();
  virtual bool startNetwork() { return false; }
  virtual void loadFonts() {}
  virtual bool openSound() { return false; }
  virtual void loadIcons() {}
  virtual platform::InstanceCheck checkSingleInstance(const std::string& instanceName) = 0;
  virtual DesktopSize takeDesktopSize() = 0;
  virtual void buildTexts(const AppState&, const settings::Settings&) {}
  virtual void createMainWindow() {}
  virtual void applyModeLayout() {}
  virtual void showSettingsSummary() {}
  virtual void runEventLoop() {}
  virtual void fadeOutMainWindow() {}
  virtual void endProgram() {}
};

// Fills the start values of AppState (title, version, addresses, folders,
// line break, instance name).
void fillStartValues(AppState& state, const std::string& currentFolder);

// Runs start-up, the event loop and the normal end. Answers the process's
// exit code, which is 0 on every path.
int runStartup(AppState& state, settings::Settings& settings, StartupSteps& steps);

}  // namespace pixmoor::app
