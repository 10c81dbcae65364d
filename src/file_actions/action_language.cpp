#include "file_actions/action_language.h"

#include <string_view>

namespace pixmoor::file_actions {
namespace {

bool isSet(const char* value) {
  return value != nullptr && *value != '\0';
}

std::string languageOf(std::string_view name) {
  return name.substr(0, 2) == "fr" ? "FR" : "UK";
}

bool isCLocale(std::string_view name) {
  return name == "C" || name == "POSIX" || name.starts_with("C.");
}

}  // namespace

std::string sessionLanguage(const SessionLocale& locale) {
  std::string_view messages;
  for (const char* value : {locale.lcAll, locale.lcMessages, locale.lang}) {
    if (isSet(value)) {
      messages = value;
      break;
    }
  }
  // gettext ignores LANGUAGE in the C locale, where messages stay untranslated.
  if (isSet(locale.language) && !messages.empty() && !isCLocale(messages)) {
    std::string_view list = locale.language;
    while (!list.empty()) {
      const std::size_t colon = list.find(':');
      const std::string_view entry = list.substr(0, colon);
      if (entry.substr(0, 2) == "fr" || entry.substr(0, 2) == "en") return languageOf(entry);
      if (colon == std::string_view::npos) break;
      list.remove_prefix(colon + 1);
    }
  }
  return languageOf(messages);
}

std::string actionLanguage(const std::optional<std::string>& settingsLanguage, const SessionLocale& locale) {
  if (settingsLanguage == "UK") return "UK";
  return sessionLanguage(locale);
}

}  // namespace pixmoor::file_actions
