// Starting the built program twice: the second copy ends silently with exit
// code 0 and leaves the first one running. Ending the program never waits
// for a batch whose read hangs.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <chrono>
#include <filesystem>

#include "app/gui_numbers.h"
#include "app/gui_startup.h"
#include "support/child_wait.h"
#include "support/stuck_read.h"
#include "support/temp_folder.h"

namespace {

using pixmoor::testing::endChildWithin;
using pixmoor::testing::exitCodeOf;

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

// Waits at most `limit` for `name` to appear in `folder` (made or renamed
// there); answers whether it is there.
bool appearsWithin(const std::filesystem::path& folder, const std::string& name, std::chrono::seconds limit) {
  const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (watch < 0) return false;
  inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::error_code error;
  // Looked at after the watch is in place, so that no arrival is missed.
  while (!std::filesystem::exists(folder / name, error)) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd events{watch, POLLIN, 0};
    if (poll(&events, 1, static_cast<int>(left.count()) + 1) > 0) {
      char drained[4096];
      while (read(watch, drained, sizeof drained) > 0) {
      }
    }
  }
  close(watch);
  return std::filesystem::exists(folder / name, error);
}

TEST(SecondCopy, EndsSilentlyWithZero) {
  pixmoor::testing::TempFolder folder;
  std::filesystem::create_directory(folder.path() / "runtime");
  std::filesystem::permissions(folder.path() / "runtime", std::filesystem::perms::owner_all);
  const pid_t first = startProgram(folder.path());
  ASSERT_GT(first, 0);
  // The first copy takes the lock, then writes its first settings file
  // whole (renamed into place): once it is there, the lock is held.
  const auto settingsFile = folder.path() / "pref.qvl";
  ASSERT_TRUE(appearsWithin(folder.path(), "pref.qvl", std::chrono::seconds(60)));
  const auto before = pixmoor::testing::readBytes(settingsFile.string());
  ASSERT_FALSE(before.empty());

  const pid_t second = startProgram(folder.path());
  ASSERT_GT(second, 0);
  EXPECT_EQ(exitCodeOf(endChildWithin(second, std::chrono::seconds(60))), 0);
  // The first copy is untouched, still running, its settings unchanged.
  EXPECT_FALSE(pixmoor::testing::endsWithin(first, std::chrono::seconds(0)));
  EXPECT_EQ(pixmoor::testing::readBytes(settingsFile.string()), before);
  kill(first, SIGTERM);
  endChildWithin(first, std::chrono::seconds(60));
}

// Quit while the batch's read hangs in the kernel (a dead network mount):
// the program still ends, with exit code 0; the read is never let go.
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
  // Were the end to wait for the read, it would wait for ever: the bound only
  // keeps a failing run from hanging.
  EXPECT_EQ(exitCodeOf(endChildWithin(child, std::chrono::seconds(60))), 0);
}

}  // namespace
