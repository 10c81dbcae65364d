#include "app_core/startup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_folder.h"

namespace pixmoor::app {
namespace {

using pixmoor::testing::readBytes;
using pixmoor::testing::TempFolder;

class RecordingSteps : public StartupSteps {
 public:
  RecordingSteps(std::string folder, platform::InstanceCheck outcome)
      : folder_(std::move(folder)), outcome_(outcome) {}

  void initialiseRuntime() override { log += "runtime "; }
  std::string currentFolder() override {
    log += "folder ";
    return folder_;
  }
  bool startNetwork() override {
    log += "network ";
    return true;
  }
  void loadFonts() override { log += "fonts "; }
  bool openSound() override {
    log += "sound ";
    return false;
  }
  void loadIcons() override { log += "icons "; }
  platform::InstanceCheck checkSingleInstance(const std::string& name) override {
    log += "instance ";
    instanceName = name;
    return outcome_;
  }
  DesktopSize takeDesktopSize() override {
    log += "desktop ";
    return {1920, 1080};
  }
  void buildTexts(const AppState&, const settings::Settings& s) override {
    log += "texts ";
    language = s.language;
  }
  void createMainWindow() override { log += "window "; }
  void applyModeLayout() override { log += "layout "; }
  void showSettingsSummary() override { log += "summary "; }
  void runEventLoop() override {
    log += "loop ";
    if (state != nullptr) state->endAtOnce = endAtOnceInLoop;
  }
  void fadeOutMainWindow() override { log += "fade "; }
  void endProgram() override { log += "end"; }

  std::string log;
  AppState* state = nullptr;
  bool endAtOnceInLoop = false;  // what a language change inside the loop leaves
  std::string instanceName;
  std::string language;

 private:
  std::string folder_;
  platform::InstanceCheck outcome_;
};

TEST(Startup, RunsEveryStepInOrderAndCreatesTheSettingsFileInTheWorkingFolder) {
  TempFolder folder;
  RecordingSteps steps(folder.path().string(), platform::InstanceCheck::first);
  AppState state;
  settings::Settings s;
  EXPECT_EQ(runStartup(state, s, steps), 0);
  EXPECT_EQ(
      steps.log,
      "runtime folder network fonts sound icons instance desktop texts window layout summary loop fade end");
  EXPECT_EQ(steps.instanceName, "Pixmoor 2011 v1.4.1");
  EXPECT_EQ(state.settingsPath, folder.path().string() + "/pref.qvl");
  EXPECT_EQ(state.desktopWidth, 1920);
  EXPECT_TRUE(state.networkAvailable);
  EXPECT_FALSE(state.soundAvailable);
  EXPECT_EQ(steps.language, "FR");
  EXPECT_EQ(readBytes(state.settingsPath).substr(0, 10), "[DEFAUT]\r\n");
}

TEST(Startup, LanguageChangeEndsWithoutFadeOut) {
  TempFolder folder;
  RecordingSteps steps(folder.path().string(), platform::InstanceCheck::first);
  AppState state;
  steps.state = &state;
  steps.endAtOnceInLoop = true;
  settings::Settings s;
  EXPECT_EQ(runStartup(state, s, steps), 0);
  EXPECT_EQ(steps.log,
            "runtime folder network fonts sound icons instance desktop texts window layout summary loop end");
}

TEST(Startup, SecondCopyEndsRightAfterTheInstanceCheck) {
  TempFolder folder;
  RecordingSteps steps(folder.path().string(), platform::InstanceCheck::alreadyRunning);
  AppState state;
  settings::Settings s;
  EXPECT_EQ(runStartup(state, s, steps), 0);
  EXPECT_EQ(steps.log, "runtime folder network fonts sound icons instance end");
  EXPECT_FALSE(std::filesystem::exists(folder.file("pref.qvl")));  // settings never touched
}

TEST(Startup, UnprotectedRunGoesOn) {
  TempFolder folder;
  RecordingSteps steps(folder.path().string(), platform::InstanceCheck::unprotected);
  AppState state;
  settings::Settings s;
  runStartup(state, s, steps);
  EXPECT_NE(steps.log.find("loop"), std::string::npos);
}

TEST(Startup, StartValues) {
  const std::vector<std::pair<std::string, std::string>> folders = {
      {"/home/ann/Pictures", "/home/ann/Pictures/pref.qvl"},
      {"/home/ann/", "/home/ann/pref.qvl"},
      {"/", "/pref.qvl"},  // the root: no doubled separator
      {"", "pref.qvl"},    // current folder unreadable: the bare name
  };
  for (const auto& [folder, path] : folders) {
    AppState state;
    fillStartValues(state, folder);
    EXPECT_EQ(state.settingsPath, path) << folder;
    EXPECT_EQ(state.titleBase + state.versionText, "Pixmoor 2011 v1.4.1");
    EXPECT_EQ(state.lineBreak, "\n");
    EXPECT_EQ(state.versionFileAddress, "http://www.pixmoor.example/downloads/pixmoor2.txt");
  }
}

TEST(Startup, RequestQuitSetsTheFlag) {
  AppState state;
  RequestQuit(state);
  EXPECT_TRUE(state.quitRequested);
}

}  // namespace
}  // namespace pixmoor::app
