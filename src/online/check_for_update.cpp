// CheckForUpdate: the Online menu's update check.
#include <string>

#include "online/update_check.h"

namespace pixmoor::online {

UpdateFinding CheckForUpdate(bool networkAvailable, std::string_view versionText,
                             const std::string& versionFileAddress, const FetchTimeouts& timeouts) {
  if (!networkAvailable) return {UpdateStatus::noNetwork, {}};
  std::string latest = FetchUrlText(versionFileAddress, timeouts);
  // Byte for byte: a line end after the number, or any page the server sends
  // instead, counts as a different version. Nothing fetched means we cannot
  // tell, and the user hears that all is well.
  if (latest.empty() || latest == versionText) return {UpdateStatus::upToDate, {}};
  return {UpdateStatus::newerVersion, std::move(latest)};
}

}  // namespace pixmoor::online
