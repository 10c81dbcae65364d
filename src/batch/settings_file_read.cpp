#include "batch/settings_file_read.h"

#include "settings/pref_file.h"
#include "settings/settings_store.h"

namespace pixmoor::batch {

std::optional<settings::Settings> readSettingsFile(const std::string& path, int desktopWidth,
                                                   int desktopHeight) {
  using namespace settings;
  const Settings defaults = defaultSettings(desktopWidth, desktopHeight);
  const std::int32_t groups = CountPreferenceGroups(path);
  if (groups < 0) return std::nullopt;

  // Only reads below: the file object writes back only what was changed.
  PreferenceFile file;
  if (!file.Open(path)) return std::nullopt;
  file.SelectGroup(groups == 1 ? kDefaultGroup : kUserGroup);
  Settings s;
  s.mode = file.ReadText(kKeyMode, defaults.mode);
  s.format = file.ReadText(kKeyFormat, defaults.format);
  s.quality = file.ReadNumber(kKeyQuality, defaults.quality);
  s.freeWidth = low16(file.ReadNumber(kKeyFreeWidth, defaults.freeWidth));
  s.freeHeight = low16(file.ReadNumber(kKeyFreeHeight, defaults.freeHeight));
  s.landscapeWidth = file.ReadNumber(kKeyLandscapeWidth, defaults.landscapeWidth);
  s.portraitHeight = file.ReadNumber(kKeyPortraitHeight, defaults.portraitHeight);
  s.carriedFreeL = file.ReadNumber(kKeyCarriedFreeL, defaults.carriedFreeL);
  s.carriedFreeH = file.ReadNumber(kKeyCarriedFreeH, defaults.carriedFreeH);
  s.alwaysOnTop = file.ReadNumber(kKeyAlwaysOnTop, defaults.alwaysOnTop);
  s.prefix = file.ReadText(kKeyPrefix, defaults.prefix);
  s.language = file.ReadText(kKeyLanguage, defaults.language);
  return s;
}

}  // namespace pixmoor::batch
