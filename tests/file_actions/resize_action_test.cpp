// "Resize with Pixmoor" as each file manager runs it: the command line its
// action file declares (from an installation staged by cmake --install), on a
// selection of odd names, with the menu's settings, told through a
// notification service of the test's own.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app_core/failure_list.h"
#include "support/child_wait.h"
#include "support/fake_notifications.h"
#include "support/staged_install.h"
#include "support/temp_folder.h"
#include "texts/program_version.h"
#include "texts/ui_texts.h"

namespace pixmoor::testing {
namespace {

namespace fs = std::filesystem;

// Spaces, quotes, a line feed and a name that is not UTF-8 (Latin-1 "é").
const std::vector<std::string> kOddNames = {"a b.jpg", "it's \"quoted\".jpg", "line\nfeed.jpg",
                                            "caf\xE9.jpg"};
constexpr const char* kMenuSettings = "[DEFAUT]\r\nPREFIX = menu_\r\nLNG = UK\r\nMODE = REL\r\n";

class ResizeAction : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { install_ = new StagedInstall; }
  static void TearDownTestSuite() { delete install_; }

  void SetUp() override {
    ASSERT_TRUE(install_->ok());
    ::setenv("HOME", home_.path().c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("LANG", "C", 1);
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    fs::create_directories(home_.path() / ".config/pixmoor");
    writeBytes((home_.path() / ".config/pixmoor/pref.qvl").string(), kMenuSettings);
    const std::string jpeg = readBytes(PIXMOOR_TEST_DATA "/jpeg/good/exo_Landscape_1.jpg");
    for (const std::string& name : kOddNames) writeBytes((pictures_.path() / name).string(), jpeg);
    writeBytes((pictures_.path() / "notes.jpg").string(), "not a picture\n");
  }

  std::vector<std::string> selection() const {
    std::vector<std::string> paths;
    for (const std::string& name : kOddNames) paths.push_back((pictures_.path() / name).string());
    paths.push_back((pictures_.path() / "notes.jpg").string());
    return paths;
  }

  // Runs `program` with `arguments` in `folder` and waits for its end.
  static int runIn(const std::string& folder, const std::string& program,
                   const std::vector<std::string>& arguments) {
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (::chdir(folder.c_str()) == 0) ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    return exitCodeOf(endChildWithin(pid, std::chrono::minutes(5)));
  }

  // The action file's Exec, its %F given the selection as the file managers
  // do (one argument per file, no shell), its program taken from the stage.
  static int runAction(const std::string& actionFile, const std::vector<std::string>& paths) {
    const std::string exec = StagedInstall::keyOf(install_->staged(actionFile), "Exec");
    std::istringstream words(exec);
    std::vector<std::string> argv;
    for (std::string word; words >> word;) {
      if (word == "%F") {
        argv.insert(argv.end(), paths.begin(), paths.end());
      } else {
        argv.push_back(word);
      }
    }
    EXPECT_EQ(argv.size(), paths.size() + 1) << exec;
    if (argv.size() != paths.size() + 1) return -1;
    return runIn("/", install_->staged(argv[0]), {argv.begin() + 1, argv.end()});
  }

  // What the run should have said: every odd name written, notes.jpg listed.
  void expectTheEnd(const std::vector<ShownNotification>& shown) {
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].actions, (std::vector<std::string>{"stop", "Stop"}));
    EXPECT_EQ(shown[1].replaces, shown[0].id);
    EXPECT_EQ(shown[1].summary, "4 pictures written");
    const texts::UiTexts texts =
        texts::BuildUiTexts("UK", texts::kTitleBase, texts::kVersionText, "\n", 1920, 1080, "");
    EXPECT_EQ(shown[1].body,
              app::failureListText({{"notes.jpg", batch::FailureReason::unknownFormat}}, texts));
    for (const std::string& name : kOddNames)
      EXPECT_TRUE(fs::exists(pictures_.path() / ("menu_" + name))) << name;
    // Nothing of ours in the home folder itself.
    for (const auto& entry : fs::directory_iterator(home_.path()))
      EXPECT_TRUE(entry.is_directory()) << entry.path();
  }

  inline static StagedInstall* install_ = nullptr;
  TempFolder home_;
  TempFolder pictures_;
};

TEST_F(ResizeAction, DolphinsServiceMenuOnPicturesAndOnTheirFolder) {
  for (const bool folder : {false, true}) {
    SCOPED_TRACE(folder ? "the folder" : "the pictures");
    for (const std::string& name : kOddNames) fs::remove(pictures_.path() / ("menu_" + name));
    FakeNotifications notifications;
    ASSERT_TRUE(notifications.serving());
    const std::vector<std::string> chosen = folder ? std::vector{pictures_.path().string()} : selection();
    EXPECT_EQ(runAction(install_->installed("share/kio/servicemenus/pixmoor-resize.desktop"), chosen), 1);
    expectTheEnd(notifications.shown());
  }
}

TEST_F(ResizeAction, NemosAction) {
  FakeNotifications notifications;
  ASSERT_TRUE(notifications.serving());
  EXPECT_EQ(runAction(install_->installed("share/nemo/actions/pixmoor-resize.nemo_action"), selection()), 1);
  expectTheEnd(notifications.shown());
}

// GNOME Files runs a script of the user's, here the README's link to ours,
// in the selection's folder with the names as its arguments.
TEST_F(ResizeAction, GnomeFilesScript) {
  FakeNotifications notifications;
  ASSERT_TRUE(notifications.serving());
  std::vector<std::string> names = kOddNames;
  names.push_back("notes.jpg");
  const fs::path scripts = home_.path() / ".local/share/nautilus/scripts";
  fs::create_directories(scripts);
  fs::create_symlink(
      install_->staged(install_->installed("share/pixmoor/nautilus-scripts/Resize with Pixmoor")),
      scripts / "Resize with Pixmoor");
  EXPECT_EQ(runIn(pictures_.path().string(), (scripts / "Resize with Pixmoor").string(), names), 1);
  expectTheEnd(notifications.shown());
}

// Stop pressed on the notification while the run goes on: the companion is
// stopped, and the end says so and counts what was written.
TEST_F(ResizeAction, StopOnTheNotificationStopsTheRun) {
  writeBytes(
      (home_.path() / ".config/pixmoor/pref.qvl").string(),
      "[DEFAUT]\r\nPREFIX = menu_\r\nLNG = UK\r\nMODE = FREE\r\nL = 9000\r\nH = 6000\r\nTYPE = PNG\r\n");
  FakeNotifications notifications("stop");
  ASSERT_TRUE(notifications.serving());
  EXPECT_EQ(runAction(install_->installed("share/nemo/actions/pixmoor-resize.nemo_action"), selection()), 1);
  const std::vector<ShownNotification> shown = notifications.shown();
  ASSERT_EQ(shown.size(), 2u);
  int written = 0;
  for (const std::string& name : kOddNames)
    written += fs::exists(pictures_.path() / ("menu_" + name)) ? 1 : 0;
  EXPECT_EQ(shown[1].summary,
            "Stopped: " + std::to_string(written) + (written == 1 ? " picture" : " pictures") + " written");
}

}  // namespace
}  // namespace pixmoor::testing
