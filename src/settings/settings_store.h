// Loading and storing the Settings record in the settings file "pref.qvl".
//
// The file holds group "DEFAUT" (written once, on the first run) and group
// "USER" (every later store). Each operation opens, changes and closes the
// file, which rewrites it whole. Interface thread only; nothing here shows
// anything: the stores report through a sink that the window provides.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "settings/settings.h"

namespace pixmoor::settings {

// Keys, in the order in which every key is written.
inline constexpr const char* kKeyMode = "MODE";
inline constexpr const char* kKeyFormat = "TYPE";
inline constexpr const char* kKeyQuality = "QUALITE";
inline constexpr const char* kKeyLandscapeWidth = "Taille_Paysage";
inline constexpr const char* kKeyPortraitHeight = "Taille_Portrait";
inline constexpr const char* kKeyCarriedFreeL = "FREE_L";
inline constexpr const char* kKeyCarriedFreeH = "FREE_H";
inline constexpr const char* kKeyFreeWidth = "L";
inline constexpr const char* kKeyFreeHeight = "H";
inline constexpr const char* kKeyAlwaysOnTop = "VISIBLE";
inline constexpr const char* kKeyPrefix = "PREFIX";
inline constexpr const char* kKeyLanguage = "LNG";

inline constexpr const char* kDefaultGroup = "DEFAUT";
inline constexpr const char* kUserGroup = "USER";
inline constexpr const char* kSettingsFileName = "pref.qvl";

// Where the stores tell their outcome; the window shows the texts.
class SettingsStatusSink {
 public:
  virtual ~SettingsStatusSink() = default;
  // SaveAllSettings only: every key is in the file.
  virtual void settingsSaved() = 0;
  // Any store: the change did not reach the file (it could not be opened,
  // could only be read, could not be created or written).
  virtual void settingsNotSaved() = 0;
};

// Number of group headers in the file, or -1 when it cannot be opened.
std::int32_t CountPreferenceGroups(const std::string& path);

// Reads the record from an existing file without ever writing it: from
// "DEFAUT" when it is the file's only group, else from "USER"; a missing key
// takes its default. Nothing when the file cannot be opened.
std::optional<Settings> readSettings(const std::string& path, int desktopWidth, int desktopHeight);

// Reads the record once at start-up: from "DEFAUT" when it is the file's
// only group, else from "USER"; a missing key takes its default. When the
// file does not exist the defaults are used and a first-run file holding
// them in "DEFAUT" is created (silently skipped when that fails too); one
// that exists but cannot be read gives the defaults and is left as it is.
Settings LoadSettings(const std::string& path, int desktopWidth, int desktopHeight);

// Writes one key into "USER". A missing file is created holding only that
// group and key; a file that cannot be read, or whose text could not be held
// whole, is left as it is. Says nothing when the key is stored, and
// settingsNotSaved when it is not.
void StoreSettingNumber(const std::string& path, const std::string& key, std::int32_t value,
                        SettingsStatusSink& sink);
void StoreSettingText(const std::string& path, const std::string& key, const std::string& value,
                      SettingsStatusSink& sink);

// Writes every field into "USER", then says settingsSaved once the file holds
// them, or settingsNotSaved (a file that cannot be opened is not created).
// An empty prefix is stored as "0", and the record's prefix becomes "0" too.
void SaveAllSettings(Settings& settings, const std::string& path, SettingsStatusSink& sink);

}  // namespace pixmoor::settings
