// CheckForUpdate: the Online menu's update check.
#include <optional>
#include <string>

#include "online/update_check.h"

namespace pixmoor::online {

UpdateFinding CheckForUpdate(bool networkAvailable, std::string_view versionText,
                             const std::string& versionFileAddress, const FetchTimeouts& timeouts) {
  if (!networkAvailable) return {UpdateStatus::noNetwork, {}};
  std::optional<HttpAnswer> answer = fetchHttpAnswer(versionFileAddress, timeouts);
  const bool success = answer && answer->status >= 200 && answer->status < 300;
  if (!answer || (answer->body.empty() && !success)) return {UpdateStatus::notRead, {}};
  // Byte for byte: a line end after the number, or any page the server sends
  // instead, counts as a different version.
  if (answer->body.empty() || answer->body == versionText) return {UpdateStatus::upToDate, {}};
  return {UpdateStatus::newerVersion, std::move(answer->body)};
}

}  // namespace pixmoor::online
