// The main window as built at start-up: geometry, texts, colours, fonts,
// menus, shortcuts and balloon tips, in French, English and an unknown
// language.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QSlider>
#include <QStyleOption>
#include <QTextBlock>
#include <QTextEdit>
#include <map>
#include <optional>
#include <set>

#include "app/gui_control_table.h"
#include "app/gui_text.h"
#include "batch/status_texts.h"
#include "gui_test_support.h"
#include "platform/drop_down_list.h"
#include "platform/eliding_line_edit.h"
#include "platform/skinned_button.h"

namespace pixmoor::app {
namespace {

using testing::HarnessOptions;
using testing::ProgramHarness;

bool isOfKind(QWidget* widget, ControlKind kind) {
  const auto* label = qobject_cast<QLabel*>(widget);
  const auto* edit = qobject_cast<QLineEdit*>(widget);
  const bool eliding = dynamic_cast<platform::ElidingLineEdit*>(widget) != nullptr;
  switch (kind) {
    case ControlKind::dropDownList:
      return dynamic_cast<platform::DropDownList*>(widget) != nullptr &&
             !static_cast<QComboBox*>(widget)->isEditable();
    case ControlKind::picture:
      return label != nullptr && !label->pixmap().isNull();
    case ControlKind::skinnedButton:
      return dynamic_cast<platform::SkinnedButton*>(widget) != nullptr;
    case ControlKind::richTextBox: {
      const auto* box = qobject_cast<QTextEdit*>(widget);
      return box != nullptr && box->isReadOnly() && box->lineWrapMode() == QTextEdit::WidgetWidth;
    }
    case ControlKind::groupFrame:
      return qobject_cast<QGroupBox*>(widget) != nullptr;
    case ControlKind::optionButton:
      return qobject_cast<QRadioButton*>(widget) != nullptr;
    case ControlKind::text:
      return label != nullptr && label->alignment() == (Qt::AlignLeft | Qt::AlignVCenter);
    case ControlKind::centredText:
      return label != nullptr && label->alignment() == Qt::AlignCenter;
    case ControlKind::digitsField:
      return edit != nullptr && !edit->isReadOnly() && edit->validator() != nullptr &&
             edit->alignment() == Qt::AlignCenter;
    case ControlKind::valueField:
    case ControlKind::borderlessField:
    case ControlKind::statusLine:
      return edit != nullptr && edit->isReadOnly() && edit->alignment() == Qt::AlignCenter &&
             edit->hasFrame() == (kind == ControlKind::valueField) &&
             eliding == (kind == ControlKind::statusLine);
    case ControlKind::trackBar: {
      const auto* slider = qobject_cast<QSlider*>(widget);
      return slider != nullptr && slider->minimum() == 0 && slider->maximum() == 10 &&
             slider->tickInterval() == 1;
    }
    case ControlKind::checkBox:
      return qobject_cast<QCheckBox*>(widget) != nullptr;
  }
  return false;
}

// Text and background as the program set them; nothing for system colours.
std::optional<std::pair<QColor, QColor>> coloursOf(QWidget* widget) {
  if (!widget->autoFillBackground()) return std::nullopt;
  return std::pair(widget->palette().color(QPalette::WindowText), widget->palette().color(QPalette::Window));
}

// The window is built from its control table: every row is a live control of
// its kind at its place, with its font and colours, in the table's order.
TEST(MainWindow, ControlsAreBuiltFromTheirTable) {
  ProgramHarness harness;  // relative mode, quality 8, 96 dpi
  const std::map<ControlColours, std::pair<QColor, QColor>> colours = {
      {ControlColours::blackOnGold, {QColor(0, 0, 0), QColor(250, 215, 95)}},
      {ControlColours::whiteOnBlack, {QColor(255, 255, 255), QColor(0, 0, 0)}},
      {ControlColours::whiteOnDarkGrey, {QColor(255, 255, 255), QColor(51, 51, 51)}},
      {ControlColours::greenOnBlack, {QColor(0, 255, 0), QColor(0, 0, 0)}},
      {ControlColours::blackOnQualityColour, {QColor(0, 0, 0), QColor(0, 255, 0)}},
  };
  std::vector<int> tableOrder;
  for (const ControlRow& row : kControlTable) {
    SCOPED_TRACE(row.number);
    tableOrder.push_back(row.number);
    QWidget* widget = harness.window().control(row.number);
    ASSERT_NE(widget, nullptr);
    // In relative mode the free button is the short one.
    const int top = row.number == control::freeButton ? 16 : row.y;
    const int height = row.number == control::freeButton ? 20 : row.height;
    EXPECT_EQ(widget->geometry(), QRect(row.x, top, row.width, height));
    EXPECT_TRUE(isOfKind(widget, row.kind));
    if (row.font == ControlFont::screenDefault) {
      EXPECT_EQ(widget->font(), harness.window().fonts().normal);
    }
    if (row.colours == ControlColours::system) {
      EXPECT_EQ(coloursOf(widget), std::nullopt);
    } else if (colours.contains(row.colours)) {
      EXPECT_EQ(coloursOf(widget), colours.at(row.colours));
    }
  }
  EXPECT_EQ(harness.window().creationOrder(), tableOrder);
  EXPECT_EQ(std::set<int>(tableOrder.begin(), tableOrder.end()).size(), 29u);
}

// A few places of the layout, written out apart from the table.
TEST(MainWindow, ControlsWhereTheLayoutPutsThem) {
  ProgramHarness harness;
  const std::pair<int, QRect> places[] = {
      {control::presetList, QRect(115, 180, 100, 21)}, {control::relativeButton, QRect(1, 2, 109, 34)},
      {control::freeButton, QRect(111, 16, 109, 20)},  {control::infoArea, QRect(223, 122, 275, 175)},
      {control::stopButton, QRect(226, 230, 269, 65)}, {control::qualityValue, QRect(153, 94, 50, 22)},
      {control::prefixValue, QRect(276, 100, 60, 18)}, {control::statusLine, QRect(2, 281, 219, 16)},
  };
  for (const auto& [number, place] : places) {
    EXPECT_EQ(harness.window().control(number)->geometry(), place) << number;
  }
  EXPECT_EQ(harness.window().creationOrder().front(), control::presetList);
  EXPECT_EQ(harness.window().creationOrder().back(), control::statusLine);
}

TEST(MainWindow, TitleClientAreaPositionAndBackground) {
  ProgramHarness harness;
  app::MainWindow& window = harness.window();
  EXPECT_EQ(window.windowTitle().toStdString(), "Pixmoor 2011 v1.4.1");
  EXPECT_EQ(window.centralWidget()->size(), QSize(500, 300));
  EXPECT_EQ(window.height(), 300 + window.menuBar()->height());
  EXPECT_EQ(window.minimumSize(), window.maximumSize());  // not resizable
  EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(window.pos(), QPoint(556, 352));
  EXPECT_EQ(window.centralWidget()->palette().color(QPalette::Window), QColor(250, 215, 95));
  EXPECT_TRUE(window.acceptDrops());
  EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST(MainWindow, TopmostWhenAlwaysOnTop) {
  HarnessOptions options;
  options.alwaysOnTop = 1;
  ProgramHarness harness(options);
  EXPECT_TRUE(harness.window().windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(harness.control<QCheckBox>(control::onTopCheck)->isChecked());
}

struct LanguageTexts {
  const char* language;
  const char* relative;
  const char* free;
  const char* stop;
  const char* formatTitle;
  const char* qualityLabel;
  const char* widthLabel;
  const char* prefixLabel;
  const char* changePrefix;
  const char* presetsCaption;
  const char* onTop;
  const char* menuInformation;
  const char* menuPreferences;
  const char* aboutEntry;
  const char* quitEntry;
};

constexpr LanguageTexts kLanguages[] = {
    {"FR", "Mode Relatif ", "Mode Libre ", "Stopper", "Choix du format de sortie",
     "Qualité : 0 (mauvaise) 10 (meilleur) ", "Largeur :", " Préfixe : ", "Modifier le préfixe",
     " + Résolution", " Garder la fenêtre toujours visible", "Information", " Preferences",
     "A propos du &logiciel ?\tL", "&Quitter\tQ"},
    {"UK", " Relative", " Free", "Stop", "Output format", "0 : Bad - 10 : Best",
     "Width :", " Prefix : ", "Change prefix", " > Resolutions", " Keep the window always visible",
     "Information", " Preferences", "&About the software ?\tW", "&Exit\tQ"},
    {"DE", "", "", "", "", "", " :", "", "", "", "", "", "", "\t", "\tQ"},
};

class MainWindowTexts : public ::testing::TestWithParam<LanguageTexts> {};

TEST_P(MainWindowTexts, ControlsAndMenusSpeakTheLanguage) {
  const LanguageTexts& expected = GetParam();
  HarnessOptions options;
  options.language = expected.language;
  options.summary = false;
  ProgramHarness harness(options);
  app::MainWindow& window = harness.window();
  EXPECT_EQ(window.text(control::relativeButton), expected.relative);
  EXPECT_EQ(window.text(control::freeButton), expected.free);
  EXPECT_EQ(window.text(control::stopButton), expected.stop);
  EXPECT_EQ(window.text(control::formatTitleText), expected.formatTitle);
  EXPECT_EQ(window.text(control::qualityLabelText), expected.qualityLabel);
  EXPECT_EQ(window.text(control::freeWidthLabel), expected.widthLabel);
  EXPECT_EQ(window.text(control::prefixLabelText), expected.prefixLabel);
  EXPECT_EQ(window.text(control::changePrefixButton), expected.changePrefix);
  EXPECT_EQ(window.text(control::presetList), expected.presetsCaption);
  EXPECT_EQ(window.text(control::onTopCheck), expected.onTop);
  // Fixed texts in every language.
  EXPECT_EQ(window.text(control::jpegOption), "JPG");
  EXPECT_EQ(window.text(control::pngOption), "PNG");
  EXPECT_EQ(window.text(control::infoArea), "Infos");
  EXPECT_EQ(window.text(control::statusLine), "http://www.pixmoor.example");
  EXPECT_EQ(window.text(control::prefixValue), "prefix_");
  EXPECT_EQ(window.text(control::landscapeField), "1920");
  EXPECT_EQ(window.text(control::qualityValue), "8");
  auto* presets = harness.control<QComboBox>(control::presetList);
  ASSERT_EQ(presets->count(), 21);
  EXPECT_EQ(presets->itemText(11).toStdString(), " 1080p ");
  EXPECT_EQ(presets->itemText(14).toStdString(), "  2048 \u00d7 1536");
  EXPECT_EQ(presets->itemText(8).toStdString(), "");
  const QList<QAction*> titles = window.menuBar()->actions();
  ASSERT_EQ(titles.size(), 3);
  EXPECT_EQ(titles[0]->text().toStdString(), expected.menuInformation);
  EXPECT_EQ(titles[2]->text().toStdString(), expected.menuPreferences);
  EXPECT_EQ(window.menuEntry(command::about)->text().toStdString(), expected.aboutEntry);
  EXPECT_EQ(window.menuEntry(command::quit)->text().toStdString(), expected.quitEntry);
}

INSTANTIATE_TEST_SUITE_P(Languages, MainWindowTexts, ::testing::ValuesIn(kLanguages),
                         [](const auto& info) { return std::string(info.param.language); });

// Without a language the titles are empty, yet the bar keeps its height and
// every menu its place.
TEST(MainWindow, UnknownLanguageKeepsTheMenuBar) {
  HarnessOptions unknown;
  unknown.language = "DE";
  ProgramHarness harness(unknown);
  ProgramHarness french;
  QMenuBar* bar = harness.window().menuBar();
  EXPECT_EQ(bar->height(), french.window().menuBar()->height());
  for (QAction* title : bar->actions()) EXPECT_FALSE(bar->actionGeometry(title).isEmpty());
}

TEST(MainWindow, MenuEntriesHintsAndIcons) {
  ProgramHarness harness;
  app::MainWindow& window = harness.window();
  const std::pair<int, const char*> entries[] = {
      {command::helpUsage, "Utilisation de Pixmoor"},
      {command::helpFormats, "Que choisir comme format ?"},
      {command::helpResolution, "Quelle résolution choisir ?"},
      {command::helpDonate, "Comment faire un don ?"},
      {command::donate, "Faire un &don\tD"},
      {command::checkUpdate, "Vérifier si une &mise à jour est disponible\tM"},
      {command::visitSite, "&Visiter le site\tV"},
      {command::french, " Français"},
      {command::english, " English"},
      {command::dutch, " Dutch"},
      {command::spanish, " Espanol"},
      {command::adjustToDesktop, " Ajuster la résolution au bureau"},
  };
  for (const auto& [number, text] : entries) {
    SCOPED_TRACE(number);
    ASSERT_NE(window.menuEntry(number), nullptr);
    EXPECT_EQ(window.menuEntry(number)->text().toStdString(), text);
    EXPECT_FALSE(window.menuEntry(number)->icon().isNull());
  }
  EXPECT_TRUE(window.menuEntry(command::quit)->icon().isNull());
  // Separators: after About, before Quit, before the desktop command.
  const QList<QAction*> titles = window.menuBar()->actions();
  EXPECT_EQ(titles[0]->menu()->actions().size(), 6);
  EXPECT_TRUE(titles[0]->menu()->actions()[1]->isSeparator());
  EXPECT_TRUE(titles[1]->menu()->actions()[3]->isSeparator());
  EXPECT_TRUE(titles[2]->menu()->actions()[4]->isSeparator());
}

std::map<QString, int> shortcutsOf(const std::string& language) {
  HarnessOptions options;
  options.language = language;
  ProgramHarness harness(options);
  std::map<QString, int> table;
  for (const auto& [key, number] : harness.window().shortcutTable()) table[key] = number;
  return table;
}

TEST(MainWindow, ShortcutsFollowTheLanguage) {
  const std::map<QString, int> french = {{"Q", 52}, {"L", 49},      {"D", 50},     {"M", 51},
                                         {"V", 53}, {"Return", 47}, {"Enter", 47}, {"Ctrl+O", 666}};
  EXPECT_EQ(shortcutsOf("FR"), french);
  std::map<QString, int> otherLatin = french;
  otherLatin.erase("Ctrl+O");
  EXPECT_EQ(shortcutsOf("ES"), otherLatin);
  EXPECT_EQ(shortcutsOf("DE"), otherLatin);
  const std::map<QString, int> english = {{"E", 52}, {"A", 49},      {"D", 50},    {"U", 51},
                                          {"V", 53}, {"Return", 47}, {"Enter", 47}};
  EXPECT_EQ(shortcutsOf("UK"), english);
  EXPECT_TRUE(shortcutsOf("NL").empty());
  EXPECT_TRUE(shortcutsOf("fr").empty());
}

TEST(MainWindow, BalloonTips) {
  ProgramHarness harness;
  const std::string logo = harness.window().control(control::logo)->toolTip().toStdString();
  EXPECT_NE(logo.find("QVL MULTIMEDIA - Pixmoor 1.4.1 Glisser &amp; Déposer vos photos !"),
            std::string::npos);
  EXPECT_EQ(logo.find("<b>"), std::string::npos);  // no title
  const std::string relative = harness.window().control(control::relativeButton)->toolTip().toStdString();
  EXPECT_NE(relative.find("<b>Aide</b>"), std::string::npos);
  EXPECT_NE(relative.find("Mode Relatif <br>(pour photo)"), std::string::npos);
  EXPECT_NE(relative.find("width=\"180\""), std::string::npos);
  const std::string free = harness.window().control(control::freeButton)->toolTip().toStdString();
  EXPECT_NE(free.find("Mode Libre <br>(images diverses)"), std::string::npos);
}

TEST(MainWindow, ControlColours) {
  ProgramHarness harness;
  auto colours = [&](int number) {
    const QPalette palette = harness.window().control(number)->palette();
    return std::pair(palette.color(QPalette::WindowText), palette.color(QPalette::Window));
  };
  EXPECT_EQ(colours(control::formatTitleText), std::pair(QColor(255, 255, 255), QColor(0, 0, 0)));
  EXPECT_EQ(colours(control::landscapeLabelText), std::pair(QColor(255, 255, 255), QColor(51, 51, 51)));
  EXPECT_EQ(colours(control::prefixValue), std::pair(QColor(255, 255, 255), QColor(51, 51, 51)));
  EXPECT_EQ(colours(control::statusLine), std::pair(QColor(0, 255, 0), QColor(0, 0, 0)));
  EXPECT_EQ(colours(control::onTopCheck), std::pair(QColor(0, 0, 0), QColor(250, 215, 95)));
  EXPECT_EQ(colours(control::jpegOption), std::pair(QColor(0, 0, 0), QColor(250, 215, 95)));
  EXPECT_EQ(colours(control::qualityValue), std::pair(QColor(0, 0, 0), QColor(0, 255, 0)));
  auto* stop = dynamic_cast<platform::SkinnedButton*>(harness.window().control(control::stopButton));
  ASSERT_NE(stop, nullptr);
  EXPECT_TRUE(stop->isHidden());
  EXPECT_FALSE(harness.window().control(control::infoArea)->isHidden());
}

TEST(QualityColourRule, Boundaries) {
  const std::pair<int, QColor> rows[] = {
      {0, QColor(255, 0, 0)}, {3, QColor(255, 0, 0)},  {4, QColor(0, 170, 0)},  {7, QColor(0, 170, 0)},
      {8, QColor(0, 255, 0)}, {10, QColor(0, 255, 0)}, {-1, QColor(255, 0, 0)}, {11, QColor(0, 255, 0)},
  };
  for (const auto& [quality, colour] : rows) EXPECT_EQ(QualityColour(quality), colour) << quality;
}

TEST(MainWindow, StartingWithPngHidesTheQualityControls) {
  HarnessOptions options;
  options.format = "PNG";
  ProgramHarness harness(options);
  EXPECT_TRUE(harness.control<QRadioButton>(control::pngOption)->isChecked());
  EXPECT_FALSE(harness.control<QRadioButton>(control::jpegOption)->isChecked());
  for (int n : {control::qualitySlider, control::qualityValue, control::qualityLabelText}) {
    EXPECT_TRUE(harness.window().control(n)->isHidden()) << n;
  }
}

TEST(MainWindow, UnknownFormatLeavesBothOptionsClear) {
  HarnessOptions options;
  options.format = "GIF";
  ProgramHarness harness(options);
  EXPECT_FALSE(harness.control<QRadioButton>(control::pngOption)->isChecked());
  EXPECT_FALSE(harness.control<QRadioButton>(control::jpegOption)->isChecked());
  EXPECT_FALSE(harness.window().control(control::qualitySlider)->isHidden());
}

TEST(MainWindow, StartingColoursTheQualityNumber) {
  for (const auto& [quality, colour] :
       {std::pair(2, QColor(255, 0, 0)), std::pair(5, QColor(0, 170, 0)), std::pair(9, QColor(0, 255, 0))}) {
    HarnessOptions options;
    options.quality = quality;
    options.mode = quality == 5 ? "LIB" : "REL";
    ProgramHarness harness(options);
    EXPECT_EQ(harness.window().control(control::qualityValue)->palette().color(QPalette::Base), colour)
        << quality;
  }
}

TEST(MainWindow, FreeModeLayout) {
  HarnessOptions options;
  options.mode = "LIB";
  ProgramHarness harness(options);
  EXPECT_EQ(harness.window().control(control::relativeButton)->geometry(), QRect(1, 16, 109, 20));
  EXPECT_EQ(harness.window().control(control::freeButton)->geometry(), QRect(111, 2, 109, 34));
  for (int n : {13, 14, 16, 17, 23}) EXPECT_FALSE(harness.window().control(n)->isHidden()) << n;
  for (int n : {11, 12, 18, 19, 27, 28}) EXPECT_TRUE(harness.window().control(n)->isHidden()) << n;
}

TEST(MainWindow, UnknownModeChangesNeitherSet) {
  HarnessOptions options;
  options.mode = "XYZ";
  ProgramHarness harness(options);
  for (int n : {11, 12, 13, 14, 16, 17, 18, 19, 23, 27, 28}) {
    EXPECT_FALSE(harness.window().control(n)->isHidden()) << n;
  }
}

std::string drawnFamilySize(ProgramHarness& harness, int number) {
  auto* button = dynamic_cast<platform::SkinnedButton*>(harness.window().control(number));
  const QFont& font = button->drawnFont();
  return font.family().toStdString() + " " + std::to_string(font.pointSize());
}

TEST(MainWindow, ModeButtonFontsAt96Dpi) {
  ProgramHarness harness;
  const std::string large = "Arial black 10";
  const std::string small = "Microsoft Sans Serif 7";
  EXPECT_EQ(drawnFamilySize(harness, control::relativeButton), large);
  EXPECT_EQ(drawnFamilySize(harness, control::freeButton), small);
  harness.control<QAbstractButton>(control::freeButton)->click();
  EXPECT_EQ(drawnFamilySize(harness, control::freeButton), large);
  EXPECT_EQ(drawnFamilySize(harness, control::relativeButton), small);
  harness.control<QAbstractButton>(control::relativeButton)->click();
  EXPECT_EQ(drawnFamilySize(harness, control::relativeButton), large);
  EXPECT_EQ(drawnFamilySize(harness, control::freeButton), small);
  // The default control font at 96 dpi.
  EXPECT_EQ(harness.window().control(control::statusLine)->font().pointSize(), 9);
}

TEST(MainWindow, ModeButtonFontsAbove119Dpi) {
  HarnessOptions options;
  options.dpi = 120;
  ProgramHarness harness(options);
  const std::string normal = "Microsoft Sans Serif 9";
  const std::string small = "Microsoft Sans Serif 7";
  EXPECT_EQ(drawnFamilySize(harness, control::relativeButton), normal);
  EXPECT_EQ(drawnFamilySize(harness, control::freeButton), small);
  harness.control<QAbstractButton>(control::freeButton)->click();
  harness.control<QAbstractButton>(control::relativeButton)->click();
  EXPECT_EQ(drawnFamilySize(harness, control::relativeButton), small);
  EXPECT_EQ(drawnFamilySize(harness, control::freeButton), normal);
  EXPECT_EQ(harness.window().control(control::statusLine)->font().pointSize(), 7);
}

TEST(MainWindow, OtherDpiKeepsTheDefaultFont) {
  HarnessOptions options;
  options.dpi = 110;
  ProgramHarness harness(options);
  const QFont standard = QApplication::font();
  auto* relative = dynamic_cast<platform::SkinnedButton*>(harness.window().control(control::relativeButton));
  EXPECT_EQ(relative->drawnFont().family(), standard.family());
  EXPECT_EQ(harness.window().control(control::statusLine)->font().family(), standard.family());
}

// The room a control gives its one-line text, the text and its font, as the
// style lays them out.
struct TextRoom {
  int room;
  QString text;
  QFont font;
};

TextRoom textRoom(QWidget* widget) {
  QStyle* style = widget->style();
  if (auto* button = dynamic_cast<platform::SkinnedButton*>(widget)) {
    return {button->width(), button->text(), button->drawnFont()};
  }
  if (auto* label = qobject_cast<QLabel*>(widget)) {
    return {label->contentsRect().width() - 2 * label->margin(), label->text(), label->font()};
  }
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = edit->hasFrame() ? style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
    const QRect area =
        style->subElementRect(QStyle::SE_LineEditContents, &option, edit) - edit->textMargins();
    return {area.width() - 4, edit->text(), edit->font()};  // 2 px margin each side
  }
  if (auto* list = qobject_cast<QComboBox*>(widget)) {
    QStyleOptionComboBox option;
    option.initFrom(list);
    const QRect field =
        style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list);
    return {field.width() - 2, list->currentText(), list->font()};  // the label's 1 px each side
  }
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    QStyleOptionButton option;
    option.initFrom(button);
    const auto part =
        qobject_cast<QCheckBox*>(button) ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents;
    return {style->subElementRect(part, &option, button).width(), button->text(), button->font()};
  }
  return {0, {}, widget->font()};
}

void expectFits(QWidget* widget, const std::string& what) {
  const TextRoom t = textRoom(widget);
  QString ink = t.text;
  while (ink.endsWith(QLatin1Char(' '))) ink.chop(1);  // trailing spaces draw nothing
  EXPECT_LE(QFontMetrics(t.font).horizontalAdvance(ink), t.room) << what;
}

// A status text fits whole, or is shown elided, never clipped.
void expectShownWhole(platform::ElidingLineEdit* line, const std::string& what) {
  const int width = line->fontMetrics().horizontalAdvance(line->text());
  const int room = line->textArea().width();
  EXPECT_LE(line->fontMetrics().horizontalAdvance(line->shownText()), room) << what;
  if (width <= room)
    EXPECT_EQ(line->shownText(), line->text()) << what;
  else
    EXPECT_TRUE(line->shownText().endsWith(QChar(0x2026))) << what;
}

// With the program's fonts every text of both languages fits its control
// whole: none is clipped and no summary line breaks.
TEST(MainWindow, EveryTextFitsItsControl) {
  for (const char* language : {"FR", "UK"}) {
    for (const char* mode : {"REL", "LIB"}) {
      HarnessOptions options;
      options.language = language;
      options.mode = mode;
      ProgramHarness harness(options);
      app::MainWindow& window = harness.window();
      const std::string where = std::string(language) + " " + mode + " ";
      for (int number : window.creationOrder()) {
        if (number != control::infoArea) expectFits(window.control(number), where + window.text(number));
      }
      const texts::UiTexts& t = harness.texts();
      const batch::BatchTexts b = batch::batchTextsFrom(t);
      for (const std::string& status :
           {t.resolutionChangedText, t.prefixUnchangedText, t.cancelledText + ", " + t.prefixUnchangedText,
            t.prefixSetText, t.savedText, t.saveFailedText, t.noInternetText, t.latestVersionText,
            t.userCancelledText, batch::completionText(b, 9999), batch::stopText(b, 999, 9999),
            std::string(texts::FixedTexts::spanishComingSoon),
            std::string(texts::FixedTexts::dutchComingSoon)}) {
        window.setStatus(status);
        expectShownWhole(harness.control<platform::ElidingLineEdit>(control::statusLine), where + status);
      }
      // The summary's lines, all but the closing hint, which is prose.
      auto* info = harness.control<QTextEdit>(control::infoArea);
      const int textWidth =
          info->viewport()->width() - 2 * static_cast<int>(info->document()->documentMargin());
      const QStringList lines = info->toPlainText().split(QLatin1Char('\n'));
      for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_LE(info->fontMetrics().horizontalAdvance(lines[i]), textWidth)
            << where << lines[i].toStdString();
      }
    }
  }
}

TEST(MainWindow, SummaryFillsTheInformationArea) {
  ProgramHarness harness;
  const std::string info = harness.window().text(control::infoArea);
  EXPECT_EQ(info.rfind("\n > Résolution écran : L 1920    H 1080 <\nMode : relatif\n", 0), 0u) << info;
  auto* box = harness.control<QTextEdit>(control::infoArea);
  EXPECT_EQ(box->document()->firstBlock().blockFormat().alignment() & Qt::AlignHorizontal_Mask,
            Qt::AlignHCenter);
  EXPECT_EQ(box->document()->lastBlock().blockFormat().alignment() & Qt::AlignHorizontal_Mask,
            Qt::AlignHCenter);
}

}  // namespace
}  // namespace pixmoor::app
