// pixmoor-resize: the file managers' "Resize with Pixmoor". Runs
// pixmoor-batch on the chosen pictures or folder with the window's settings
// (it runs in the menu's settings folder, so the companion reads the
// window's pref.qvl there), counts the pictures done in a notification that
// offers a Stop while it runs, and says at the end how many pictures were
// written, which produced no file and why, which were written with a
// warning, and why a chosen path gave no picture. Started by the file
// manager, which does not wait for it.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "batch/intake.h"
#include "companion/run_settings.h"
#include "file_actions/action_arguments.h"
#include "file_actions/action_language.h"
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

// The run on the main loop: the companion's report read line by line as it
// comes, its standard error gathered, and its end; the loop ends once all
// three are in.
struct Run {
  GMainLoop* loop = nullptr;
  GSubprocess* companion = nullptr;
  GDataInputStream* report = nullptr;
  GOutputStream* errors = nullptr;
  int pending = 0;
  bool stopRequested = false;
  file_actions::ResizeReport read;
  std::function<void()> onPicture;
  int status = 2;

  void oneDone() {
    if (--pending == 0) g_main_loop_quit(loop);
  }
};

void readLine(GObject* source, GAsyncResult* result, gpointer data) {
  auto* run = static_cast<Run*>(data);
  gsize length = 0;
  gchar* line = g_data_input_stream_read_line_finish(G_DATA_INPUT_STREAM(source), result, &length, nullptr);
  if (line == nullptr) return run->oneDone();  // the end of the report, or a failed read
  const int before = run->read.done;
  file_actions::readReportLine(run->read, std::string_view(line, length));
  g_free(line);
  if (run->read.done != before && run->onPicture) run->onPicture();
  g_data_input_stream_read_line_async(run->report, G_PRIORITY_DEFAULT, nullptr, &readLine, run);
}

void errorsRead(GObject* source, GAsyncResult* result, gpointer data) {
  g_output_stream_splice_finish(G_OUTPUT_STREAM(source), result, nullptr);
  static_cast<Run*>(data)->oneDone();
}

void ended(GObject* source, GAsyncResult* result, gpointer data) {
  auto* run = static_cast<Run*>(data);
  GSubprocess* companion = G_SUBPROCESS(source);
  if (g_subprocess_wait_finish(companion, result, nullptr)) {
    // Killed (a Stop before the companion could answer signals): stopped.
    run->status = g_subprocess_get_if_exited(companion) ? g_subprocess_get_exit_status(companion) : 1;
  }
  run->oneDone();
}

std::string errorsText(GOutputStream* errors) {
  auto* memory = G_MEMORY_OUTPUT_STREAM(errors);
  const auto* bytes = static_cast<const char*>(g_memory_output_stream_get_data(memory));
  return bytes != nullptr ? std::string(bytes, g_memory_output_stream_get_data_size(memory)) : std::string();
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
  // A name from the file manager may be a URL, or relative to the folder it ran us in.
  std::vector<file_actions::ChosenPath> chosen;
  const std::string here = std::filesystem::current_path().string();
  for (int i = 1; i < argc; ++i) {
    const std::string path = file_actions::chosenPath(argv[i], here);
    chosen.push_back({path, batch::isFolder(path)});
  }
  const std::string folder = menuSettingsFolder();
  if (folder.empty() || ::chdir(folder.c_str()) != 0) {
    std::fprintf(stderr, "pixmoor-resize: cannot enter the settings folder\n");
    return 2;
  }
  const auto saved = settings::readSettings(settings::kSettingsFileName, companion::kDefaultDesktopWidth,
                                            companion::kDefaultDesktopHeight);
  const std::string language = file_actions::actionLanguage(
      saved ? std::optional(saved->language) : std::nullopt,
      {std::getenv("LANGUAGE"), std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG")});
  const texts::UiTexts texts =
      texts::BuildUiTexts(language, texts::kTitleBase, texts::kVersionText, "\n",
                          companion::kDefaultDesktopWidth, companion::kDefaultDesktopHeight, "");

  Run run;
  run.loop = g_main_loop_new(nullptr, FALSE);
  const std::unique_ptr<file_actions::DesktopNotifications> notifications =
      file_actions::DesktopNotifications::connect();
  std::uint32_t shown = 0;
  gint64 lastShown = 0;  // when the running count was last shown
  const auto showRunning = [&] {
    const file_actions::NotificationText running =
        file_actions::runningNotification(texts, language, run.read.done);
    std::vector<std::pair<std::string, std::string>> actions;
    if (!run.stopRequested) actions.emplace_back("stop", texts.actionStop);
    const std::uint32_t id = notifications->notify(shown, running.summary, running.body, actions, true);
    if (shown == 0) shown = id;
  };
  if (notifications) {
    showRunning();
    notifications->onAction([&](std::uint32_t id, const std::string& key) {
      if (id != shown || key != "stop" || run.companion == nullptr || run.stopRequested) return;
      run.stopRequested = true;
      g_subprocess_send_signal(run.companion, SIGTERM);  // the companion's Stop
    });
    // The first count at once, then at most two a second: a notification
    // redrawn for each small picture would only flicker.
    run.onPicture = [&] {
      if (shown == 0) return;  // no service answered: nothing to update
      const gint64 now = g_get_monotonic_time();
      if (run.read.done > 1 && now - lastShown < G_USEC_PER_SEC / 2) return;
      lastShown = now;
      showRunning();
    };
  }

  const std::string program = companionProgram();
  std::vector<const char*> arguments = {program.c_str(), "--json"};
  for (const file_actions::ChosenPath& path : chosen) arguments.push_back(path.path.c_str());
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
    run.pending = 3;
    run.report = g_data_input_stream_new(g_subprocess_get_stdout_pipe(run.companion));
    g_data_input_stream_read_line_async(run.report, G_PRIORITY_DEFAULT, nullptr, &readLine, &run);
    run.errors = g_memory_output_stream_new_resizable();
    g_output_stream_splice_async(run.errors, g_subprocess_get_stderr_pipe(run.companion),
                                 G_OUTPUT_STREAM_SPLICE_CLOSE_SOURCE, G_PRIORITY_DEFAULT, nullptr,
                                 &errorsRead, &run);
    g_subprocess_wait_async(run.companion, nullptr, &ended, &run);
    g_main_loop_run(run.loop);
  }

  // Without a summary the companion refused the run (a usage error): its
  // own words say why.
  if (problem.empty() && !run.read.summarised && !run.stopRequested && run.errors != nullptr)
    problem = file_actions::displayName(errorsText(run.errors));
  const file_actions::NotificationText text =
      file_actions::finalNotification(run.read, texts, language, run.stopRequested, problem, chosen);
  if (!notifications || notifications->notify(shown, text.summary, text.body, {}, false) == 0) {
    std::fprintf(stderr, "%s\n%s\n", text.summary.c_str(), text.body.c_str());
  }
  if (run.report != nullptr) g_object_unref(run.report);
  if (run.errors != nullptr) g_object_unref(run.errors);
  if (run.companion != nullptr) g_object_unref(run.companion);
  g_main_loop_unref(run.loop);
  return run.status;
}
