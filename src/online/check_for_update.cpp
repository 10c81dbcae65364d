// CheckForUpdate: the Online menu's update check.
#include <string>

#include "texts/ui_texts.h"
#include "online/update_check.h"

namespace pixmoor::online {

UpdateOutcome CheckForUpdate(bool networkAvailable, std::string_view versionText,
                             const std::string& versionFileAddress, const std::string& downloadPageAddress,
                             const texts::UiTexts& texts, UpdateCheckWindow& window,
                             const FetchTimeouts& timeouts) {
  if (!networkAvailable) {
    window.showStatus(texts.noInternetText);
    return UpdateOutcome::NoNetwork;
  }
  const std::string latest = FetchUrlText(versionFileAddress, timeouts);
  // Byte for byte: a line end after the number, or any page the server sends
  // instead, counts as a different version. Nothing fetched means we cannot
  // tell, and the user hears that all is well.
  if (latest.empty() || latest == versionText) {
    window.showStatus(texts.latestVersionText);
    window.playCue(kUpdateCueMilliseconds);
    return UpdateOutcome::UpToDate;
  }
  const std::string question = texts.versionAvailablePrefix + latest + texts.versionAvailableSuffix;
  if (window.askYesNo(texts.updateTitle, question)) {
    window.openWebPage(downloadPageAddress);
    return UpdateOutcome::Accepted;
  }
  window.showStatus(texts.userCancelledText);
  window.playCue(kUpdateCueMilliseconds);
  return UpdateOutcome::Declined;
}

}  // namespace pixmoor::online
