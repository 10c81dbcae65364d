// The update check: the network layer's start and end, the HTTP fetch, and
// the check that reads the one-line version file from the vendor site and
// answers whether a newer version exists (fetch_url_text.cpp,
// network_start.cpp, check_for_update.cpp).
//
// Everything here runs on the interface thread and blocks it for the length
// of one HTTP request; the time-outs below bound that wait. The module shows
// nothing and plays nothing: CheckForUpdate returns what it found and the
// window decides what the user sees. A version file that could not be read
// (no answer, or an error status with nothing to show) is told apart from
// one that holds our version: the check never claims the version is current
// when it could not tell. Qt-free.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace pixmoor::online {

// Starts libcurl's global state. Call once at start-up, before any other
// thread exists; its answer is the program's networkAvailable flag.
bool startNetwork();
// Releases what startNetwork set up. Call once at the end, after the last
// fetch, and only when startNetwork answered true.
void stopNetwork();

// Holds the network layer for the life of the program (startNetwork on
// construction, stopNetwork on destruction when it had started).
class NetworkSession {
 public:
  NetworkSession() : available_(startNetwork()) {}
  ~NetworkSession() {
    if (available_) stopNetwork();
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

// What a server answered: the status of the final answer (after redirects)
// and its whole body, byte for byte.
struct HttpAnswer {
  long status = 0;
  std::string body;
};

// A plain HTTP GET of `address`, always answered by the server (never by a
// cache or a proxy). Nothing when no answer came (bad address, no
// connection, refused, time-out, a body beyond 1 MiB).
std::optional<HttpAnswer> fetchHttpAnswer(const std::string& address, const FetchTimeouts& timeouts = {});

// The body of any answer, whatever its status code (a 404 page included);
// the empty text when no answer came.
std::string FetchUrlText(const std::string& address, const FetchTimeouts& timeouts = {});

// What the update check found.
enum class UpdateStatus {
  noNetwork,     // network start-up had failed: no request was made
  notRead,       // no answer, or an error status with an empty body: we cannot tell
  upToDate,      // the version file holds our version, or is empty
  newerVersion,  // any other text came back
};

struct UpdateFinding {
  UpdateStatus status = UpdateStatus::noNetwork;
  // With newerVersion, the fetched text exactly as received: an older
  // number, a number followed by a line end, or an error page the server
  // sent instead all count as a newer version. Empty otherwise.
  std::string latest;
};

// The update check of the Online menu: no request without the network;
// otherwise one fetch of versionFileAddress, compared with versionText byte
// for byte (case and line ends included). An error page is a text like any
// other; an error status without one, or no answer at all, is notRead.
UpdateFinding CheckForUpdate(bool networkAvailable, std::string_view versionText,
                             const std::string& versionFileAddress, const FetchTimeouts& timeouts = {});

}  // namespace pixmoor::online
