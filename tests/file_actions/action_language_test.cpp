// The language of the file managers' action: the session's, as gettext
// picks it, unless the settings hold the window's English.
#include "file_actions/action_language.h"

#include <gtest/gtest.h>

namespace pixmoor::file_actions {
namespace {

struct LanguageRow {
  std::optional<std::string> settings;
  SessionLocale locale;
  const char* expected;
};

class ActionLanguage : public ::testing::TestWithParam<LanguageRow> {};

TEST_P(ActionLanguage, FollowsTheSessionUnlessEnglishWasChosen) {
  const LanguageRow& row = GetParam();
  EXPECT_EQ(actionLanguage(row.settings, row.locale), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ActionLanguage,
    ::testing::Values(
        // The window's first run writes FR: an English session stays English.
        LanguageRow{"FR", {nullptr, nullptr, nullptr, "en_GB.UTF-8"}, "UK"},
        LanguageRow{"FR", {nullptr, nullptr, nullptr, "fr_FR.UTF-8"}, "FR"},
        LanguageRow{"UK", {nullptr, nullptr, nullptr, "fr_FR.UTF-8"}, "UK"},  // only a choice writes UK
        LanguageRow{std::nullopt, {nullptr, nullptr, nullptr, nullptr}, "UK"},
        LanguageRow{"XX", {nullptr, nullptr, nullptr, "fr_CA"}, "FR"},
        // LC_ALL, then LC_MESSAGES, then LANG; an empty one is not set.
        LanguageRow{"FR", {nullptr, "en_US.UTF-8", "fr_FR", "fr_FR"}, "UK"},
        LanguageRow{"FR", {nullptr, "", "fr_FR", "en_US"}, "FR"},
        LanguageRow{"FR", {nullptr, nullptr, "en_US", "fr_FR"}, "UK"},
        // LANGUAGE's first French or English entry, before the locale...
        LanguageRow{"FR", {"de:fr:en", nullptr, nullptr, "en_US.UTF-8"}, "FR"},
        LanguageRow{"FR", {"en_GB:fr", nullptr, nullptr, "fr_FR.UTF-8"}, "UK"},
        LanguageRow{"FR", {"de", nullptr, nullptr, "fr_FR.UTF-8"}, "FR"},
        // ...but not in the C locale, nor with no locale at all.
        LanguageRow{"FR", {"fr", nullptr, nullptr, "C"}, "UK"},
        LanguageRow{"FR", {"fr", "POSIX", nullptr, nullptr}, "UK"},
        LanguageRow{"FR", {"fr", nullptr, nullptr, "C.UTF-8"}, "UK"},
        LanguageRow{"FR", {"fr", nullptr, nullptr, nullptr}, "UK"}));

}  // namespace
}  // namespace pixmoor::file_actions
