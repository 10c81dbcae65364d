// Menu entries and keyboard shortcuts, and what the user sees of the update
// check.
#include "app/gui_numbers.h"
#include "app/gui_program.h"

namespace pixmoor::app {

using texts::FixedTexts;

void Program::onMenuCommand(int number) {
  switch (number) {
    case command::about:
    case command::aboutKey:
      window_->showHelpText(texts_.aboutText);
      break;
    case command::helpUsage:
      window_->showHelpText(texts_.helpUsage);
      break;
    case command::helpFormats:
      window_->showHelpText(texts_.helpFormats);
      break;
    case command::helpResolution:
      window_->showHelpText(texts_.helpResolution);
      break;
    case command::helpDonate:
      window_->showHelpText(texts_.helpDonate);
      break;
    case command::donate:
    case command::donateKey:
      openWebPage(online::donationPageAddress());
      break;
    case command::checkUpdate:
    case command::checkUpdateKey:
      checkForUpdate();
      break;
    case command::visitSite:
    case command::visitSiteKey:
      openWebPage(online::siteAddress());
      break;
    case command::quit:
    case command::quitKey:
      saveAll();
      RequestQuit(state_);
      break;
    case command::french:
      languageChange("FR");
      break;
    case command::english:
      languageChange("UK");
      break;
    case command::spanish:
      window_->setStatus(std::string(FixedTexts::spanishComingSoon));
      break;
    case command::dutch:
      window_->setStatus(std::string(FixedTexts::dutchComingSoon));
      break;
    case command::adjustToDesktop:
      desktopCommand();
      break;
    case command::ballGame:
      if (services_.runBallGame) services_.runBallGame(*window_);
      break;
    default:
      break;  // the Enter key (47) does nothing
  }
}

void Program::checkForUpdate() {
  const online::UpdateFinding found =
      online::CheckForUpdate(state_.networkAvailable, state_.versionText, state_.versionFileAddress);
  switch (found.status) {
    case online::UpdateStatus::noNetwork:
    case online::UpdateStatus::notRead:
      // A file we could not read tells nothing about the version.
      window_->setStatus(texts_.noInternetText);
      break;
    case online::UpdateStatus::upToDate:
      window_->setStatus(texts_.latestVersionText);
      playCue(kAnswerCueMilliseconds);
      break;
    case online::UpdateStatus::newerVersion:
      // Shown as received, whatever the server sent.
      if (askYesNo(texts_.updateTitle,
                   texts_.versionAvailablePrefix + found.latest + texts_.versionAvailableSuffix,
                   platform::DefaultAnswer::yes)) {
        openWebPage(online::downloadPageAddress());
      } else {
        window_->setStatus(texts_.userCancelledText);
        playCue(kAnswerCueMilliseconds);
      }
      break;
  }
}

void Program::languageChange(const std::string& code) {
  if (settings_.language == code) return;
  settings_.language = code;
  const std::string_view notice =
      code == "FR" ? FixedTexts::restartNoticeFrench : FixedTexts::restartNoticeEnglish;
  if (services_.requesters != nullptr) {
    services_.requesters->showInformation(std::string(FixedTexts::restartTitle), std::string(notice));
  }
  saveAll();
  // The interface is not rebuilt: the program ends here, without fade-out.
  state_.endAtOnce = true;
  RequestQuit(state_);
  if (services_.endProgram) services_.endProgram();
}

void Program::desktopCommand() {
  const int width = state_.desktopWidth;
  const int height = state_.desktopHeight;
  if (settings_.mode == settings::SizeMode::relative) {
    setFieldText(control::landscapeField, width);
    setFieldText(control::portraitField, height);
  } else {
    setFieldText(control::freeWidthField, width);
    setFieldText(control::freeHeightField, height);
  }
  // Each field's handler has shown the summary and stored its key.
}

}  // namespace pixmoor::app
