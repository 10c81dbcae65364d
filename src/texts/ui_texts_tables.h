// The language tables behind BuildUiTexts: one table of data per interface
// language, kept apart from the code that assembles the texts.
//
// Short texts are stored whole. Long texts are stored line by line; a line
// may hold the placeholders below, which BuildUiTexts replaces when it joins
// the lines. No text of either language contains "{" of its own.
// The tables are constant data with static storage; any thread may read them.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "texts/ui_texts.h"

namespace pixmoor::texts::tables {

inline constexpr std::string_view kTitlePlaceholder = "{title}";    // titleBase + versionText
inline constexpr std::string_view kSitePlaceholder = "{site}";      // the vendor site's address
inline constexpr std::string_view kWidthPlaceholder = "{width}";    // desktop width, decimal
inline constexpr std::string_view kHeightPlaceholder = "{height}";  // desktop height, decimal

struct ShortText {
  std::string UiTexts::*member;
  std::string_view text;
};

struct LongText {
  std::string UiTexts::*member;
  std::span<const std::string_view> lines;
};

struct LanguageTable {
  std::span<const ShortText> shortTexts;
  std::span<const LongText> longTexts;
};

const LanguageTable& frenchTable();
const LanguageTable& englishTable();

}  // namespace pixmoor::texts::tables
