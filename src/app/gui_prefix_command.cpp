// The prefix command: the input box, the no-prefix warning and the status
// text that tells the outcome.
#include "app/gui_numbers.h"
#include "app/gui_program.h"

namespace pixmoor::app {

using texts::FixedTexts;

namespace {
inline constexpr const char* kNoPrefix = "0";
}  // namespace

void Program::prefixCommand() {
  // What the window shows, not the field: a drop may have emptied the field.
  const std::string oldPrefixShown = window_->text(control::prefixValue);
  std::string newPrefix;
  if (services_.requesters != nullptr) {
    newPrefix = services_.requesters->inputBox(texts_.prefixBoxTitle, texts_.prefixBoxPrompt, oldPrefixShown);
  }
  if (newPrefix.empty()) newPrefix = kNoPrefix;  // a cancelled box answers "no prefix" too

  if (newPrefix != oldPrefixShown && newPrefix != kNoPrefix) {
    settings_.prefix = newPrefix;
    window_->setFieldText(control::prefixValue, newPrefix);
    window_->setStatus(texts_.prefixSetText);
    replaceFailureList();
    storeText(settings::kKeyPrefix, settings_.prefix);
  } else if (newPrefix == kNoPrefix && oldPrefixShown != kNoPrefix) {
    // The answer that replaces the originals is never the one a key gives.
    if (askYesNo(texts_.noPrefixTitle, texts_.noPrefixWarning, platform::DefaultAnswer::no)) {
      settings_.prefix = kNoPrefix;
      window_->setFieldText(control::prefixValue, kNoPrefix);
      replaceFailureList();
      storeText(settings::kKeyPrefix, settings_.prefix);
    } else {
      window_->setStatus(texts_.cancelledText + std::string(FixedTexts::cancelSeparator) +
                         texts_.prefixUnchangedText);
    }
  } else {
    window_->setStatus(texts_.prefixUnchangedText);
  }
  playCue(kAnswerCueMilliseconds);
}

}  // namespace pixmoor::app
