// The language the file managers' action speaks. It is part of the desktop,
// so it follows the session's language, unless the user chose one in the
// window. The settings cannot tell every choice: the window writes "FR" on
// its first run and writes the language it speaks at every later save, so a
// "FR" may be the first run's or the user's; a "UK" is only ever the user's.
//
// Pure functions of their arguments: any thread.
#pragma once

#include <optional>
#include <string>

namespace pixmoor::file_actions {

// The locale variables of the session (null: not set).
struct SessionLocale {
  const char* language = nullptr;  // LANGUAGE, gettext's list of languages
  const char* lcAll = nullptr;
  const char* lcMessages = nullptr;
  const char* lang = nullptr;
};

// The session's language as gettext picks a program's messages: the locale
// is the first of LC_ALL, LC_MESSAGES and LANG that is set and not empty;
// unless it is C or POSIX (or none), LANGUAGE's first entry that names
// French or English comes before it. "FR" for French, else "UK".
std::string sessionLanguage(const SessionLocale& locale);

// The action's: "UK" when the settings hold it, else the session's.
std::string actionLanguage(const std::optional<std::string>& settingsLanguage, const SessionLocale& locale);

}  // namespace pixmoor::file_actions
