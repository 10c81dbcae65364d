// Starting the built program twice: the second copy ends silently with exit
// code 0 and leaves the first one running. Ending the program never waits
// for a batch whose read hangs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/gui_numbers.h"
#include "app/gui_startup.h"
#include "support/stuck_read.h"
#include "support/temp_folder.h"

namespace {

pid_t startProgram(const std::filesystem::path& folder) {
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) _exit(90);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("HOME", folder.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (folder / "runtime").c_str(), 1);
    execl(PIXMOOR_PROGRAM, PIXMOOR_PROGRAM, static_cast<char*>(nullptr));
    _exit(91);
  }
  return child;
}

// The exit status of `child` once it ended within `seconds`, or -1.
int waitForExit(pid_t child, int seconds) {
  for (int i = 0; i < seconds * 50; ++i) {
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

TEST(SecondCopy, EndsSilentlyWithZero) {
  pixmoor::testing::TempFolder folder;
  std::filesystem::create_directory(folder.path() / "runtime");
  std::filesystem::permissions(folder.path() / "runtime", std::filesystem::perms::owner_all);
  const pid_t first = startProgram(folder.path());
  ASSERT_GT(first, 0);
  // The first copy holds the lock once it has read its settings file.
  const auto settingsFile = folder.path() / "pref.qvl";
  auto written = [&] {
    std::error_code error;
    return std::filesystem::file_size(settingsFile, error) > 0 && !error;
  };
  for (int i = 0; i < 500 && !written(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(written());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let the first copy finish its start-up
  const auto before = pixmoor::testing::readBytes(settingsFile.string());

  const pid_t second = startProgram(folder.path());
  ASSERT_GT(second, 0);
  EXPECT_EQ(waitForExit(second, 20), 0);
  // The first copy is untouched, still running, its settings unchanged.
  EXPECT_EQ(waitForExit(first, 0), -1);
  EXPECT_EQ(pixmoor::testing::readBytes(settingsFile.string()), before);
  kill(first, SIGTERM);
  waitForExit(first, 20);
}

// Quit while the batch's read hangs in the kernel (a dead network mount):
// the program still ends, with exit code 0, within a few seconds.
TEST(ProgramEnd, QuitDoesNotWaitForAStuckRead) {
  pixmoor::testing::TempFolder folder;
  std::filesystem::create_directory(folder.path() / "runtime");
  std::filesystem::permissions(folder.path() / "runtime", std::filesystem::perms::owner_all);
  const std::string picture = (folder.path() / "a.bmp").string();
  pixmoor::testing::writeBytes(picture, std::string("BM") + std::string(60, '\0'));
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.path().c_str()) != 0) _exit(90);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("XDG_RUNTIME_DIR", (folder.path() / "runtime").c_str(), 1);
    int argc = 1;
    char name[] = "pixmoor";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    pixmoor::app::AppState state;
    pixmoor::settings::Settings settings;
    pixmoor::app::DesktopStartup steps(state, settings);
    stuck_read::hangOn(picture);
    QTimer::singleShot(0, [&] {
      steps.program()->dispatch({pixmoor::platform::UiEventKind::filesDropped, 0, {picture}});
      if (!stuck_read::waitUntilEntered()) _exit(91);
      steps.program()->dispatch(
          {pixmoor::platform::UiEventKind::menuCommand, pixmoor::app::command::quit, {}});
    });
    pixmoor::app::runStartup(state, settings, steps);
    _exit(92);  // the end waited for the batch after all
  }
  ASSERT_GT(child, 0);
  const int code = waitForExit(child, 10);
  EXPECT_EQ(code, 0);
  if (code == -1) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
  }
}

}  // namespace
