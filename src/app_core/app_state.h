// AppState: the process-wide application record, filled at start-up.
//
// Owned by the program's start-up; read and written by the interface thread,
// except `busy`, which the batch threads share (atomic). Holds no Qt types so
// that the start-up spine can be tested without a window.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace pixmoor::app {

struct AppState {
  std::string titleBase;
  std::string versionText;
  std::string versionFileAddress;
  std::string workingFolder;  // ends with "/" (empty when the current folder could not be read)
  std::string settingsPath;
  std::string lineBreak;
  std::atomic<std::int32_t> busy{0};
  bool quitRequested = false;
  bool endAtOnce = false;  // the end skips the fade-out (language change)
  bool networkAvailable = false;
  bool soundAvailable = false;
  std::string instanceName;
  int desktopWidth = 0;
  int desktopHeight = 0;
};

// The folder text with one "/" at its end ("/" stays "/"; "" stays "").
std::string withTrailingSlash(const std::string& folder);

// The process's current folder, or "" when it cannot be read.
std::string currentFolder();

void RequestQuit(AppState& state);

}  // namespace pixmoor::app
