// Assembles UiTexts from the language tables.

#include "texts/ui_texts.h"

#include <string>

#include "texts/ui_texts_tables.h"

namespace pixmoor::texts {
namespace {

#define PIXMOOR_NAMED_TEXT(name) \
  NamedText {                    \
#name, &UiTexts::name        \
  }

constexpr NamedText kNamedTexts[] = {
    PIXMOOR_NAMED_TEXT(menuInformation),
    PIXMOOR_NAMED_TEXT(menuAbout),
    PIXMOOR_NAMED_TEXT(menuUsage),
    PIXMOOR_NAMED_TEXT(menuFormats),
    PIXMOOR_NAMED_TEXT(menuResolution),
    PIXMOOR_NAMED_TEXT(menuDonateHelp),
    PIXMOOR_NAMED_TEXT(menuOnline),
    PIXMOOR_NAMED_TEXT(menuDonate),
    PIXMOOR_NAMED_TEXT(menuUpdate),
    PIXMOOR_NAMED_TEXT(menuVisit),
    PIXMOOR_NAMED_TEXT(menuQuit),
    PIXMOOR_NAMED_TEXT(menuPreferences),
    PIXMOOR_NAMED_TEXT(menuFrench),
    PIXMOOR_NAMED_TEXT(menuEnglish),
    PIXMOOR_NAMED_TEXT(menuDutch),
    PIXMOOR_NAMED_TEXT(menuSpanish),
    PIXMOOR_NAMED_TEXT(menuAdjustDesktop),
    PIXMOOR_NAMED_TEXT(relativeModeCaption),
    PIXMOOR_NAMED_TEXT(freeModeCaption),
    PIXMOOR_NAMED_TEXT(stopCaption),
    PIXMOOR_NAMED_TEXT(formatTitle),
    PIXMOOR_NAMED_TEXT(sizeTitle),
    PIXMOOR_NAMED_TEXT(landscapeWidthLabel),
    PIXMOOR_NAMED_TEXT(portraitHeightLabel),
    PIXMOOR_NAMED_TEXT(qualityLabel),
    PIXMOOR_NAMED_TEXT(prefixLabel),
    PIXMOOR_NAMED_TEXT(changePrefixCaption),
    PIXMOOR_NAMED_TEXT(widthWord),
    PIXMOOR_NAMED_TEXT(heightWord),
    PIXMOOR_NAMED_TEXT(landscapeHint),
    PIXMOOR_NAMED_TEXT(portraitHint),
    PIXMOOR_NAMED_TEXT(alwaysOnTopCaption),
    PIXMOOR_NAMED_TEXT(presetsCaption),
    PIXMOOR_NAMED_TEXT(helpTitle),
    PIXMOOR_NAMED_TEXT(dropInvite),
    PIXMOOR_NAMED_TEXT(cancelledText),
    PIXMOOR_NAMED_TEXT(resolutionChangedText),
    PIXMOOR_NAMED_TEXT(prefixUnchangedText),
    PIXMOOR_NAMED_TEXT(prefixBoxTitle),
    PIXMOOR_NAMED_TEXT(prefixBoxPrompt),
    PIXMOOR_NAMED_TEXT(noPrefixTitle),
    PIXMOOR_NAMED_TEXT(noPrefixWarning),
    PIXMOOR_NAMED_TEXT(prefixSetText),
    PIXMOOR_NAMED_TEXT(stopCountPrefix),
    PIXMOOR_NAMED_TEXT(savedText),
    PIXMOOR_NAMED_TEXT(saveFailedText),
    PIXMOOR_NAMED_TEXT(saveFailedHelp),
    PIXMOOR_NAMED_TEXT(finishedPrefix),
    PIXMOOR_NAMED_TEXT(finishedSuffix),
    PIXMOOR_NAMED_TEXT(failuresHeadingOne),
    PIXMOOR_NAMED_TEXT(failuresHeadingMany),
    PIXMOOR_NAMED_TEXT(failureSeparator),
    PIXMOOR_NAMED_TEXT(reasonUnreadable),
    PIXMOOR_NAMED_TEXT(reasonUnknownFormat),
    PIXMOOR_NAMED_TEXT(reasonUnsupported),
    PIXMOOR_NAMED_TEXT(reasonTooLargeForMemory),
    PIXMOOR_NAMED_TEXT(reasonNoSize),
    PIXMOOR_NAMED_TEXT(reasonResampleFailed),
    PIXMOOR_NAMED_TEXT(reasonNoOutputFormat),
    PIXMOOR_NAMED_TEXT(reasonWriteFailed),
    PIXMOOR_NAMED_TEXT(reasonWriteProtected),
    PIXMOOR_NAMED_TEXT(reasonFolderNotWritable),
    PIXMOOR_NAMED_TEXT(reasonNotAFile),
    PIXMOOR_NAMED_TEXT(reasonLinkRefused),
    PIXMOOR_NAMED_TEXT(reasonNameTooLong),
    PIXMOOR_NAMED_TEXT(reasonIncomplete),
    PIXMOOR_NAMED_TEXT(reasonChangedWhileRead),
    PIXMOOR_NAMED_TEXT(reasonDiskFull),
    PIXMOOR_NAMED_TEXT(reasonStopped),
    PIXMOOR_NAMED_TEXT(reasonWouldReplaceAnother),
    PIXMOOR_NAMED_TEXT(reasonNotTrashed),
    PIXMOOR_NAMED_TEXT(reasonTrashedNotReplaced),
    PIXMOOR_NAMED_TEXT(reasonDamaged),
    PIXMOOR_NAMED_TEXT(reasonNotConfined),
    PIXMOOR_NAMED_TEXT(reasonSandboxViolation),
    PIXMOOR_NAMED_TEXT(reasonTimedOut),
    PIXMOOR_NAMED_TEXT(reasonTooManyOpenFiles),
    PIXMOOR_NAMED_TEXT(actionRunning),
    PIXMOOR_NAMED_TEXT(actionStop),
    PIXMOOR_NAMED_TEXT(actionDoneOne),
    PIXMOOR_NAMED_TEXT(actionDoneMany),
    PIXMOOR_NAMED_TEXT(actionWrittenOne),
    PIXMOOR_NAMED_TEXT(actionWrittenMany),
    PIXMOOR_NAMED_TEXT(actionStoppedPrefix),
    PIXMOOR_NAMED_TEXT(actionStoppedTotalPrefix),
    PIXMOOR_NAMED_TEXT(actionStoppedTotalOf),
    PIXMOOR_NAMED_TEXT(actionWarningsHeadingOne),
    PIXMOOR_NAMED_TEXT(actionWarningsHeadingMany),
    PIXMOOR_NAMED_TEXT(warningTruncated),
    PIXMOOR_NAMED_TEXT(warningChangedWhileRead),
    PIXMOOR_NAMED_TEXT(warningExifDamaged),
    PIXMOOR_NAMED_TEXT(warningExifTooLarge),
    PIXMOOR_NAMED_TEXT(actionNotAPicture),
    PIXMOOR_NAMED_TEXT(actionNoPictureFound),
    PIXMOOR_NAMED_TEXT(noInternetText),
    PIXMOOR_NAMED_TEXT(updateTitle),
    PIXMOOR_NAMED_TEXT(latestVersionText),
    PIXMOOR_NAMED_TEXT(versionAvailablePrefix),
    PIXMOOR_NAMED_TEXT(versionAvailableSuffix),
    PIXMOOR_NAMED_TEXT(userCancelledText),
    PIXMOOR_NAMED_TEXT(relativeModeHelp),
    PIXMOOR_NAMED_TEXT(freeModeHelp),
    PIXMOOR_NAMED_TEXT(sizesIntro),
    PIXMOOR_NAMED_TEXT(modePrefix),
    PIXMOOR_NAMED_TEXT(finalSizePrefix),
    PIXMOOR_NAMED_TEXT(sizePrefix),
    PIXMOOR_NAMED_TEXT(qualityPrefix),
    PIXMOOR_NAMED_TEXT(freeWord),
    PIXMOOR_NAMED_TEXT(outputFormatPrefix),
    PIXMOOR_NAMED_TEXT(screenResolutionPrefix),
    PIXMOOR_NAMED_TEXT(relativeWord),
    PIXMOOR_NAMED_TEXT(widthLetter),
    PIXMOOR_NAMED_TEXT(heightLetter),
    PIXMOOR_NAMED_TEXT(aboutText),
    PIXMOOR_NAMED_TEXT(helpUsage),
    PIXMOOR_NAMED_TEXT(helpFormats),
    PIXMOOR_NAMED_TEXT(helpResolution),
    PIXMOOR_NAMED_TEXT(helpDonate),
};

#undef PIXMOOR_NAMED_TEXT

// UiTexts holds nothing but its strings; a member added to the struct and
// forgotten here fails the build instead of going unchecked.
static_assert(sizeof(UiTexts) == std::size(kNamedTexts) * sizeof(std::string),
              "every UiTexts member must be listed in kNamedTexts");

struct Fill {
  std::string_view title;  // titleBase + versionText, already joined
  std::string_view site;
  std::string width;
  std::string height;
};

// Copies one table line, replacing the placeholders it holds. A "{" that
// starts no known placeholder is copied as it stands.
void appendLine(std::string& out, std::string_view line, const Fill& fill) {
  while (!line.empty()) {
    const std::size_t brace = line.find('{');
    out.append(line.substr(0, brace));
    if (brace == std::string_view::npos) {
      return;
    }
    line.remove_prefix(brace);
    if (line.starts_with(tables::kTitlePlaceholder)) {
      out.append(fill.title);
      line.remove_prefix(tables::kTitlePlaceholder.size());
    } else if (line.starts_with(tables::kSitePlaceholder)) {
      out.append(fill.site);
      line.remove_prefix(tables::kSitePlaceholder.size());
    } else if (line.starts_with(tables::kWidthPlaceholder)) {
      out.append(fill.width);
      line.remove_prefix(tables::kWidthPlaceholder.size());
    } else if (line.starts_with(tables::kHeightPlaceholder)) {
      out.append(fill.height);
      line.remove_prefix(tables::kHeightPlaceholder.size());
    } else {
      out.push_back('{');
      line.remove_prefix(1);
    }
  }
}

}  // namespace

std::span<const NamedText> allNamedTexts() {
  return kNamedTexts;
}

UiTexts BuildUiTexts(std::string_view language, std::string_view titleBase, std::string_view versionText,
                     std::string_view lineBreak, int desktopWidth, int desktopHeight,
                     std::string_view siteAddress) {
  UiTexts result;
  const tables::LanguageTable* table = nullptr;
  if (language == "FR") {
    table = &tables::frenchTable();
  } else if (language == "UK") {
    table = &tables::englishTable();
  } else {
    return result;  // unknown codes keep every named text empty
  }

  for (const tables::ShortText& entry : table->shortTexts) {
    result.*entry.member = std::string(entry.text);
  }

  std::string title(titleBase);
  title.append(versionText);
  const Fill fill{title, siteAddress, std::to_string(desktopWidth), std::to_string(desktopHeight)};
  for (const tables::LongText& entry : table->longTexts) {
    std::string& out = result.*entry.member;
    bool first = true;
    for (std::string_view line : entry.lines) {
      if (!first) {
        out.append(lineBreak);
      }
      first = false;
      appendLine(out, line, fill);
    }
  }
  return result;
}

}  // namespace pixmoor::texts
