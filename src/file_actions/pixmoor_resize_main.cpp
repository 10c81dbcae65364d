// pixmoor-resize: the file managers' "Resize with Pixmoor". Runs
// pixmoor-batch on the chosen pictures or folder with the window's settings
// (it runs in the menu's settings folder, so the companion reads the
// window's pref.qvl there), offers a Stop in a notification while it runs,
// and says at the end how many pictures were written and which produced no
// file and why. Started by the file manager, which does not wait for it.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "companion/run_settings.h"
#include "file_actions/desktop_notifications.h"
#include "file_actions/resize_report.h"
#include "settings/settings_store.h"
#include "texts/program_version.h"
#include "texts/ui_texts.h"

#ifndef PIXMOOR_BATCH_FROM_HERE
#error "PIXMOOR_BATCH_FROM_HERE must name pixmoor-batch relative to this program's folder"
#endif

namespace {

using namespace pixmoor;

// Beside this program in a build folder, else where the installation puts it.
std::string companionProgram() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "pixmoor-batch";
  const std::filesystem::path beside = self.parent_path() / "pixmoor-batch";
  if (::access(beside.c_str(), X_OK) == 0) return beside.string();
  return (self.parent_path() / PIXMOOR_BATCH_FROM_HERE).lexically_normal().string();
}

struct Run {
  GMainLoop* loop = nullptr;
  GSubprocess* companion = nullptr;
  bool stopRequested = false;
  std::string out;
  std::string err;
  int status = 2;
};

void finished(GObject* source, GAsyncResult* result, gpointer data) {
  auto* run = static_cast<Run*>(data);
  GBytes* out = nullptr;
  GBytes* err = nullptr;
  if (g_subprocess_communicate_finish(G_SUBPROCESS(source), result, &out, &err, nullptr)) {
    gsize size = 0;
    const auto* bytes = static_cast<const char*>(g_bytes_get_data(out, &size));
    run->out.assign(bytes != nullptr ? bytes : "", size);
    bytes = static_cast<const char*>(g_bytes_get_data(err, &size));
    run->err.assign(bytes != nullptr ? bytes : "", size);
    g_bytes_unref(out);
    g_bytes_unref(err);
    g_subprocess_wait(run->companion, nullptr, nullptr);
    // Killed (a Stop before the companion could answer signals): stopped.
    run->status =
        g_subprocess_get_if_exited(run->companion) ? g_subprocess_get_exit_status(run->companion) : 1;
  }
  g_main_loop_quit(run->loop);
}

// The folder the menu entry runs the window in (the launcher's rule).
std::string menuSettingsFolder() {
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  std::string config;
  if (configHome != nullptr && configHome[0] == '/') {
    config = configHome;
  } else if (home != nullptr && home[0] != '\0') {
    config = std::string(home) + "/.config";
  } else {
    return {};
  }
  if (::mkdir(config.c_str(), 0700) != 0 && errno != EEXIST) return {};
  const std::string folder = config + "/pixmoor";
  if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) return {};
  return folder;
}

}  // namespace

int main(int argc, char** argv) {
  // A name from the file manager may be relative to the folder it ran us in.
  std::vector<std::string> paths;
  const std::string here = std::filesystem::current_path().string();
  for (int i = 1; i < argc; ++i) {
    const std::string path = argv[i];
    paths.push_back(path.starts_with('/') ? path : here + "/" + path);
  }
  const std::string folder = menuSettingsFolder();
  if (folder.empty() || ::chdir(folder.c_str()) != 0) {
    std::fprintf(stderr, "pixmoor-resize: cannot enter the settings folder\n");
    return 2;
  }
  const auto saved = settings::readSettings(settings::kSettingsFileName, companion::kDefaultDesktopWidth,
                                            companion::kDefaultDesktopHeight);
  const std::string language =
      saved && (saved->language == "UK" || saved->language == "FR")
          ? saved->language
          : companion::localeLanguage(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
  const texts::UiTexts texts =
      texts::BuildUiTexts(language, texts::kTitleBase, texts::kVersionText, "\n",
                          companion::kDefaultDesktopWidth, companion::kDefaultDesktopHeight, "");

  Run run;
  run.loop = g_main_loop_new(nullptr, FALSE);
  const std::unique_ptr<file_actions::DesktopNotifications> notifications =
      file_actions::DesktopNotifications::connect();
  std::uint32_t shown = 0;
  if (notifications) {
    const file_actions::NotificationText running = file_actions::runningNotification(language);
    shown = notifications->notify(0, running.summary, running.body,
                                  {{"stop", file_actions::stopActionLabel(language)}}, true);
    notifications->onAction([&](std::uint32_t id, const std::string& key) {
      if (id != shown || key != "stop" || run.companion == nullptr) return;
      run.stopRequested = true;
      g_subprocess_send_signal(run.companion, SIGTERM);  // the companion's Stop
    });
  }

  const std::string program = companionProgram();
  std::vector<const char*> arguments = {program.c_str(), "--json"};
  for (const std::string& path : paths) arguments.push_back(path.c_str());
  arguments.push_back(nullptr);
  GError* error = nullptr;
  run.companion = g_subprocess_newv(
      arguments.data(),
      static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_PIPE), &error);
  std::string problem;
  if (run.companion == nullptr) {
    problem = error != nullptr ? error->message : "pixmoor-batch could not be started";
    g_clear_error(&error);
  } else {
    g_subprocess_communicate_async(run.companion, nullptr, nullptr, &finished, &run);
    g_main_loop_run(run.loop);
  }

  const file_actions::ResizeReport report = file_actions::readResizeReport(run.out);
  // Without a summary the companion refused the run (a usage error, nothing
  // to do): its own words say why.
  if (problem.empty() && !report.summarised && !run.stopRequested)
    problem = file_actions::displayName(run.err);
  const file_actions::NotificationText text =
      file_actions::finalNotification(report, texts, language, run.stopRequested, problem);
  if (!notifications || notifications->notify(shown, text.summary, text.body, {}, false) == 0) {
    std::fprintf(stderr, "%s\n%s\n", text.summary.c_str(), text.body.c_str());
  }
  if (run.companion != nullptr) g_object_unref(run.companion);
  g_main_loop_unref(run.loop);
  return run.status;
}
