// The settings of a run: the file's (or the defaults) with the options laid
// over them by the companion's rules, and the language of its texts.
#include "companion/run_settings.h"

#include <gtest/gtest.h>

#include <functional>

#include "settings/settings_store.h"
#include "support/temp_folder.h"

namespace pixmoor::companion {
namespace {

using settings::OutputFormat;
using settings::Settings;
using settings::SizeMode;

Settings defaults() {
  return settings::defaultSettings(kDefaultDesktopWidth, kDefaultDesktopHeight);
}

// A settings file in free mode, PNG, prefix "f_", in English.
Settings fileSettings() {
  Settings file = defaults();
  file.mode = SizeMode::free;
  file.freeWidth = 800;
  file.freeHeight = 600;
  file.format = OutputFormat::png;
  file.prefix = "f_";
  file.language = "UK";
  return file;
}

struct Row {
  const char* what;
  Options options;
  std::optional<Settings> file;
  std::function<void(Settings&)> change;  // what the options change in the file's (or the defaults)
  const char* language;                   // of the texts; the environment says "FR"
};

TEST(RunSettings, OptionsLaidOverTheFileOrTheDefaults) {
  const Row rows[] = {
      {"nothing given", {}, std::nullopt, [](Settings&) {}, "FR"},
      {"the file alone", {}, fileSettings(), [](Settings&) {}, "UK"},
      {"a size selects free mode", Options{.size = {{300, 200}}}, std::nullopt,
       [](Settings& s) {
         s.mode = SizeMode::free;
         s.freeWidth = 300;
         s.freeHeight = 200;
       },
       "FR"},
      {"a relative size selects relative mode", Options{.portraitHeight = 90}, fileSettings(),
       [](Settings& s) {
         s.mode = SizeMode::relative;
         s.portraitHeight = 90;
       },
       "UK"},
      {"--mode wins over the sizes",
       Options{.mode = SizeMode::free, .landscapeWidth = 10, .size = {{30, 40}}}, std::nullopt,
       [](Settings& s) {
         s.mode = SizeMode::free;
         s.landscapeWidth = 10;
         s.freeWidth = 30;
         s.freeHeight = 40;
       },
       "FR"},
      {"lossless WebP", Options{.format = OutputFormat::webp, .lossless = true}, fileSettings(),
       [](Settings& s) { s.format = OutputFormat::webpLossless; }, "UK"},
      {"format, quality and prefix", Options{.format = OutputFormat::jpeg, .quality = 3, .prefix = "o_"},
       fileSettings(),
       [](Settings& s) {
         s.format = OutputFormat::jpeg;
         s.quality = 3;
         s.prefix = "o_";
       },
       "UK"},
      {"--trash-originals with prefix 0", Options{.prefix = "0", .trashOriginals = true}, std::nullopt,
       [](Settings& s) { s.prefix = "0"; }, "FR"},
      {"--trash-originals with prefix 0 in the file", Options{.trashOriginals = true},
       [] {
         Settings s = fileSettings();
         s.prefix = "0";
         return s;
       }(),
       [](Settings&) {}, "UK"},
      {"--lang before the file", Options{.language = "FR"}, fileSettings(), [](Settings&) {}, "FR"},
      {"a language code the texts do not know is French",
       {},
       [] {
         Settings s = fileSettings();
         s.language = "DE";
         return s;
       }(),
       [](Settings&) {},
       "FR"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const RunSettings run = chooseRunSettings(row.options, row.file, "FR");
    ASSERT_EQ(run.usageError, std::nullopt);
    Settings expected = row.file.value_or(defaults());
    row.change(expected);
    EXPECT_EQ(run.settings, expected);
    EXPECT_EQ(run.language, row.language);
  }
  EXPECT_EQ(chooseRunSettings({}, std::nullopt, "UK").language, "UK");
}

TEST(RunSettings, OptionsThatCannotRunTogether) {
  EXPECT_EQ(
      chooseRunSettings(Options{.landscapeWidth = 5, .size = {{10, 10}}}, std::nullopt, "FR").usageError,
      "--size and the relative sizes together need --mode");
  const std::string needsNoPrefix =
      "--trash-originals needs no prefix (--prefix 0): only sources that are replaced go";
  EXPECT_EQ(chooseRunSettings(Options{.trashOriginals = true}, std::nullopt, "FR").usageError, needsNoPrefix);
  // Lossless is WebP's alone; the file's JPEG does not become WebP.
  for (const auto format : {std::optional<OutputFormat>(), std::optional(OutputFormat::avif)}) {
    EXPECT_EQ(chooseRunSettings(Options{.format = format, .lossless = true}, std::nullopt, "FR").usageError,
              "--lossless needs --format webp: only WebP is written losslessly here");
  }
  EXPECT_EQ(chooseRunSettings(Options{.prefix = "p_", .trashOriginals = true}, std::nullopt, "FR").usageError,
            needsNoPrefix);
  Settings noPrefix = defaults();
  noPrefix.prefix = "0";
  EXPECT_EQ(chooseRunSettings(Options{.prefix = "x", .trashOriginals = true}, noPrefix, "FR").usageError,
            needsNoPrefix);
  // One size option per run.
  const std::string oneSize =
      "one size option per run: --fit, --scale, --long-edge, or the settings' --mode, --size and relative "
      "sizes";
  for (const Options& both :
       {Options{.fit = {{5, 5}}, .scalePercent = 50}, Options{.size = {{5, 5}}, .longEdge = 9},
        Options{.mode = settings::SizeMode::free, .scalePercent = 5},
        Options{.portraitHeight = 5, .fit = {{5, 5}}}})
    EXPECT_EQ(chooseRunSettings(both, std::nullopt, "FR").usageError, oneSize);
  const RunSettings longEdge = chooseRunSettings(Options{.longEdge = 9,
                                                         .shrinkOnly = true,
                                                         .outputDir = "o",
                                                         .ifExists = batch::IfExists::skip,
                                                         .maxBytes = 7,
                                                         .prefix = "0"},
                                                 std::nullopt, "FR");
  EXPECT_EQ(
      longEdge.output,
      (batch::OutputChoice{.size = {.rule = batch::SizeRule::longEdge, .longEdge = 9, .shrinkOnly = true},
                           .folder = "o",
                           .ifExists = batch::IfExists::skip,
                           .maxBytes = 7}));
  EXPECT_EQ(
      chooseRunSettings(Options{.outputDir = "o", .prefix = "0", .trashOriginals = true}, std::nullopt, "FR")
          .usageError,
      "--trash-originals replaces no source with --output-dir: nothing would go");
  EXPECT_EQ(
      chooseRunSettings(Options{.ifExists = batch::IfExists::rename, .prefix = "0", .trashOriginals = true},
                        std::nullopt, "FR")
          .usageError,
      "--trash-originals needs --if-exists replace: skip and rename replace no source");
  // Only "0" means no prefix: an empty one (from a file) replaces nothing.
  Settings empty = defaults();
  empty.prefix = "";
  EXPECT_EQ(chooseRunSettings(Options{.trashOriginals = true}, empty, "FR").usageError,
            "the prefix is empty: only \"0\" means replacing the sources");
}

TEST(RunSettings, LanguageOfTheEnvironment) {
  EXPECT_EQ(localeLanguage(nullptr, nullptr, nullptr), "UK");
  EXPECT_EQ(localeLanguage(nullptr, nullptr, "fr_FR.UTF-8"), "FR");
  EXPECT_EQ(localeLanguage("", "", "fr"), "FR");
  EXPECT_EQ(localeLanguage("C", nullptr, "fr_FR"), "UK");
  EXPECT_EQ(localeLanguage(nullptr, "fr_CA", "en_GB"), "FR");
  EXPECT_EQ(localeLanguage(nullptr, nullptr, "FR_fr"), "UK");  // as the C library spells it: lower case
}

// --settings must be read; ./pref.qvl only when it is there.
TEST(RunSettings, TheSettingsFileOfARun) {
  pixmoor::testing::TempFolder folder;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(folder.path());
  EXPECT_EQ(readSettingsFile({}).settings, std::nullopt);
  pixmoor::testing::writeBytes(settings::kSettingsFileName, "[DEFAUT]\r\nPREFIX = here_\r\n");
  const SettingsFile here = readSettingsFile({});
  pixmoor::testing::writeBytes("other.qvl", "[DEFAUT]\r\nPREFIX = other_\r\n");
  const SettingsFile other = readSettingsFile(Options{.settingsFile = "other.qvl"});
  const SettingsFile missing = readSettingsFile(Options{.settingsFile = "missing.qvl"});
  std::filesystem::current_path(previous);

  ASSERT_TRUE(here.settings);
  EXPECT_EQ(here.settings->prefix, "here_");
  ASSERT_TRUE(other.settings);
  EXPECT_EQ(other.settings->prefix, "other_");
  EXPECT_EQ(missing.settings, std::nullopt);
  EXPECT_EQ(missing.usageError, "--settings: cannot read 'missing.qvl'");
}

// The window started from the menu keeps its settings in the configuration
// folder; the companion reads them there when the current folder has none.
TEST(RunSettings, TheMenusSettingsFile) {
  EXPECT_EQ(menuSettingsFile("/x/cfg", "/home/u"), "/x/cfg/pixmoor/pref.qvl");
  EXPECT_EQ(menuSettingsFile(nullptr, "/home/u"), "/home/u/.config/pixmoor/pref.qvl");
  EXPECT_EQ(menuSettingsFile("", "/home/u"), "/home/u/.config/pixmoor/pref.qvl");
  EXPECT_EQ(menuSettingsFile("relative", "/home/u"), "/home/u/.config/pixmoor/pref.qvl");
  EXPECT_EQ(menuSettingsFile(nullptr, nullptr), "");
  EXPECT_EQ(menuSettingsFile(nullptr, ""), "");

  pixmoor::testing::TempFolder folder;
  const std::string menu = (folder.path() / "menu.qvl").string();
  pixmoor::testing::writeBytes(menu, "[DEFAUT]\r\nPREFIX = menu_\r\n");
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(folder.path());
  const SettingsFile fromMenu = readSettingsFile({}, menu);
  const SettingsFile givenWins = readSettingsFile(Options{.settingsFile = "missing.qvl"}, menu);
  pixmoor::testing::writeBytes(settings::kSettingsFileName, "[DEFAUT]\r\nPREFIX = here_\r\n");
  const SettingsFile hereWins = readSettingsFile({}, menu);
  pixmoor::testing::writeBytes(menu, "[OTHER]\r\nPREFIX = menu_\r\n");
  std::filesystem::remove(settings::kSettingsFileName);
  const SettingsFile unusable = readSettingsFile({}, menu);
  std::filesystem::current_path(previous);

  ASSERT_TRUE(fromMenu.settings);
  EXPECT_EQ(fromMenu.settings->prefix, "menu_");
  EXPECT_TRUE(givenWins.usageError);
  ASSERT_TRUE(hereWins.settings);
  EXPECT_EQ(hereWins.settings->prefix, "here_");
  EXPECT_EQ(unusable.settings, std::nullopt);
  ASSERT_TRUE(unusable.warning);
  EXPECT_EQ(unusable.warning->find(menu), 0u) << *unusable.warning;
}

}  // namespace
}  // namespace pixmoor::companion
