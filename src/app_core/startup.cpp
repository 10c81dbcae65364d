#include "app_core/startup.h"

#include "online/web_pages.h"
#include "settings/settings_store.h"
#include "texts/program_version.h"

namespace pixmoor::app {

std::string StartupSteps::currentFolder() {
  return app::currentFolder();
}

void fillStartValues(AppState& state, const std::string& folder) {
  state.titleBase = texts::kTitleBase;
  state.versionText = texts::kVersionText;
  state.versionFileAddress = online::versionFileAddress();
  state.workingFolder = withTrailingSlash(folder);
  state.settingsPath = state.workingFolder + settings::kSettingsFileName;
  state.lineBreak = "\n";
  state.busy = 0;
  state.quitRequested = false;
  state.endAtOnce = false;
  state.instanceName = state.titleBase + state.versionText;
}

int runStartup(AppState& state, settings::Settings& settings, StartupSteps& steps) {
  steps.initialiseRuntime();
  fillStartValues(state, steps.currentFolder());
  state.networkAvailable = steps.startNetwork();
  steps.loadFonts();
  state.soundAvailable = steps.openSound();
  steps.loadIcons();

  if (steps.checkSingleInstance(state.instanceName) == platform::InstanceCheck::alreadyRunning) {
    // Another copy of this version runs: end silently, no window, no message.
    steps.endProgram();
    return 0;
  }

  const DesktopSize desktop = steps.takeDesktopSize();
  state.desktopWidth = desktop.width;
  state.desktopHeight = desktop.height;
  settings = settings::LoadSettings(state.settingsPath, desktop.width, desktop.height);
  steps.buildTexts(state, settings);
  steps.createMainWindow();
  steps.applyModeLayout();
  steps.showSettingsSummary();
  steps.runEventLoop();

  // A language change ends at once: no fade-out, the window is not closed first.
  if (!state.endAtOnce) steps.fadeOutMainWindow();
  steps.endProgram();
  return 0;
}

}  // namespace pixmoor::app
