// The words the program shows: the named texts of the interface language and
// the few fixed texts that read the same in every language.
//
// BuildUiTexts fills a UiTexts once at start-up for the stored language code;
// the record is then read, never changed, by the window, the event handlers,
// the batch status texts and the command-line companion. "FR" gives French, "UK"
// English (exact, case sensitive); any other code leaves every named text
// empty while FixedTexts still apply. All texts are UTF-8. Building cannot
// fail and touches no shared state, so any thread may call it.
//
// Implemented in ui_texts.cpp (assembly) over the language tables of
// ui_texts_fr.cpp and ui_texts_uk.cpp (ui_texts_tables.h).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace pixmoor::texts {

// One member per named text. Multi-line texts separate their lines with the
// line break handed to BuildUiTexts; "&" in a menu text marks its mnemonic.
struct UiTexts {
  // Menus.
  std::string menuInformation;
  std::string menuAbout;
  std::string menuUsage;
  std::string menuFormats;
  std::string menuResolution;
  std::string menuDonateHelp;
  std::string menuOnline;
  std::string menuDonate;
  std::string menuUpdate;
  std::string menuVisit;
  std::string menuQuit;
  std::string menuPreferences;
  std::string menuFrench;
  std::string menuEnglish;
  std::string menuDutch;
  std::string menuSpanish;
  std::string menuAdjustDesktop;

  // Controls and balloon tips.
  std::string relativeModeCaption;
  std::string freeModeCaption;
  std::string stopCaption;
  std::string formatTitle;
  std::string sizeTitle;
  std::string landscapeWidthLabel;
  std::string portraitHeightLabel;
  std::string qualityLabel;
  std::string prefixLabel;
  std::string changePrefixCaption;
  std::string widthWord;
  std::string heightWord;
  std::string landscapeHint;
  std::string portraitHint;
  std::string alwaysOnTopCaption;
  std::string presetsCaption;
  std::string helpTitle;
  std::string dropInvite;

  // Prefix command, presets and Stop.
  std::string cancelledText;
  std::string resolutionChangedText;
  std::string prefixUnchangedText;
  std::string prefixBoxTitle;
  std::string prefixBoxPrompt;
  std::string noPrefixTitle;
  std::string noPrefixWarning;
  std::string prefixSetText;
  std::string stopCountPrefix;

  // Saving the settings.
  std::string savedText;
  std::string saveFailedText;
  std::string saveFailedHelp;

  // Batch completion.
  std::string finishedPrefix;
  std::string finishedSuffix;

  // The pictures of a batch that produced no file, in the information area:
  // the count, then the one or the many heading's end; then a line per
  // picture: its name, failureSeparator and the reason.
  std::string failuresHeadingOne;
  std::string failuresHeadingMany;
  std::string failureSeparator;
  std::string reasonUnreadable;
  std::string reasonUnknownFormat;
  std::string reasonUnsupported;
  std::string reasonTooLargeForMemory;
  std::string reasonNoSize;
  std::string reasonResampleFailed;
  std::string reasonNoOutputFormat;
  std::string reasonWriteFailed;
  std::string reasonWriteProtected;
  std::string reasonFolderNotWritable;
  std::string reasonNotAFile;
  std::string reasonLinkRefused;
  std::string reasonNameTooLong;
  std::string reasonIncomplete;
  std::string reasonChangedWhileRead;
  std::string reasonDiskFull;
  std::string reasonStopped;
  std::string reasonWouldReplaceAnother;
  std::string reasonNotTrashed;
  std::string reasonTrashedNotReplaced;
  std::string reasonDamaged;
  std::string reasonNotConfined;
  std::string reasonSandboxViolation;
  std::string reasonTimedOut;
  std::string reasonTooManyOpenFiles;

  // The file managers' action, in its notifications: the count while it
  // runs, the count written at the end ("Stopped: " before it after a Stop,
  // then what was done of the whole), the outputs written with a warning
  // (a heading as the failures have, then name, failureSeparator and the
  // warnings), and why a path chosen gave no picture at all.
  std::string actionRunning;
  std::string actionStop;
  std::string actionDoneOne;
  std::string actionDoneMany;
  std::string actionWrittenOne;
  std::string actionWrittenMany;
  std::string actionStoppedPrefix;
  std::string actionStoppedTotalPrefix;
  std::string actionStoppedTotalOf;
  std::string actionWarningsHeadingOne;
  std::string actionWarningsHeadingMany;
  std::string warningTruncated;
  std::string warningChangedWhileRead;
  std::string warningExifDamaged;
  std::string warningExifTooLarge;
  std::string actionNotAPicture;
  std::string actionNoPictureFound;

  // Update check.
  std::string noInternetText;
  std::string updateTitle;
  std::string latestVersionText;
  std::string versionAvailablePrefix;
  std::string versionAvailableSuffix;
  std::string userCancelledText;

