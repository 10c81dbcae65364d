// The update check: reads the one-line version file from the vendor site and
// tells the user whether a newer version exists.
//
// Everything here runs on the interface thread and blocks it for the length
// of one HTTP request; the time-outs below bound that wait. The module never
// shows anything itself: it speaks to the window through UpdateCheckWindow.
// Failures of the network are not errors here: a fetch that fails answers
// the empty text, which the check reads as "no newer version". Qt-free.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace pixmoor::texts {
struct UiTexts;
}

namespace pixmoor::online {

// Starts libcurl's global state. Call once at start-up, before any other
// thread exists; its answer is the program's networkAvailable flag.
bool StartNetwork();
// Releases what StartNetwork set up. Call once at the end, after the last
// fetch, and only when StartNetwork answered true.
void StopNetwork();

// Holds the network layer for the life of the program (StartNetwork on
// construction, StopNetwork on destruction when it had started).
class NetworkSession {
 public:
  NetworkSession() : available_(StartNetwork()) {}
  ~NetworkSession() {
    if (available_) StopNetwork();
  }
  NetworkSession(const NetworkSession&) = delete;
  NetworkSession& operator=(const NetworkSession&) = delete;

  bool available() const { return available_; }

 private:
  bool available_;
};

// How long one fetch may take. When either limit passes, the fetch gives up
// and answers the empty text, as for any other failure.
struct FetchTimeouts {
  std::chrono::milliseconds connect{5000};
  std::chrono::milliseconds total{8000};
};

// A plain HTTP GET of `address`, always answered by the server (never by a
// cache or a proxy). Answers the whole body of any answer, whatever its
// status code (a 404 page included), byte for byte; the empty text when the
// request fails (bad address, no connection, time-out).
std::string FetchUrlText(const std::string& address, const FetchTimeouts& timeouts = {});

// What the update check needs from the main window. Implemented by the
// window; tests implement it to record and answer.
class UpdateCheckWindow {
 public:
  virtual ~UpdateCheckWindow() = default;
  // Puts `text` into the status line.
  virtual void showStatus(const std::string& text) = 0;
  // A Yes/No message box without icon; true for Yes.
  virtual bool askYesNo(const std::string& title, const std::string& text) = 0;
  // Opens `address` in the default browser (see web_pages.h).
  virtual void openWebPage(const std::string& address) = 0;
  // The sound cue for `milliseconds` (silent when the program has no sound).
  virtual void playCue(int milliseconds) = 0;
};

enum class UpdateOutcome {
  NoNetwork,  // network start-up had failed: status text only, no request made
  UpToDate,   // the fetched text equals our version, or nothing could be fetched
  Accepted,   // another text came back and the user chose to open the download page
  Declined,   // another text came back and the user said No
};

// The length of the click cue played by the update check.
inline constexpr int kUpdateCueMilliseconds = 60;

// The update check of the Online menu.
//  - networkAvailable false: status noInternetText; nothing else.
//  - fetched text equal to versionText byte for byte, or empty: status
//    latestVersionText and a 60 ms cue.
//  - any other text (an older number, a line end after the number, an error
//    page...) is taken as a newer version and shown exactly as received:
//    askYesNo(updateTitle, versionAvailablePrefix + text +
//    versionAvailableSuffix); Yes opens downloadPageAddress, No puts
//    userCancelledText into the status line and plays the 60 ms cue.
UpdateOutcome CheckForUpdate(bool networkAvailable, std::string_view versionText,
                             const std::string& versionFileAddress, const std::string& downloadPageAddress,
                             const texts::UiTexts& texts, UpdateCheckWindow& window,
                             const FetchTimeouts& timeouts = {});

}  // namespace pixmoor::online
