// "Resize with Pixmoor" as each file manager runs it: the command line its
// action file declares (from an installation staged by cmake --install), on a
// selection of odd names, with the menu's settings, told through a
// notification service of the test's own.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app_core/failure_list.h"
#include "codecs/format_registry.h"
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
    ::unsetenv("LANGUAGE");
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

  // A path as a file:// URL, each byte outside the unreserved set escaped,
  // as KDE writes one.
  static std::string fileUrl(const std::string& path) {
    std::string url = "file://";
    for (const char c : path) {
      const auto byte = static_cast<unsigned char>(c);
      if (std::isalnum(byte) != 0 || std::strchr("/-._~", c) != nullptr) {
        url += c;
      } else {
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
        url += escaped;
      }
    }
    return url;
  }

  // The action file's Exec, its %F or %U given the selection as the file
  // managers do (one argument per file, paths or URLs, no shell), its
  // program taken from the stage.
  static int runAction(const std::string& actionFile, const std::vector<std::string>& paths) {
    const std::string exec = StagedInstall::keyOf(install_->staged(actionFile), "Exec");
    std::istringstream words(exec);
    std::vector<std::string> argv;
    for (std::string word; words >> word;) {
      if (word == "%F") {
        argv.insert(argv.end(), paths.begin(), paths.end());
      } else if (word == "%U") {
        for (const std::string& path : paths) argv.push_back(fileUrl(path));
      } else {
        argv.push_back(word);
      }
    }
    EXPECT_EQ(argv.size(), paths.size() + 1) << exec;
    if (argv.size() != paths.size() + 1) return -1;
    return runIn("/", install_->staged(argv[0]), {argv.begin() + 1, argv.end()});
  }

  static std::string nemoAction() {
    return install_->installed("share/nemo/actions/pixmoor-resize.nemo_action");
  }
  static std::string dolphinMenu() {
    return install_->installed("share/kio/servicemenus/pixmoor-resize.desktop");
  }

  // The running notification, then its updates, then the end, all one
  // notification: the first picture's count is shown at once.
  static void expectOneNotificationCounting(const std::vector<ShownNotification>& shown) {
    ASSERT_GE(shown.size(), 3u);
    EXPECT_EQ(shown[0].actions, (std::vector<std::string>{"stop", "Stop"}));
    for (std::size_t i = 1; i < shown.size(); ++i) EXPECT_EQ(shown[i].replaces, shown[0].id) << i;
    EXPECT_EQ(shown[1].body, "Resizing the pictures you chose...\n1 picture done");
    EXPECT_EQ(shown[1].actions, shown[0].actions);
  }

  // What the run should have said: every odd name written, notes.jpg listed.
  void expectTheEnd(const std::vector<ShownNotification>& shown) {
    expectOneNotificationCounting(shown);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().summary, "4 pictures written");
    const texts::UiTexts texts =
        texts::BuildUiTexts("UK", texts::kTitleBase, texts::kVersionText, "\n", 1920, 1080, "");
    EXPECT_EQ(shown.back().body,
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

// Dolphin passes a name that is not UTF-8 only as a URL (%U), which the
// action decodes to the name's bytes.
TEST_F(ResizeAction, DolphinsServiceMenuOnPicturesAndOnTheirFolder) {
  EXPECT_NE(StagedInstall::keyOf(install_->staged(dolphinMenu()), "Exec").find(" %U"), std::string::npos);
  for (const bool folder : {false, true}) {
    SCOPED_TRACE(folder ? "the folder" : "the pictures");
    for (const std::string& name : kOddNames) fs::remove(pictures_.path() / ("menu_" + name));
    FakeNotifications notifications;
    ASSERT_TRUE(notifications.serving());
    const std::vector<std::string> chosen = folder ? std::vector{pictures_.path().string()} : selection();
    EXPECT_EQ(runAction(dolphinMenu(), chosen), 1);
    expectTheEnd(notifications.shown());
  }
}

TEST_F(ResizeAction, NemosAction) {
  FakeNotifications notifications;
  ASSERT_TRUE(notifications.serving());
  EXPECT_EQ(runAction(nemoAction(), selection()), 1);
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

// Stop pressed on the notification once a picture is done, while the run
// goes on: the companion is stopped, and the end says so, counts what was
// written and tells how much of the whole was done.
TEST_F(ResizeAction, StopOnTheNotificationStopsTheRun) {
  writeBytes(
      (home_.path() / ".config/pixmoor/pref.qvl").string(),
      "[DEFAUT]\r\nPREFIX = menu_\r\nLNG = UK\r\nMODE = FREE\r\nL = 9000\r\nH = 6000\r\nTYPE = PNG\r\n");
  FakeNotifications notifications("stop", 2);
  ASSERT_TRUE(notifications.serving());
  EXPECT_EQ(runAction(nemoAction(), selection()), 1);
  const std::vector<ShownNotification> shown = notifications.shown();
  ASSERT_GE(shown.size(), 3u);
  int written = 0;
  for (const std::string& name : kOddNames)
    written += fs::exists(pictures_.path() / ("menu_" + fs::path(name).stem().string() + ".png")) ? 1 : 0;
  EXPECT_GE(written, 1);  // the Stop came once a picture was done
  EXPECT_EQ(shown.back().summary,
            "Stopped: " + std::to_string(written) + (written == 1 ? " picture" : " pictures") + " written");
  // notes.jpg is done too once the run reaches it, and listed then.
  const bool notesDone = shown.back().body.find("notes.jpg: unknown format") != std::string::npos;
  EXPECT_EQ(shown.back().body.substr(0, shown.back().body.find('\n')),
            "Done before the Stop: " + std::to_string(written + (notesDone ? 1 : 0)) + " of 5");
}

// The settings of the window's first run say FR; the action follows the
// session's English all the same.
TEST_F(ResizeAction, SpeaksTheSessionsLanguageOverTheFirstRunsDefault) {
  writeBytes((home_.path() / ".config/pixmoor/pref.qvl").string(),
             "[DEFAUT]\r\nPREFIX = menu_\r\nLNG = FR\r\nMODE = REL\r\n");
  for (const char* lang : {"en_GB.UTF-8", "fr_FR.UTF-8"}) {
    SCOPED_TRACE(lang);
    ::setenv("LANG", lang, 1);
    FakeNotifications notifications;
    ASSERT_TRUE(notifications.serving());
    EXPECT_EQ(runAction(nemoAction(), {(pictures_.path() / kOddNames[0]).string()}), 0);
    const std::vector<ShownNotification> shown = notifications.shown();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().summary, lang[0] == 'e' ? "1 picture written" : "1 image écrite");
  }
}

// What the end says beyond a count: why nothing came of a path, and which
// output was written from a source cut short.
TEST_F(ResizeAction, TheEndSaysWhyAndWhatWasWrittenWithAWarning) {
  fs::create_directory(pictures_.path() / "empty");
  writeBytes((pictures_.path() / "notes.txt").string(), "not a picture\n");
  const std::string jpeg = readBytes(PIXMOOR_TEST_DATA "/jpeg/good/exo_Landscape_1.jpg");
  writeBytes((pictures_.path() / "cut.jpg").string(), jpeg.substr(0, jpeg.size() / 2));
  const std::string empty = (pictures_.path() / "empty").string();
  const std::string notes = (pictures_.path() / "notes.txt").string();
  const struct {
    std::string chosen;
    std::string summary;
    std::string body;
  } rows[] = {
      {empty, "0 pictures written", empty + ": no picture found (its subfolders are not entered)"},
      {notes, "0 pictures written", notes + ": not a picture (its name is not one of a picture format)"},
      {(pictures_.path() / "cut.jpg").string(), "1 picture written",
       "1 picture written with a warning:\nmenu_cut.jpg: truncated (its data ended or broke off early; the "
       "missing part is filled in)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.chosen);
    FakeNotifications notifications;
    ASSERT_TRUE(notifications.serving());
    runAction(nemoAction(), {row.chosen});
    const std::vector<ShownNotification> shown = notifications.shown();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().summary, row.summary);
    EXPECT_EQ(shown.back().body, row.body);
  }
}

// The actions are offered on pictures and folders only, by MIME type: every
// format the companion reads (shared-mime-info's types of its extensions),
// and nothing else.
TEST_F(ResizeAction, OfferedOnThePicturesTheCompanionReadsAndOnFolders) {
  const std::map<std::string_view, std::string> mimeOfExtension = {
      {".jpg", "image/jpeg"},  {".jpeg", "image/jpeg"}, {".png", "image/png"},  {".bmp", "image/bmp"},
      {".tif", "image/tiff"},  {".tiff", "image/tiff"}, {".gif", "image/gif"},  {".webp", "image/webp"},
      {".heic", "image/heif"}, {".heif", "image/heif"}, {".avif", "image/avif"}};
  std::set<std::string> wanted = {"inode/directory"};
  for (const image::FormatDescriptor& format : image::pictureFormats()) {
    if (format.recognises == nullptr) continue;  // a name alone, never read
    for (const auto& names : {format.extensions, format.companionExtensions}) {
      for (const std::string_view extension : names) {
        const auto mime = mimeOfExtension.find(extension);
        ASSERT_NE(mime, mimeOfExtension.end()) << extension << ": which MIME type?";
        wanted.insert(mime->second);
      }
    }
  }
  const auto listed = [](const std::string& list) {
    std::set<std::string> types;
    std::istringstream in(list);
    for (std::string type; std::getline(in, type, ';');)
      if (!type.empty()) types.insert(type);
    return types;
  };
  const std::string nemo = install_->staged(nemoAction());
  EXPECT_EQ(listed(StagedInstall::keyOf(nemo, "Mimetypes")), wanted);
  EXPECT_EQ(StagedInstall::keyOf(nemo, "Extensions"), "");  // which would offer it beside the types
  EXPECT_EQ(listed(StagedInstall::keyOf(install_->staged(dolphinMenu()), "MimeType")), wanted);
}

}  // namespace
}  // namespace pixmoor::testing
