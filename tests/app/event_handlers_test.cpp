// The event handlers, driven through the real controls, menu entries and
// close request: what each does to the settings file, the window and the
// status line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <functional>

#include "gui_test_support.h"
#include "online/local_http_server.h"
#include "online/web_pages.h"

namespace pixmoor::app {
namespace {

using testing::HarnessOptions;
using testing::ProgramHarness;

QLineEdit* field(ProgramHarness& harness, int number) {
  return harness.control<QLineEdit>(number);
}

struct StoreRow {
  const char* name;
  std::function<void(ProgramHarness&)> act;
  const char* key;
  const char* value;
  std::vector<int> cues;
};

TEST(ControlHandlers, EachControlStoresItsKey) {
  const StoreRow rows[] = {
      {"free width", [](auto& h) { field(h, control::freeWidthField)->setText("1234"); }, "L", "1234", {}},
      {"free height", [](auto& h) { field(h, control::freeHeightField)->setText("567"); }, "H", "567", {}},
      {"free width wraps at 16 bits",
       [](auto& h) { field(h, control::freeWidthField)->setText("40000"); },
       "L",
       "-25536",
       {}},
      {"landscape",
       [](auto& h) { field(h, control::landscapeField)->setText("1600"); },
       "Taille_Paysage",
       "1600",
       {}},
      {"portrait",
       [](auto& h) { field(h, control::portraitField)->setText("900"); },
       "Taille_Portrait",
       "900",
       {}},
      {"empty field stores 0",
       [](auto& h) { field(h, control::portraitField)->setText(""); },
       "Taille_Portrait",
       "0",
       {}},
      {"slider",
       [](auto& h) { h.template control<QSlider>(control::qualitySlider)->setValue(5); },
       "QUALITE",
       "5",
       {}},
      {"png",
       [](auto& h) { h.template control<QRadioButton>(control::pngOption)->click(); },
       "TYPE",
       "PNG",
       {50}},
      {"jpeg",
       [](auto& h) { h.template control<QRadioButton>(control::jpegOption)->click(); },
       "TYPE",
       "JPG",
       {50}},
      {"relative",
       [](auto& h) { h.template control<QAbstractButton>(control::relativeButton)->click(); },
       "MODE",
       "REL",
       {50}},
      {"free",
       [](auto& h) { h.template control<QAbstractButton>(control::freeButton)->click(); },
       "MODE",
       "LIB",
       {50}},
      {"on top",
       [](auto& h) { h.template control<QCheckBox>(control::onTopCheck)->click(); },
       "VISIBLE",
       "1",
       {50}},
  };
  for (const StoreRow& row : rows) {
    SCOPED_TRACE(row.name);
    ProgramHarness harness;
    EXPECT_TRUE(harness.userGroup().empty());
    row.act(harness);
    const auto user = harness.userGroup();
    ASSERT_EQ(user.count(row.key), 1u);
    EXPECT_EQ(user.at(row.key), row.value);
    EXPECT_EQ(user.size(), 1u);  // one key stored, nothing else
    EXPECT_EQ(harness.cues, row.cues);
  }
}

TEST(ControlHandlers, FieldHandlersUpdateTheSummary) {
  ProgramHarness harness;
  field(harness, control::landscapeField)->setText("1111");
  EXPECT_EQ(harness.settings.landscapeWidth, 1111);
  EXPECT_NE(harness.window().text(control::infoArea).find("Taille : 1111 px  x  1080 px."),
            std::string::npos);
}

TEST(ControlHandlers, FocusChangesRunTheFieldHandler) {
  ProgramHarness harness;
  harness.window().show();
  harness.window().activateWindow();
  field(harness, control::portraitField)->setFocus();
  ProgramHarness::settle();
  EXPECT_EQ(harness.userGroup().count("Taille_Portrait"), 1u);
}

TEST(ControlHandlers, QualityColoursAtTheBoundaries) {
  HarnessOptions options;
  options.quality = 3;
  ProgramHarness harness(options);
  auto* slider = harness.control<QSlider>(control::qualitySlider);
  auto background = [&] {
    return harness.window().control(control::qualityValue)->palette().color(QPalette::Base);
  };
  EXPECT_EQ(background(), QColor(255, 0, 0));
  slider->setValue(4);
  EXPECT_EQ(background(), QColor(0, 170, 0));
  EXPECT_EQ(harness.window().text(control::qualityValue), "4");
  slider->setValue(7);
  EXPECT_EQ(background(), QColor(0, 170, 0));
  slider->setValue(8);
  EXPECT_EQ(background(), QColor(0, 255, 0));
  EXPECT_EQ(harness.window().text(control::qualityValue), "8");
  EXPECT_TRUE(harness.cues.empty());  // the slider makes no sound
}

TEST(ControlHandlers, PngHidesAndJpegShowsTheQualityControls) {
  ProgramHarness harness;
  harness.control<QSlider>(control::qualitySlider)->setValue(6);
  harness.control<QRadioButton>(control::pngOption)->click();
  for (int n : {control::qualitySlider, control::qualityValue, control::qualityLabelText}) {
    EXPECT_TRUE(harness.window().control(n)->isHidden()) << n;
  }
  EXPECT_FALSE(harness.control<QRadioButton>(control::jpegOption)->isChecked());
  EXPECT_EQ(harness.window().text(control::infoArea).find("Qualité"), std::string::npos);
  harness.control<QRadioButton>(control::jpegOption)->click();
  for (int n : {control::qualitySlider, control::qualityValue, control::qualityLabelText}) {
    EXPECT_FALSE(harness.window().control(n)->isHidden()) << n;
  }
  EXPECT_FALSE(harness.control<QRadioButton>(control::pngOption)->isChecked());
  EXPECT_EQ(harness.window().text(control::qualityValue), "6");
}

TEST(ControlHandlers, RelativeModeAgainRunsTheWholeHandler) {
  ProgramHarness harness;
  harness.control<QAbstractButton>(control::relativeButton)->click();
  harness.control<QAbstractButton>(control::relativeButton)->click();
  EXPECT_EQ(harness.cues, (std::vector<int>{50, 50}));
  EXPECT_EQ(harness.userGroup().at("MODE"), "REL");
}

TEST(ControlHandlers, OnTopCheckSetsTheWindowFlag) {
  HarnessOptions options;
  options.alwaysOnTop = 1;
  ProgramHarness harness(options);
  harness.control<QCheckBox>(control::onTopCheck)->click();
  EXPECT_FALSE(harness.window().windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(harness.userGroup().at("VISIBLE"), "0");
  harness.control<QCheckBox>(control::onTopCheck)->click();
  EXPECT_TRUE(harness.window().windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(harness.userGroup().at("VISIBLE"), "1");
}

TEST(PresetList, Choosing1080pSetsTheFreeSize) {
  HarnessOptions options;
  options.mode = "LIB";
  ProgramHarness harness(options);
  auto* list = harness.control<QComboBox>(control::presetList);
  list->setCurrentIndex(11);
  EXPECT_EQ(harness.window().text(control::freeWidthField), "1920");
  EXPECT_EQ(harness.window().text(control::freeHeightField), "1080");
  EXPECT_EQ(harness.settings.freeWidth, 1920);
  EXPECT_EQ(harness.settings.freeHeight, 1080);
  const auto user = harness.userGroup();
  EXPECT_EQ(user.size(), 12u);  // all settings stored
  EXPECT_EQ(user.at("L"), "1920");
  EXPECT_EQ(user.at("H"), "1080");
  EXPECT_EQ(harness.window().text(control::statusLine), "Résolution modifiée");
  EXPECT_EQ(list->currentIndex(), 0);
  EXPECT_EQ(harness.cues, (std::vector<int>{50}));
}

TEST(PresetList, EntriesGiveTheSizesTheirTextsSay) {
  const std::tuple<int, int, int> rows[] = {{2, 2560, 1600},  {7, 1024, 640},   {10, 1280, 720},
                                            {14, 2048, 1536}, {15, 1600, 1200}, {20, 320, 240}};
  for (const auto& [index, width, height] : rows) {
    ProgramHarness harness;
    harness.control<QComboBox>(control::presetList)->setCurrentIndex(index);
    EXPECT_EQ(harness.settings.freeWidth, width) << index;
    EXPECT_EQ(harness.settings.freeHeight, height) << index;
  }
}

TEST(PresetList, HeadingsAndSpacersOnlyGoBackToTheCaption) {
  for (int index : {1, 8, 9, 12, 13}) {
    ProgramHarness harness;
    const auto sizeBefore = std::pair(harness.settings.freeWidth, harness.settings.freeHeight);
    auto* list = harness.control<QComboBox>(control::presetList);
    list->setCurrentIndex(index);
    EXPECT_EQ(list->currentIndex(), 0) << index;
    EXPECT_EQ(std::pair(harness.settings.freeWidth, harness.settings.freeHeight), sizeBefore);
    EXPECT_TRUE(harness.userGroup().empty());
    EXPECT_EQ(harness.window().text(control::statusLine), "http://www.pixmoor.example");
    EXPECT_TRUE(harness.cues.empty());
  }
}

void clickChangePrefix(ProgramHarness& harness) {
  harness.control<QAbstractButton>(control::changePrefixButton)->click();
}

TEST(PrefixCommand, NewPrefix) {
  ProgramHarness harness;
  harness.requesters.inputAnswers = {"new_"};
  clickChangePrefix(harness);
  ASSERT_EQ(harness.requesters.asked.size(), 1u);
  EXPECT_EQ(harness.requesters.asked[0].title, "Choix du préfixe");
  EXPECT_EQ(harness.requesters.asked[0].text, "Ecrire le préfixe désiré (0 = pas de préfixe)");
  EXPECT_EQ(harness.requesters.asked[0].proposed, "prefix_");
  EXPECT_EQ(harness.settings.prefix, "new_");
  EXPECT_EQ(harness.userGroup().at("PREFIX"), "new_");
  EXPECT_EQ(harness.window().text(control::prefixValue), "new_");
  EXPECT_EQ(harness.window().text(control::statusLine), "Nouveau préfixe paramétré");
  EXPECT_EQ(harness.cues, (std::vector<int>{60}));
}

TEST(PrefixCommand, CancelledThenWarningAnsweredNo) {
  ProgramHarness harness;
  harness.requesters.inputAnswers = {""};
  harness.requesters.yesNoAnswers = {false};
  clickChangePrefix(harness);
  ASSERT_EQ(harness.requesters.asked.size(), 2u);
  EXPECT_EQ(harness.requesters.asked[1].kind, "yesno");
  EXPECT_EQ(harness.requesters.asked[1].title, "Pas de préfixe");
  EXPECT_EQ(harness.requesters.asked[1].text, harness.texts().noPrefixWarning);
  EXPECT_EQ(harness.requesters.asked[1].enter, platform::DefaultAnswer::no);  // Enter keeps the originals
  EXPECT_EQ(harness.settings.prefix, "prefix_");
  EXPECT_EQ(harness.userGroup().count("PREFIX"), 0u);
  EXPECT_EQ(harness.window().text(control::prefixValue), "prefix_");
  EXPECT_EQ(harness.window().text(control::statusLine), "Annulé, Préfixe inchangé");
  EXPECT_EQ(harness.cues, (std::vector<int>{60}));
}

TEST(PrefixCommand, ZeroAnsweredYesRemovesThePrefix) {
  ProgramHarness harness;
  harness.requesters.inputAnswers = {"0"};
  harness.requesters.yesNoAnswers = {true};
  clickChangePrefix(harness);
  EXPECT_EQ(harness.settings.prefix, "0");
  EXPECT_EQ(harness.userGroup().at("PREFIX"), "0");
  EXPECT_EQ(harness.window().text(control::prefixValue), "0");
  EXPECT_EQ(harness.window().text(control::statusLine), "http://www.pixmoor.example");  // no status text
}

TEST(PrefixCommand, ZeroWhenAlreadyZero) {
  HarnessOptions options;
  options.prefix = "0";
  ProgramHarness harness(options);
  harness.requesters.inputAnswers = {"0"};
  clickChangePrefix(harness);
  ASSERT_EQ(harness.requesters.asked.size(), 1u);  // no warning
  EXPECT_EQ(harness.window().text(control::statusLine), "Préfixe inchangé");
  EXPECT_TRUE(harness.userGroup().empty());
  EXPECT_EQ(harness.cues, (std::vector<int>{60}));
}

TEST(PrefixCommand, SameTextIsUnchanged) {
  ProgramHarness harness;
  harness.requesters.inputAnswers = {"prefix_"};
  clickChangePrefix(harness);
  EXPECT_EQ(harness.window().text(control::statusLine), "Préfixe inchangé");
  EXPECT_TRUE(harness.userGroup().empty());
}

TEST(PrefixCommand, TakenAsTypedInEnglish) {
  HarnessOptions options;
  options.language = "UK";
  ProgramHarness harness(options);
  harness.requesters.inputAnswers = {" a b\\c "};
  clickChangePrefix(harness);
  EXPECT_EQ(harness.settings.prefix, " a b\\c ");
  EXPECT_EQ(harness.window().text(control::statusLine), "New prefix done");
}

void trigger(ProgramHarness& harness, int command) {
  harness.window().menuEntry(command)->trigger();
}

TEST(MenuCommands, LanguageChangeStoresAndEndsAtOnce) {
  ProgramHarness harness;
  trigger(harness, command::english);
  ASSERT_EQ(harness.requesters.asked.size(), 1u);
  EXPECT_EQ(harness.requesters.asked[0].kind, "info");
  EXPECT_EQ(harness.requesters.asked[0].title, "Info");
  EXPECT_EQ(harness.requesters.asked[0].text, "You have To restart Pixmoor 2011");
  const auto user = harness.userGroup();
  EXPECT_EQ(user.size(), 12u);
  EXPECT_EQ(user.at("LNG"), "UK");
  EXPECT_EQ(harness.endProgramCalls, 1);
  EXPECT_TRUE(harness.state.quitRequested);
  EXPECT_TRUE(harness.state.endAtOnce);
  // The interface is not rebuilt.
  EXPECT_EQ(harness.window().text(control::stopButton), "Stopper");
}

TEST(MenuCommands, ChoosingTheCurrentLanguageDoesNothing) {
  ProgramHarness harness;
  trigger(harness, command::french);
  EXPECT_TRUE(harness.requesters.asked.empty());
  EXPECT_TRUE(harness.userGroup().empty());
  EXPECT_EQ(harness.endProgramCalls, 0);
  EXPECT_FALSE(harness.state.quitRequested);
}

TEST(MenuCommands, FrenchNoticeFromTheEnglishInterface) {
  HarnessOptions options;
  options.language = "UK";
  ProgramHarness harness(options);
  trigger(harness, command::french);
  ASSERT_EQ(harness.requesters.asked.size(), 1u);
  EXPECT_EQ(harness.requesters.asked[0].text, "Vous devez redémarrer Pixmoor 2011");
  EXPECT_EQ(harness.userGroup().at("LNG"), "FR");
}

TEST(MenuCommands, SpanishAndDutchOnlyShowAStatus) {
  ProgramHarness harness;
  trigger(harness, command::spanish);
  EXPECT_EQ(harness.window().text(control::statusLine), "Disponible pronto");
  trigger(harness, command::dutch);
  EXPECT_EQ(harness.window().text(control::statusLine), "Verfügbar demnächst");
  EXPECT_EQ(harness.settings.language, "FR");
  EXPECT_TRUE(harness.userGroup().empty());
}

TEST(MenuCommands, DesktopCommandInFreeModeStoresLAndHOnly) {
  HarnessOptions options;
  options.mode = "LIB";
  options.desktopWidth = 1366;
  options.desktopHeight = 768;
  ProgramHarness harness(options);
  const auto landscapeBefore = harness.settings.landscapeWidth;
  trigger(harness, command::adjustToDesktop);
  EXPECT_EQ(harness.window().text(control::freeWidthField), "1366");
  EXPECT_EQ(harness.window().text(control::freeHeightField), "768");
  const auto user = harness.userGroup();
  EXPECT_EQ(user.size(), 2u);
  EXPECT_EQ(user.at("L"), "1366");
  EXPECT_EQ(user.at("H"), "768");
  EXPECT_EQ(harness.settings.landscapeWidth, landscapeBefore);
}

TEST(MenuCommands, DesktopCommandStoresEvenWhenTheFieldsAlreadyHoldTheSize) {
  ProgramHarness harness;  // relative mode; the first-run sizes are the desktop's
  ASSERT_EQ(harness.window().text(control::landscapeField), "1920");
  trigger(harness, command::adjustToDesktop);
  const auto user = harness.userGroup();
  EXPECT_EQ(user.size(), 2u);
  EXPECT_EQ(user.at("Taille_Paysage"), "1920");
  EXPECT_EQ(user.at("Taille_Portrait"), "1080");
}

TEST(MenuCommands, HelpTextsGoToTheInformationArea) {
  ProgramHarness harness;
  const std::pair<int, std::string texts::UiTexts::*> rows[] = {
      {command::about, &texts::UiTexts::aboutText},
      {command::helpUsage, &texts::UiTexts::helpUsage},
      {command::helpFormats, &texts::UiTexts::helpFormats},
      {command::helpResolution, &texts::UiTexts::helpResolution},
      {command::helpDonate, &texts::UiTexts::helpDonate},
  };
  for (const auto& [number, member] : rows) {
    trigger(harness, number);
    EXPECT_EQ(harness.window().text(control::infoArea), harness.texts().*member) << number;
  }
  harness.window().raise(platform::UiEventKind::menuCommand, command::aboutKey);
  EXPECT_EQ(harness.window().text(control::infoArea).rfind("Pixmoor 2011 v1.4.1\n", 0), 0u);
}

TEST(MenuCommands, WebPages) {
  ProgramHarness harness;
  trigger(harness, command::donate);
  trigger(harness, command::visitSite);
  harness.window().raise(platform::UiEventKind::menuCommand, command::donateKey);
  harness.window().raise(platform::UiEventKind::menuCommand, command::visitSiteKey);
  EXPECT_EQ(harness.opened,
            (std::vector<std::string>{"http://www.pixmoor.example/don.php", "http://www.pixmoor.example",
                                      "http://www.pixmoor.example/don.php", "http://www.pixmoor.example"}));
}

TEST(MenuCommands, UpdateCheckWithoutNetworkSaysSo) {
  for (const auto& [language, text] : {std::pair("FR", "Aucune connexion internet n'est disponible."),
                                       std::pair("UK", "No internet connection is available.")}) {
    testing::LocalHttpServer server;
    server.answer("/downloads/pixmoor2.txt", testing::httpResponse("200 OK", "1.5.0"));
    HarnessOptions options;
    options.language = language;
    ProgramHarness harness(options);
    harness.state.networkAvailable = false;
    harness.state.versionFileAddress = online::versionFileAddress(server.url(""));
    trigger(harness, command::checkUpdate);
    EXPECT_EQ(harness.window().text(control::statusLine), text);
    EXPECT_TRUE(harness.cues.empty());
    EXPECT_TRUE(harness.requesters.asked.empty());
    EXPECT_EQ(server.requestCount(), 0u);
  }
}

const std::string kOfferUk =
    " is available, you want to download it?\n(Click Yes button to go to the download page)";
const std::string kOfferFr =
    " est disponible, souhaitez vous la télécharger ?\n(Cliquez sur Oui pour accéder à la page de "
    "téléchargement)";
const std::string kNotFoundPage = "<html><body><h1>404 Not Found</h1></body></html>\n";

struct UpdateRow {
  const char* language;
  std::string served;  // the version file's body; a 404 page is served as such
  bool answerYes;
  std::string asked;   // "title|text" of the Yes/No box, empty when none opens
  std::string status;  // the status line afterwards
  std::vector<int> cues;
  std::vector<std::string> opened;
};

// What the user sees for each answer of the vendor site: the status line,
// the Yes/No box (the offer holds the text exactly as received), the cue
// and the download page.
TEST(MenuCommands, UpdateCheckShowsWhatTheSiteAnswered) {
  const std::string site = "http://www.pixmoor.example";
  const std::string download = "http://www.pixmoor.example/telecharger_pixmoor.php";
  const UpdateRow rows[] = {
      {"UK", "1.4.1", true, "", "You have the latest version", {60}, {}},
      {"FR", "1.4.1", true, "", "Vous avez la dernière version", {60}, {}},
      {"UK", "", true, "", "You have the latest version", {60}, {}},
      {"UK", "1.5.0", true, "Update|Version 1.5.0" + kOfferUk, site, {}, {download}},
      {"UK", "1.5.0", false, "Update|Version 1.5.0" + kOfferUk, "User canceled", {60}, {}},
      {"FR", "1.5.0", false, "Mise à jour|La version 1.5.0" + kOfferFr, "Annulé par l'utilisateur", {60}, {}},
      {"UK", "1.4.1\r\n", false, "Update|Version 1.4.1\r\n" + kOfferUk, "User canceled", {60}, {}},
      {"UK", kNotFoundPage, true, "Update|Version " + kNotFoundPage + kOfferUk, site, {}, {download}},
  };
  for (const UpdateRow& row : rows) {
    SCOPED_TRACE(std::string(row.language) + " " + row.served);
    testing::LocalHttpServer server;
    server.answer("/downloads/pixmoor2.txt",
                  row.served == kNotFoundPage
                      ? testing::httpResponse("404 Not Found", row.served, "text/html")
                      : testing::httpResponse("200 OK", row.served));
    HarnessOptions options;
    options.language = row.language;
    ProgramHarness harness(options);
    harness.state.networkAvailable = true;
    harness.state.versionFileAddress = online::versionFileAddress(server.url(""));
    harness.requesters.yesNoAnswers = {row.answerYes};
    trigger(harness, command::checkUpdate);
    std::string asked;
    for (const auto& box : harness.requesters.asked) {
      asked += box.kind + ":" + box.title + "|" + box.text;
      EXPECT_EQ(box.enter, platform::DefaultAnswer::yes);  // the offer only opens a page
    }
    EXPECT_EQ(asked, row.asked.empty() ? "" : "yesno:" + row.asked);
    EXPECT_EQ(harness.window().text(control::statusLine), row.status);
    EXPECT_EQ(harness.cues, row.cues);
    EXPECT_EQ(harness.opened, row.opened);
    EXPECT_EQ(server.requestCount(), 1u);
  }
}

// A version file that could not be read (a refused connection, an error
// status with no page) never reads as the latest version: the window says
// that no connection is available, as without a network.
TEST(MenuCommands, UpdateCheckThatCannotReadTheFileSaysNoConnection) {
  std::string refused;
  {
    testing::LocalHttpServer gone;
    refused = online::versionFileAddress(gone.url(""));
  }
  testing::LocalHttpServer failing;
  failing.answer("/downloads/pixmoor2.txt", testing::httpResponse("500 Internal Server Error", ""));
  testing::LocalHttpServer missing;  // answers 404 with an empty body
  for (const auto& [language, text] : {std::pair("FR", "Aucune connexion internet n'est disponible."),
                                       std::pair("UK", "No internet connection is available.")}) {
    for (const std::string& address : {refused, online::versionFileAddress(failing.url("")),
                                       online::versionFileAddress(missing.url(""))}) {
      SCOPED_TRACE(std::string(language) + " " + address);
      HarnessOptions options;
      options.language = language;
      ProgramHarness harness(options);
      harness.state.networkAvailable = true;
      harness.state.versionFileAddress = address;
      harness.window().raise(platform::UiEventKind::menuCommand, command::checkUpdateKey);
      EXPECT_EQ(harness.window().text(control::statusLine), text);
      EXPECT_TRUE(harness.cues.empty());
      EXPECT_TRUE(harness.requesters.asked.empty());
    }
  }
  EXPECT_EQ(failing.requestCount(), 2u);
  EXPECT_EQ(missing.requestCount(), 2u);
}

TEST(MenuCommands, QuitSavesEverythingAndEndsTheLoop) {
  ProgramHarness harness;
  harness.window().raise(platform::UiEventKind::menuCommand, command::quitKey);
  EXPECT_EQ(harness.userGroup().size(), 12u);
  EXPECT_TRUE(harness.state.quitRequested);
  EXPECT_FALSE(harness.state.endAtOnce);
  EXPECT_EQ(harness.window().text(control::statusLine), "Modification sauvegardée.");
}

TEST(MenuCommands, EnterKeyDoesNothing) {
  ProgramHarness harness;
  const std::string before = harness.window().text(control::infoArea);
  harness.window().raise(platform::UiEventKind::menuCommand, command::enterKey);
  EXPECT_EQ(harness.window().text(control::infoArea), before);
  EXPECT_TRUE(harness.userGroup().empty());
  EXPECT_FALSE(harness.state.quitRequested);
}

TEST(CloseRequest, ClosingTheWindowSavesEveryKey) {
  ProgramHarness harness;
  harness.settings.prefix = "";  // as a drop leaves it
  harness.window().show();
  EXPECT_FALSE(harness.window().close());  // the program decides, the window stays
  const auto user = harness.userGroup();
  const char* keys[] = {"MODE",   "TYPE", "QUALITE", "Taille_Paysage", "Taille_Portrait", "FREE_L",
                        "FREE_H", "L",    "H",       "VISIBLE",        "PREFIX",          "LNG"};
  EXPECT_EQ(user.size(), 12u);
  for (const char* key : keys) EXPECT_EQ(user.count(key), 1u) << key;
  EXPECT_EQ(user.at("PREFIX"), "0");
  EXPECT_TRUE(harness.state.quitRequested);
}

TEST(CloseRequest, UnwritableFolderReportsTheFailure) {
  ProgramHarness harness;
  std::filesystem::remove(harness.state.settingsPath);
  std::filesystem::create_directory(harness.state.settingsPath);  // cannot be opened as a file
  harness.window().close();
  EXPECT_EQ(harness.window().text(control::statusLine), "Sauvegarde impossible");
  EXPECT_EQ(harness.window().text(control::infoArea), harness.texts().saveFailedHelp);
}

// A settings file that cannot take a change: every store says so with the
// not-saved texts, whatever the handler showed before storing; the change
// holds in memory for this run.
TEST(CloseRequest, EveryStoreThatFailsSaysNotSaved) {
  const std::pair<const char*, std::function<void(ProgramHarness&)>> rows[] = {
      {"slider", [](auto& h) { h.template control<QSlider>(control::qualitySlider)->setValue(5); }},
      {"field", [](auto& h) { field(h, control::landscapeField)->setText("1600"); }},
      {"png", [](auto& h) { h.template control<QRadioButton>(control::pngOption)->click(); }},
      {"free mode", [](auto& h) { h.template control<QAbstractButton>(control::freeButton)->click(); }},
      {"on top", [](auto& h) { h.template control<QCheckBox>(control::onTopCheck)->click(); }},
      {"prefix",
       [](auto& h) {
         h.requesters.inputAnswers = {"new_"};
         h.template control<QAbstractButton>(control::changePrefixButton)->click();
       }},
      {"desktop size", [](auto& h) { trigger(h, command::adjustToDesktop); }},
      {"quit", [](auto& h) { trigger(h, command::quit); }},
  };
  for (const auto& [name, act] : rows) {
    SCOPED_TRACE(name);
    ProgramHarness harness;
    const std::string before = testing::readBytes(harness.state.settingsPath);
    ASSERT_EQ(::chmod(harness.state.settingsPath.c_str(), 0444), 0);
    act(harness);
    EXPECT_EQ(harness.window().text(control::statusLine), "Sauvegarde impossible");
    EXPECT_EQ(harness.window().text(control::infoArea), harness.texts().saveFailedHelp);
    EXPECT_EQ(testing::readBytes(harness.state.settingsPath), before);
  }
}

TEST(EventLoop, ReturnsOnceQuitIsRequested) {
  ProgramHarness harness;
  QTimer::singleShot(0, &harness.window(), [&] { harness.window().close(); });
  harness.program->runEventLoop();
  EXPECT_TRUE(harness.state.quitRequested);
}

}  // namespace
}  // namespace pixmoor::app
