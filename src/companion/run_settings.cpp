#include "companion/run_settings.h"

#include <unistd.h>

#include "settings/settings_store.h"

namespace pixmoor::companion {

SettingsFile readSettingsFile(const Options& options) {
  SettingsFile file;
  if (options.settingsFile) {
    file.settings =
        settings::readSettings(*options.settingsFile, kDefaultDesktopWidth, kDefaultDesktopHeight);
    if (!file.settings) file.usageError = "--settings: cannot read '" + *options.settingsFile + "'";
  } else if (::access(settings::kSettingsFileName, F_OK) == 0) {
    file.settings =
        settings::readSettings(settings::kSettingsFileName, kDefaultDesktopWidth, kDefaultDesktopHeight);
  }
  return file;
}

RunSettings chooseRunSettings(const Options& options, const std::optional<settings::Settings>& fromFile,
                              std::string_view environmentLanguage) {
  RunSettings run;
  settings::Settings& chosen = run.settings;
  chosen = fromFile.value_or(settings::defaultSettings(kDefaultDesktopWidth, kDefaultDesktopHeight));

  const bool relativeSizes = options.landscapeWidth || options.portraitHeight;
  if (options.mode) {
    chosen.mode = *options.mode;
  } else if (options.size && relativeSizes) {
    run.usageError = "--size and the relative sizes together need --mode";
    return run;
  } else if (options.size) {
    chosen.mode = settings::SizeMode::free;
  } else if (relativeSizes) {
    chosen.mode = settings::SizeMode::relative;
  }
  if (options.landscapeWidth) chosen.landscapeWidth = *options.landscapeWidth;
  if (options.portraitHeight) chosen.portraitHeight = *options.portraitHeight;
  if (options.size) {
    chosen.freeWidth = options.size->first;
    chosen.freeHeight = options.size->second;
  }
  if (options.format) chosen.format = *options.format;
  if (options.quality) chosen.quality = *options.quality;
  if (options.prefix) chosen.prefix = *options.prefix;
  // Only an output that replaces its own source sends anything to the Trash.
  if (options.trashOriginals && !settings::outputPrefix(chosen.prefix).empty()) {
    run.usageError = "--trash-originals needs no prefix (--prefix 0): only sources that are replaced go";
    return run;
  }

  if (options.language) {
    run.language = *options.language;
  } else if (fromFile) {
    run.language = fromFile->language == "UK" ? "UK" : "FR";
  } else {
    run.language = environmentLanguage;
  }
  return run;
}

std::string localeLanguage(const char* lcAll, const char* lcMessages, const char* lang) {
  for (const char* value : {lcAll, lcMessages, lang}) {
    if (value == nullptr || *value == '\0') continue;
    return std::string_view(value).substr(0, 2) == "fr" ? "FR" : "UK";
  }
  return "UK";
}

}  // namespace pixmoor::companion