  // Settings summary of the information area.
  std::string relativeModeHelp;
  std::string freeModeHelp;
  std::string sizesIntro;
  std::string modePrefix;
  std::string finalSizePrefix;
  std::string sizePrefix;
  std::string qualityPrefix;
  std::string freeWord;
  std::string outputFormatPrefix;
  std::string screenResolutionPrefix;
  std::string relativeWord;
  std::string widthLetter;
  std::string heightLetter;

  // About box and the four help topics (multi-line).
  std::string aboutText;
  std::string helpUsage;
  std::string helpFormats;
  std::string helpResolution;
  std::string helpDonate;

  bool operator==(const UiTexts&) const = default;
};

// Builds the named texts of `language`. The first line of aboutText is
// titleBase followed by versionText and its fourth line is siteAddress;
// helpResolution quotes the desktop size in decimal. Long texts join their
// lines with lineBreak, with none after the last line.
UiTexts BuildUiTexts(std::string_view language, std::string_view titleBase, std::string_view versionText,
                     std::string_view lineBreak, int desktopWidth, int desktopHeight,
                     std::string_view siteAddress);

// Every named text by its member name, in declaration order: lets callers
// and tests walk the whole record.
struct NamedText {
  std::string_view name;
  std::string UiTexts::*member;
};
std::span<const NamedText> allNamedTexts();

// One entry of the resolution preset list. Entries with a zero width are
// the caption, group headings and spacers: choosing one changes nothing.
struct PresetEntry {
  std::string_view text;  // entry 0 shows UiTexts::presetsCaption instead
  std::int16_t width;
  std::int16_t height;

  constexpr bool choosable() const { return width > 0 && height > 0; }
};

// Texts that read the same whatever the interface language.
struct FixedTexts {
  static constexpr std::string_view infoAreaInitial = "Infos";
  static constexpr std::string_view jpgCaption = "JPG";
  static constexpr std::string_view pngCaption = "PNG";
  // Logo balloon tip: this, then the version, " " and UiTexts::dropInvite.
  static constexpr std::string_view logoTipPrefix = "QVL MULTIMEDIA - Pixmoor ";
  static constexpr std::string_view logoTipSeparator = " ";
  // Mode button balloon tips: the mode caption, then these (French in both
  // languages; the leading carriage return starts a second tip line).
  static constexpr std::string_view relativeTipSuffix = "\r(pour photo)";
  static constexpr std::string_view freeTipSuffix = "\r(images diverses)";
  // Follows widthWord and heightWord in the free-size labels.
  static constexpr std::string_view labelColon = " :";
  // Shortcut column of the Online menu, each after a tab.
  static constexpr std::string_view menuHintSeparator = "\t";
  static constexpr std::string_view donateHint = "D";
  static constexpr std::string_view updateHint = "M";
  static constexpr std::string_view visitHint = "V";
  static constexpr std::string_view quitHint = "Q";
  // Restart notice after a language change; it speaks the chosen language.
  static constexpr std::string_view restartTitle = "Info";
  static constexpr std::string_view restartNoticeFrench = "Vous devez redémarrer Pixmoor 2011";
  static constexpr std::string_view restartNoticeEnglish = "You have To restart Pixmoor 2011";
  // Status texts of the two languages that are announced but not offered.
  static constexpr std::string_view spanishComingSoon = "Disponible pronto";
  static constexpr std::string_view dutchComingSoon = "Verfügbar demnächst";
  // Status after Stop: stopCountPrefix, done, "/", total, this suffix.
  static constexpr std::string_view stopCountSeparator = "/";
  static constexpr std::string_view stopCountSuffix = " images traitées !";
  // Between cancelledText and prefixUnchangedText.
  static constexpr std::string_view cancelSeparator = ", ";

  static constexpr std::array<PresetEntry, 21> presets = {{
      {"", 0, 0},
      {"---- 16:10 ----", 0, 0},
      {" 2560 x 1600", 2560, 1600},
      {" 1920 x 1200", 1920, 1200},
      {" 1680 x 1050", 1680, 1050},
      {" 1440 x 900", 1440, 900},
      {" 1280 x 800", 1280, 800},
      {" 1024 x 640", 1024, 640},
      {"", 0, 0},
      {"---- HDTV-BR", 0, 0},
      {"  720p ", 1280, 720},
      {" 1080p ", 1920, 1080},
      {"", 0, 0},
      {"---- 4:3 ----", 0, 0},
      {"  2048 \u00d7 1536", 2048, 1536},
      {"  1600 x 1200", 1600, 1200},
      {"  1280 x 1024", 1280, 1024},
      {"  1024 x 768", 1024, 768},
      {"  800 x 600", 800, 600},
      {"  640 x 480", 640, 480},
      {"  320 x 240", 320, 240},
  }};
};

}  // namespace pixmoor::texts
