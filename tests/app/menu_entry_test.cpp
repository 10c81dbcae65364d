// The desktop menu's entry as a desktop runs it, from an installation staged
// by cmake --install: the window runs in the user's settings folder and
// writes nothing in the home folder itself, and the companion then reads
// the settings it keeps there.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/child_wait.h"
#include "support/staged_install.h"
#include "support/temp_folder.h"

namespace pixmoor::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Starts `program` in `folder` with `environment` (NAME=VALUE) and nothing else.
pid_t startIn(const std::string& folder, const std::string& program,
              const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(folder.c_str()) == 0) ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  return pid;
}

// The launcher's choices, with a stand-in program that prints the folder it
// runs in and the platform Qt would use.
TEST(MenuEntry, TheLauncherChoosesTheFolderAndThePlatform) {
  StagedInstall install;
  ASSERT_TRUE(install.ok());
  TempFolder tree;
  fs::create_directories(tree.path() / "libexec/pixmoor");
  fs::create_directories(tree.path() / "bin");
  fs::copy_file(install.staged(install.installed("libexec/pixmoor/pixmoor-launch")),
                tree.path() / "libexec/pixmoor/pixmoor-launch");
  const std::string out = (tree.path() / "out").string();
  writeBytes((tree.path() / "bin/pixmoor").string(),
             "#!/bin/sh\n{ pwd; echo \"$QT_QPA_PLATFORM\"; echo \"$#\"; } > '" + out + "'\n");
  fs::permissions(tree.path() / "bin/pixmoor", fs::perms::owner_all);
  const std::string home = (tree.path() / "home").string();
  fs::create_directory(home);

  struct Row {
    std::vector<std::string> environment;
    std::string folder;  // under the tree
    std::string platform;
  };
  const std::vector<Row> rows = {
      {{}, "home/.config/pixmoor", "xcb"},
      {{"XDG_CONFIG_HOME="}, "home/.config/pixmoor", "xcb"},
      {{"XDG_CONFIG_HOME=relative"}, "home/.config/pixmoor", "xcb"},
      {{"XDG_CONFIG_HOME=" + tree.path().string() + "/cfg"}, "cfg/pixmoor", "xcb"},
      {{"QT_QPA_PLATFORM=wayland"}, "home/.config/pixmoor", "wayland"},
      {{"QT_QPA_PLATFORM=offscreen", "WAYLAND_DISPLAY=wayland-0"}, "home/.config/pixmoor", "offscreen"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.environment.empty() ? "" : row.environment.front());
    fs::remove_all(tree.path() / "home/.config");
    fs::remove_all(tree.path() / "cfg");
    std::vector<std::string> environment = row.environment;
    environment.push_back("HOME=" + home);
    environment.push_back("PATH=/usr/bin:/bin");
    const pid_t pid =
        startIn(home, (tree.path() / "libexec/pixmoor/pixmoor-launch").string(), {}, environment);
    ASSERT_EQ(exitCodeOf(endChildWithin(pid, 1min)), 0);
    EXPECT_EQ(readBytes(out), (tree.path() / row.folder).string() + "\n" + row.platform + "\n0\n");
  }
}

// The real window from the menu entry's command, then the companion over
// what it keeps there: with and without XDG_CONFIG_HOME.
TEST(MenuEntry, TheWindowKeepsItsSettingsInTheConfigFolderAndTheCompanionReadsThem) {
  StagedInstall install;
  ASSERT_TRUE(install.ok());
  const std::string exec =
      StagedInstall::keyOf(install.staged(install.installed("share/applications/pixmoor.desktop")), "Exec");
  ASSERT_EQ(exec, install.installed("libexec/pixmoor/pixmoor-launch"));
  for (const bool ownConfigHome : {false, true}) {
    SCOPED_TRACE(ownConfigHome ? "XDG_CONFIG_HOME set" : "XDG_CONFIG_HOME unset");
    TempFolder scratch;
    const fs::path home = scratch.path() / "home";
    const fs::path runtime = scratch.path() / "runtime";
    fs::create_directories(home);
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    std::vector<std::string> environment = {"HOME=" + home.string(), "XDG_RUNTIME_DIR=" + runtime.string(),
                                            "QT_QPA_PLATFORM=offscreen", "PATH=/usr/bin:/bin"};
    fs::path config = home / ".config";
    if (ownConfigHome) {
      config = scratch.path() / "config";
      environment.push_back("XDG_CONFIG_HOME=" + config.string());
    }
    const fs::path settings = config / "pixmoor/pref.qvl";

    // A desktop starts its entries in the home folder.
    const pid_t window = startIn(home.string(), install.staged(exec), {}, environment);
    const auto limit = std::chrono::steady_clock::now() + 2min;
    while (!fs::exists(settings) && std::chrono::steady_clock::now() < limit)
      std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(fs::exists(settings));
    std::error_code error;
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(window) + "/cwd", error), config / "pixmoor");
    ::kill(window, SIGTERM);
    endChildWithin(window, 1min);
    for (const auto& entry : fs::directory_iterator(home)) EXPECT_TRUE(entry.is_directory()) << entry.path();

    // What the user set in the window (here: its prefix) is what the
    // companion does, run from a folder of pictures with no settings of its own.
    const std::string written = readBytes(settings.string());
    const std::string changed =
        std::regex_replace(written, std::regex("PREFIX *= *[^\r\n]*"), "PREFIX = menu_");
    ASSERT_NE(changed, written);
    writeBytes(settings.string(), changed);
    const fs::path pictures = scratch.path() / "pictures";
    fs::create_directories(pictures);
    fs::copy_file(PIXMOOR_TEST_DATA "/jpeg/good/exo_Landscape_1.jpg", pictures / "photo.jpg");
    // A GIF is read by the decode helper, which the staged companion finds
    // relative to itself.
    fs::copy_file(PIXMOOR_TEST_DATA "/gif/good/igif_beacon.gif", pictures / "beacon.gif");
    const pid_t companion = startIn(pictures.string(), install.staged(install.installed("bin/pixmoor-batch")),
                                    {"--quiet", "photo.jpg", "beacon.gif"}, environment);
    EXPECT_EQ(exitCodeOf(endChildWithin(companion, 2min)), 0);
    EXPECT_TRUE(fs::exists(pictures / "menu_photo.jpg"));
    EXPECT_TRUE(fs::exists(pictures / "menu_beacon.jpg"));
  }
}

}  // namespace
}  // namespace pixmoor::testing
