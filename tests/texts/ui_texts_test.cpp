// Interface texts: language choice, every table entry that has a trap in it
// (spaces, mnemonics, slips kept on purpose), the assembled long texts and
// the fixed texts.

#include "texts/ui_texts.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <set>
#include <string>
#include <string_view>

namespace pixmoor::texts {
namespace {

constexpr std::string_view kSite = "http://www.pixmoor.example";

UiTexts build(std::string_view language, int width = 1920, int height = 1080,
              std::string_view lineBreak = "\n") {
  return BuildUiTexts(language, "Pixmoor 2011 v", "1.4.1", lineBreak, width, height, kSite);
}

std::size_t countOf(const std::string& text, std::string_view needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

// --- Short texts ----------------------------------------------------------

struct ShortRow {
  const char* language;
  std::string UiTexts::*member;
  const char* expected;
};

class ShortTextTest : public ::testing::TestWithParam<ShortRow> {};

TEST_P(ShortTextTest, ReadsExactly) {
  const ShortRow& row = GetParam();
  EXPECT_EQ(build(row.language).*row.member, row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    French, ShortTextTest,
    ::testing::Values(
        ShortRow{"FR", &UiTexts::menuInformation, "Information"},
        ShortRow{"FR", &UiTexts::menuAbout, "A propos du &logiciel ?"},
        ShortRow{"FR", &UiTexts::menuOnline, " En Ligne"},
        ShortRow{"FR", &UiTexts::menuUpdate, "V\xC3\xA9rifier si une &mise \xC3\xA0 jour est disponible"},
        ShortRow{"FR", &UiTexts::menuPreferences, " Preferences"},
        ShortRow{"FR", &UiTexts::menuFrench,
                 " Fran\xC3\xA7"
                 "ais"},
        ShortRow{"FR", &UiTexts::menuSpanish, " Espanol"}, ShortRow{"FR", &UiTexts::stopCaption, "Stopper"},
        ShortRow{"FR", &UiTexts::relativeModeCaption, "Mode Relatif "},
        ShortRow{"FR", &UiTexts::qualityLabel, "Qualit\xC3\xA9 : 0 (mauvaise) 10 (meilleur) "},
        ShortRow{"FR", &UiTexts::prefixLabel,
                 " Pr\xC3\xA9"
                 "fixe : "},
        ShortRow{"FR", &UiTexts::landscapeHint, "Pour les photos en 'paysage"},
        ShortRow{"FR", &UiTexts::presetsCaption, " + R\xC3\xA9solution"},
        ShortRow{"FR", &UiTexts::dropInvite, "Glisser & D\xC3\xA9poser vos photos !"},
        ShortRow{"FR", &UiTexts::cancelledText, "Annul\xC3\xA9"},
        ShortRow{"FR", &UiTexts::prefixUnchangedText,
                 "Pr\xC3\xA9"
                 "fixe inchang\xC3\xA9"},
        ShortRow{"FR", &UiTexts::noPrefixWarning,
                 "Attention, vous n'avez pas indiqu\xC3\xA9 de pr\xC3\xA9"
                 "fixe, cela signifie que "
                 "vous allez \xC3\xA9"
                 "craser les images originales.\nVoulez-vous r\xC3\xA9"
                 "ellement "
                 "\xC3\xA9"
                 "craser les images originales ?"},
        ShortRow{"FR", &UiTexts::stopCountPrefix, "Arr\xC3\xAAt : "},
        ShortRow{"FR", &UiTexts::finishedPrefix, "Termin\xC3\xA9 ! "},
        ShortRow{"FR", &UiTexts::finishedSuffix,
                 " images trait\xC3\xA9"
                 "es."},
        ShortRow{"FR", &UiTexts::versionAvailableSuffix,
                 " est disponible, souhaitez vous la t\xC3\xA9l\xC3\xA9"
                 "charger ?\n(Cliquez sur Oui "
                 "pour acc\xC3\xA9"
                 "der \xC3\xA0 la page de t\xC3\xA9l\xC3\xA9"
                 "chargement)"},
        ShortRow{"FR", &UiTexts::relativeModeHelp,
                 "Le mode relatif permet un redimensionnement proportionel des images."},
        ShortRow{"FR", &UiTexts::sizesIntro,
                 "Les 2 tailles (larg/haut) s\xC3\xA9lectionn\xC3\xA9"
                 "es sont : "},
        ShortRow{"FR", &UiTexts::screenResolutionPrefix,
                 " > R\xC3\xA9solution \xC3\xA9"
                 "cran : "},
        ShortRow{"FR", &UiTexts::widthLetter, "L"}, ShortRow{"FR", &UiTexts::heightLetter, "H"},
        ShortRow{"FR", &UiTexts::failuresHeadingOne, " image n'a produit aucun fichier :"},
        ShortRow{"FR", &UiTexts::failuresHeadingMany, " images n'ont produit aucun fichier :"},
        ShortRow{"FR", &UiTexts::failureSeparator, " : "},
        ShortRow{"FR", &UiTexts::reasonTooLargeForMemory, "trop grande pour la m\xC3\xA9moire disponible"}));

INSTANTIATE_TEST_SUITE_P(
    English, ShortTextTest,
    ::testing::Values(
        ShortRow{"UK", &UiTexts::menuInformation, "Information"},
        ShortRow{"UK", &UiTexts::menuAbout, "&About the software ?"},
        ShortRow{"UK", &UiTexts::menuDonateHelp, "How to make donation?"},
        ShortRow{"UK", &UiTexts::menuDonate, " &Donate"}, ShortRow{"UK", &UiTexts::menuQuit, "&Exit"},
        ShortRow{"UK", &UiTexts::menuPreferences, " Preferences"},
        ShortRow{"UK", &UiTexts::menuFrench, " French"}, ShortRow{"UK", &UiTexts::menuEnglish, " English"},
        ShortRow{"UK", &UiTexts::menuDutch, " Dutch"}, ShortRow{"UK", &UiTexts::menuSpanish, " Spanish"},
        ShortRow{"UK", &UiTexts::menuAdjustDesktop, "Adjust resolution to desktop size"},
        ShortRow{"UK", &UiTexts::stopCaption, "Stop"},
        ShortRow{"UK", &UiTexts::relativeModeCaption, " Relative"},
        ShortRow{"UK", &UiTexts::landscapeHint, "for 'landscape' pictures "},
        ShortRow{"UK", &UiTexts::presetsCaption, " > Resolutions"},
        ShortRow{"UK", &UiTexts::dropInvite, "Drag & Drop yours pictures !"},
        ShortRow{"UK", &UiTexts::prefixUnchangedText, "Prefixe has not been changed"},
        ShortRow{"UK", &UiTexts::prefixBoxPrompt, "Type the prefixe (0 = no prefix)"},
        ShortRow{"UK", &UiTexts::failuresHeadingOne, " picture produced no file:"},
        ShortRow{"UK", &UiTexts::failureSeparator, ": "},
        ShortRow{"UK", &UiTexts::noPrefixWarning,
                 "Be careful, you did not specify a prefix, it means that you will overwrite the "
                 "original images..\nDo you really want to overwrite the original images?"},
        ShortRow{"UK", &UiTexts::saveFailedHelp,
                 "Unable to save preferences, please check you are using a writesupport and that "
                 "you have admin rights."},
        ShortRow{"UK", &UiTexts::finishedSuffix, " pictures were processed.."},
        ShortRow{"UK", &UiTexts::userCancelledText, "User canceled"},
        ShortRow{"UK", &UiTexts::finalSizePrefix, "Size of the ouput picture:"},
        ShortRow{"UK", &UiTexts::qualityPrefix, "Image quality: "},
        ShortRow{"UK", &UiTexts::sizesIntro, "Scaling based on the "},
        ShortRow{"UK", &UiTexts::widthLetter, "W"}, ShortRow{"UK", &UiTexts::heightLetter, "H"}));

// --- Language choice ------------------------------------------------------

TEST(UiTextsLanguage, FrenchAndEnglishFillEveryNamedText) {
  for (std::string_view language : {"FR", "UK"}) {
    const UiTexts texts = build(language);
    for (const NamedText& named : allNamedTexts()) {
      EXPECT_FALSE((texts.*named.member).empty()) << language << " " << named.name;
    }
  }
}

TEST(UiTextsLanguage, OtherCodesLeaveEveryNamedTextEmpty) {
  for (std::string_view language : {"DE", "ES", "", "fr", "uk", "Fr", "FR ", " UK", "FRA", "EN"}) {
    EXPECT_EQ(build(language), UiTexts{}) << "'" << language << "'";
  }
}

TEST(UiTextsLanguage, GermanKeepsTheFixedTexts) {
  const UiTexts texts = build("DE");
  EXPECT_TRUE(texts.menuInformation.empty());
  EXPECT_TRUE(texts.stopCaption.empty());
  EXPECT_TRUE(texts.helpUsage.empty());
  EXPECT_TRUE(texts.presetsCaption.empty());
  // What still shows with no language texts at all.
  EXPECT_EQ(FixedTexts::infoAreaInitial, "Infos");
  EXPECT_EQ(FixedTexts::jpgCaption, "JPG");
  EXPECT_EQ(FixedTexts::pngCaption, "PNG");
  EXPECT_EQ(FixedTexts::presets[11].text, " 1080p ");
}

TEST(UiTextsLanguage, LanguagesDiffer) {
  EXPECT_NE(build("FR").stopCaption, build("UK").stopCaption);
  EXPECT_NE(build("FR").helpUsage, build("UK").helpUsage);
}

TEST(UiTextsLanguage, NoPlaceholderSurvives) {
  for (std::string_view language : {"FR", "UK"}) {
    const UiTexts texts = build(language);
    for (const NamedText& named : allNamedTexts()) {
      EXPECT_EQ((texts.*named.member).find('{'), std::string::npos) << language << " " << named.name;
    }
  }
}

TEST(UiTextsLanguage, NamedTextListIsComplete) {
  std::set<std::string_view> names;
  for (const NamedText& named : allNamedTexts()) {
    EXPECT_TRUE(names.insert(named.name).second) << named.name;
  }
  EXPECT_EQ(names.size(), 118u);
  EXPECT_EQ(allNamedTexts().front().name, "menuInformation");
  EXPECT_EQ(allNamedTexts().back().name, "helpDonate");
  // The list addresses distinct members: writing through each entry touches
  // exactly one field.
  for (const NamedText& named : allNamedTexts()) {
    UiTexts texts;
    texts.*named.member = "x";
    std::size_t filled = 0;
    for (const NamedText& other : allNamedTexts()) {
      filled += (texts.*other.member).empty() ? 0 : 1;
    }
    EXPECT_EQ(filled, 1u) << named.name;
  }
}

// --- Long texts -----------------------------------------------------------

TEST(UiTextsLong, FrenchAboutText) {
  EXPECT_EQ(build("FR").aboutText,
            "Pixmoor 2011 v1.4.1\n"
            "\n"
            "Logiciel r\xC3\xA9"
            "alis\xC3\xA9 par Orvandel\n"
            "http://www.pixmoor.example\n"
            "\n"
            "\n"
            "\n"
            "Merci aux membres du forum Norvane pour leur aide, merci \xC3\xA0 mon \xC3\xA9pouse pour "
            "son soutien constant, enfin, merci aux donateurs qui me permettent de poursuivre le "
            "d\xC3\xA9veloppement de logiciels gratuits.");
}

TEST(UiTextsLong, EnglishAboutText) {
  EXPECT_EQ(build("UK").aboutText,
            "Pixmoor 2011 v1.4.1\n"
            "\n"
            "This software has been coded by Orvandel\n"
            "http://www.pixmoor.example\n"
            "\n"
            "\n"
            "\n"
            "Greets to the Norvane forum users for their help, Thanks to my wife for her constant "
            "support, Finally, thanks to donors who allow me to continue developing free software.");
}

TEST(UiTextsLong, AboutTakesTitleVersionAndSiteFromTheCaller) {
  const UiTexts texts = BuildUiTexts("UK", "Title ", "9.9", "\n", 1, 1, "http://x.test/");
  EXPECT_TRUE(texts.aboutText.starts_with("Title 9.9\n\nThis software"));
  EXPECT_NE(texts.aboutText.find("\nhttp://x.test/\n"), std::string::npos);
}

TEST(UiTextsLong, FrenchResolutionHelpOn1920x1080) {
  const std::string text = build("FR", 1920, 1080).helpResolution;
  EXPECT_EQ(text,
            "Quelle r\xC3\xA9solution choisir ?\n"
            "\n"
            "Les appareils photos d'aujourd'hui prennent des photos de tr\xC3\xA8s grande taille, "
            "pratique pour l'impression, elles s'av\xC3\xA8rent souvent bien trop grandes pour "
            "\xC3\xAAtre seulement visualis\xC3\xA9"
            "es sur un ecran d'ordinateur ou de t\xC3\xA9l\xC3\xA9. "
            "De plus le poids occup\xC3\xA9 par ces images est important !\n"
            "\n"
            "Nous vous proposons de vous baser sur votre r\xC3\xA9solution d'\xC3\xA9"
            "cran qui est "
            "de : L1920 x  H1080");
  EXPECT_TRUE(
      text.ends_with("Nous vous proposons de vous baser sur votre r\xC3\xA9solution "
                     "d'\xC3\xA9"
                     "cran qui est de : L1920 x  H1080"));
}

TEST(UiTextsLong, EnglishResolutionHelpOn1366x768) {
  EXPECT_EQ(build("UK", 1366, 768).helpResolution,
            "Which resolution to choose?\n"
            "\n"
            "Cameras now take pictures of very large size, suitable for printing, they are often "
            "too large to be only viewed on a computer screen or TV.\n"
            "\n"
            "We suggest you draw on your screen resolution that is:1366 x 768\n"
            "If your pictures are wider than tall (landscape), so you rely on a width of  1366 in "
            "relative mode.\n"
            "At the opposite, Conversely, if your photos are taller than wide (portrait), so you "
            "rely on the height in relative mode using as size 768\n"
            "Tips : Try first with one photo and see if the result is good.");
}

TEST(UiTextsLong, ResolutionHelpWritesAnyDesktopSizeInDecimal) {
  EXPECT_TRUE(build("FR", 800, 600).helpResolution.ends_with(": L800 x  H600"));
  EXPECT_TRUE(build("FR", 0, -1).helpResolution.ends_with(": L0 x  H-1"));
  EXPECT_TRUE(build("FR", 2147483647, 7).helpResolution.ends_with(": L2147483647 x  H7"));
}

TEST(UiTextsLong, EnglishUsageKeepsItsOwnDefaultPrefix) {
  const std::string usage = build("UK").helpUsage;
  EXPECT_NE(usage.find("\nYou can also change the prefix of the future images. (default : min_).\n"),
            std::string::npos);
  EXPECT_TRUE(usage.starts_with("Using Pixmoor\n\nFirst, choose Free or Relative format.\n"));
  EXPECT_TRUE(usage.ends_with("\nFinally, note that your settings are saved automatically."));
  EXPECT_NE(build("FR").helpUsage.find("(defaut : prefix_)."), std::string::npos);
}

TEST(UiTextsLong, FrenchDonateHelp) {
  EXPECT_EQ(build("FR").helpDonate,
            "Comment faire un don ?\n"
            "\n"
            "Dans le menu 'en ligne' selectionnez 'Faire un don' ou pressez simplement la touche "
            "'D' de votre clavier.\n"
            "Vous serez alors redirig\xC3\xA9 sur la page web du site, il vous suffira de cliquer "
            "sur l'icone orange 'Faire un don'.\n"
            "Paypal est un service de transactions financi\xC3\xA8res s\xC3\xA9"
            "curis\xC3\xA9"
            "es.\n"
            "\n"
            "Vos dons, m\xC3\xAAme minimes, sont important. Ils apportent un r\xC3\xA9"
            "el soutien au "
            "d\xC3\xA9veloppement de nouveaux logiciels.\n"
            "Merci.");
}

TEST(UiTextsLong, FormatsHelpKeepsTrailingSpacesInsideLines) {
  EXPECT_NE(build("UK").helpFormats.find("while maintaining quality \ncorrect if you choose at "
                                         "least '8 'in quality options.\n"),
            std::string::npos);
  EXPECT_NE(build("FR").helpFormats.find("une qualit\xC3\xA9 \ntr\xC3\xA8s correcte"), std::string::npos);
}

struct LineCountRow {
  const char* language;
  std::string UiTexts::*member;
  std::size_t lines;
};

class LongTextLinesTest : public ::testing::TestWithParam<LineCountRow> {};

// Joined with an unusual break, the number of breaks shows the line count
// and that no break trails the last line.
TEST_P(LongTextLinesTest, JoinsItsLinesWithTheGivenBreak) {
  const LineCountRow& row = GetParam();
  const std::string text = build(row.language, 1920, 1080, "<br>").*row.member;
  EXPECT_EQ(countOf(text, "<br>"), row.lines - 1);
  EXPECT_FALSE(text.ends_with("<br>"));
  EXPECT_EQ(text.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Both, LongTextLinesTest,
                         ::testing::Values(LineCountRow{"FR", &UiTexts::aboutText, 8},
                                           LineCountRow{"UK", &UiTexts::aboutText, 8},
                                           LineCountRow{"FR", &UiTexts::helpUsage, 10},
                                           LineCountRow{"UK", &UiTexts::helpUsage, 10},
                                           LineCountRow{"FR", &UiTexts::helpFormats, 16},
                                           LineCountRow{"UK", &UiTexts::helpFormats, 16},
                                           LineCountRow{"FR", &UiTexts::helpResolution, 5},
                                           LineCountRow{"UK", &UiTexts::helpResolution, 8},
                                           LineCountRow{"FR", &UiTexts::helpDonate, 8},
                                           LineCountRow{"UK", &UiTexts::helpDonate, 8}));

TEST(UiTextsLong, ShortTextsKeepTheirOwnLineFeedWhateverTheBreak) {
  const UiTexts texts = build("UK", 1920, 1080, "\r\n");
  EXPECT_NE(texts.noPrefixWarning.find("images..\nDo you"), std::string::npos);
  EXPECT_EQ(texts.noPrefixWarning.find('\r'), std::string::npos);
  EXPECT_TRUE(texts.aboutText.starts_with("Pixmoor 2011 v1.4.1\r\n\r\nThis"));
}

// --- Fixed texts ----------------------------------------------------------

TEST(FixedTexts, ReadTheSameInEveryLanguage) {
  EXPECT_EQ(FixedTexts::logoTipPrefix, "QVL MULTIMEDIA - Pixmoor ");
  EXPECT_EQ(FixedTexts::relativeTipSuffix, "\r(pour photo)");
  EXPECT_EQ(FixedTexts::freeTipSuffix, "\r(images diverses)");
  EXPECT_EQ(FixedTexts::labelColon, " :");
  EXPECT_EQ(FixedTexts::menuHintSeparator, "\t");
  EXPECT_EQ(FixedTexts::donateHint, "D");
  EXPECT_EQ(FixedTexts::updateHint, "M");
  EXPECT_EQ(FixedTexts::visitHint, "V");
  EXPECT_EQ(FixedTexts::quitHint, "Q");
  EXPECT_EQ(FixedTexts::restartTitle, "Info");
  EXPECT_EQ(FixedTexts::restartNoticeFrench, "Vous devez red\xC3\xA9marrer Pixmoor 2011");
  EXPECT_EQ(FixedTexts::restartNoticeEnglish, "You have To restart Pixmoor 2011");
  EXPECT_EQ(FixedTexts::spanishComingSoon, "Disponible pronto");
  EXPECT_EQ(FixedTexts::dutchComingSoon,
            "Verf\xC3\xBCgbar demn\xC3\xA4"
            "chst");
  EXPECT_EQ(FixedTexts::stopCountSeparator, "/");
  EXPECT_EQ(FixedTexts::stopCountSuffix,
            " images trait\xC3\xA9"
            "es !");
  EXPECT_EQ(FixedTexts::cancelSeparator, ", ");
}

struct PresetRow {
  std::size_t index;
  const char* text;
  int width;
  int height;
};

class PresetTest : public ::testing::TestWithParam<PresetRow> {};

TEST_P(PresetTest, EntryTextAndSize) {
  const PresetRow& row = GetParam();
  const PresetEntry& entry = FixedTexts::presets.at(row.index);
  EXPECT_EQ(entry.text, row.text);
  EXPECT_EQ(entry.width, row.width);
  EXPECT_EQ(entry.height, row.height);
  EXPECT_EQ(entry.choosable(), row.width > 0);
}

INSTANTIATE_TEST_SUITE_P(
    AllEntries, PresetTest,
    ::testing::Values(PresetRow{0, "", 0, 0}, PresetRow{1, "---- 16:10 ----", 0, 0},
                      PresetRow{2, " 2560 x 1600", 2560, 1600}, PresetRow{3, " 1920 x 1200", 1920, 1200},
                      PresetRow{4, " 1680 x 1050", 1680, 1050}, PresetRow{5, " 1440 x 900", 1440, 900},
                      PresetRow{6, " 1280 x 800", 1280, 800}, PresetRow{7, " 1024 x 640", 1024, 640},
                      PresetRow{8, "", 0, 0}, PresetRow{9, "---- HDTV-BR", 0, 0},
                      PresetRow{10, "  720p ", 1280, 720}, PresetRow{11, " 1080p ", 1920, 1080},
                      PresetRow{12, "", 0, 0}, PresetRow{13, "---- 4:3 ----", 0, 0},
                      // U+00D7 MULTIPLICATION SIGN in UTF-8.
                      PresetRow{14, "  2048 \xC3\x97 1536", 2048, 1536},
                      PresetRow{15, "  1600 x 1200", 1600, 1200}, PresetRow{16, "  1280 x 1024", 1280, 1024},
                      PresetRow{17, "  1024 x 768", 1024, 768}, PresetRow{18, "  800 x 600", 800, 600},
                      PresetRow{19, "  640 x 480", 640, 480}, PresetRow{20, "  320 x 240", 320, 240}));

TEST(FixedTexts, PresetListHasTwentyOneEntries) {
  EXPECT_EQ(FixedTexts::presets.size(), 21u);
  std::size_t choosable = 0;
  for (const PresetEntry& entry : FixedTexts::presets) {
    choosable += entry.choosable() ? 1 : 0;
  }
  EXPECT_EQ(choosable, 15u);
}

}  // namespace
}  // namespace pixmoor::texts
