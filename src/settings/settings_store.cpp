#include "settings/settings_store.h"

#include <sys/stat.h>

#include <cerrno>

#include "settings/pref_file.h"

namespace pixmoor::settings {

namespace {

void writeAllKeys(PreferenceFile& file, const Settings& s) {
  file.WriteText(kKeyMode, sizeModeText(s));
  file.WriteText(kKeyFormat, outputFormatText(s));
  file.WriteNumber(kKeyQuality, s.quality);
  file.WriteNumber(kKeyLandscapeWidth, s.landscapeWidth);
  file.WriteNumber(kKeyPortraitHeight, s.portraitHeight);
  file.WriteNumber(kKeyCarriedFreeL, s.carriedFreeL);
  file.WriteNumber(kKeyCarriedFreeH, s.carriedFreeH);
  file.WriteNumber(kKeyFreeWidth, s.freeWidth);
  file.WriteNumber(kKeyFreeHeight, s.freeHeight);
  file.WriteNumber(kKeyAlwaysOnTop, s.alwaysOnTop);
  file.WriteText(kKeyPrefix, s.prefix);
  file.WriteText(kKeyLanguage, s.language);
}

}  // namespace

std::int32_t CountPreferenceGroups(const std::string& path) {
  PreferenceFile file;
  if (!file.Open(path)) return -1;
  std::int32_t count = 0;
  if (file.FirstGroup()) {
    while (file.NextGroup()) ++count;
  }
  file.Close();
  return count;
}

std::optional<Settings> readSettings(const std::string& path, int desktopWidth, int desktopHeight) {
  const Settings defaults = defaultSettings(desktopWidth, desktopHeight);
  const char* group = CountPreferenceGroups(path) == 1 ? kDefaultGroup : kUserGroup;

  PreferenceFile file;
  if (!file.Open(path)) return std::nullopt;
  file.SelectGroup(group);  // a missing group makes every read below give its default
  Settings s;
  setSizeModeFromText(s, file.ReadText(kKeyMode, sizeModeText(defaults)));
  setOutputFormatFromText(s, file.ReadText(kKeyFormat, outputFormatText(defaults)));
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
  file.Close();  // nothing was written, so the file is left as it is
  return s;
}

Settings LoadSettings(const std::string& path, int desktopWidth, int desktopHeight) {
  if (auto read = readSettings(path, desktopWidth, desktopHeight)) return *read;

  // First run (or the file went away): write the defaults into "DEFAUT". A
  // file that is there but could not be read keeps what it holds.
  const Settings defaults = defaultSettings(desktopWidth, desktopHeight);
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 || errno != ENOENT) return defaults;
  PreferenceFile file;
  if (file.Create(path)) {
    file.SelectGroup(kDefaultGroup);
    writeAllKeys(file, defaults);
    file.Close();
  }
  return defaults;
}

void StoreSettingNumber(const std::string& path, const std::string& key, std::int32_t value,
                        SettingsStatusSink& sink) {
  PreferenceFile file;
  file.Open(path);  // a missing file is created at Close with just this key
  file.SelectGroup(kUserGroup);
  file.WriteNumber(key, value);
  if (!file.Close()) sink.settingsNotSaved();
}

void StoreSettingText(const std::string& path, const std::string& key, const std::string& value,
                      SettingsStatusSink& sink) {
  PreferenceFile file;
  file.Open(path);
  file.SelectGroup(kUserGroup);
  file.WriteText(key, value);
  if (!file.Close()) sink.settingsNotSaved();
}

void SaveAllSettings(Settings& settings, const std::string& path, SettingsStatusSink& sink) {
  PreferenceFile file;
  if (!file.Open(path)) {
    sink.settingsNotSaved();
    return;
  }
  if (settings.prefix.empty()) settings.prefix.push_back('0');  // "0" stands for no prefix
  file.SelectGroup(kUserGroup);
  writeAllKeys(file, settings);
  // Said only once the file holds every key: a read-only file, a full disk
  // or a folder we may not write must not read as saved.
  if (file.Close()) {
    sink.settingsSaved();
  } else {
    sink.settingsNotSaved();
  }
}

}  // namespace pixmoor::settings
