// The settings one run of pixmoor-batch uses: those of its settings file
// (--settings FILE, else ./pref.qvl when there is one, else the menu entry's
// $XDG_CONFIG_HOME/pixmoor/pref.qvl when there is one) or the built-in
// defaults, with this run's options laid over them, and the language of its
// texts.
//
// readSettingsFile reads the file; chooseRunSettings and localeLanguage are
// pure functions of their arguments. Any thread. A usage error comes back as
// its message, never as an exception. Nothing here writes the file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "companion/options.h"
#include "settings/settings.h"

namespace pixmoor::companion {

// The desktop the defaults and the texts are made for: a headless run has none.
inline constexpr int kDefaultDesktopWidth = 1920;
inline constexpr int kDefaultDesktopHeight = 1080;

struct SettingsFile {
  std::optional<settings::Settings> settings;  // none: no file, the defaults hold
  std::optional<std::string> usageError;       // --settings names a file that cannot be used
  std::optional<std::string> warning;          // ./pref.qvl was not used as written, and what was instead
};

// --settings FILE must be read and used as written; ./pref.qvl is read when
// it exists. A file that cannot be used as written (unreadable, over 64 MiB,
// UTF-16 or binary, or holding no group the window reads its keys from:
// those it would silently read as all defaults) is a usage error with
// --settings, and for ./pref.qvl gives the defaults with a warning naming
// it. So is a PREFIX that prefixProblem refuses (an empty one is not
// "replace the sources"; only "0" is), unless --prefix replaces it: then
// ./pref.qvl's is replaced by the default prefix.
// `menuSettings` (menuSettingsFile) is read as ./pref.qvl is, when there is
// no ./pref.qvl: what the user set in the window started from the menu.
SettingsFile readSettingsFile(const Options& options, const std::string& menuSettings = {});

// The settings file of the window started from the desktop's menu, which
// runs it in $XDG_CONFIG_HOME/pixmoor (~/.config/pixmoor when that is unset,
// empty or relative); empty when HOME is not set either.
std::string menuSettingsFile(const char* xdgConfigHome, const char* home);

struct RunSettings {
  settings::Settings settings;
  batch::OutputChoice output;             // the companion's own choices (its `tree` is the caller's to set)
  std::string language;                   // of the texts: "FR" or "UK"
  std::optional<std::string> usageError;  // the options cannot be run together
};

// The file's settings (none: the defaults) with the options laid over them:
// --mode chooses the mode, else --size chooses free mode and a relative size
// relative mode (both together need --mode); sizes, format, quality and
// prefix replace the file's; --lossless turns --format webp lossless and is
// refused with any other format; the prefix must pass prefixProblem (an empty
// one is never "no prefix"). --trash-originals needs no prefix. The texts
// speak --lang, else the file's language (any code but "UK" is French), else
// `environmentLanguage`. --fit, --scale and --long-edge are one size option
// each, refused together or beside --mode, --size and the relative sizes;
// --trash-originals is refused with --output-dir and with --if-exists skip
// or rename, where no source is replaced.
RunSettings chooseRunSettings(const Options& options, const std::optional<settings::Settings>& fromFile,
                              std::string_view environmentLanguage);

// The language of the environment as the C library picks the messages': the
// first of LC_ALL, LC_MESSAGES and LANG that is set (null or empty is not)
// gives "FR" when it starts with "fr", else "UK"; "UK" when none is set.
std::string localeLanguage(const char* lcAll, const char* lcMessages, const char* lang);

}  // namespace pixmoor::companion
