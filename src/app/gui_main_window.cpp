#include "app/gui_main_window.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QShortcut>
#include <QSlider>
#include <QTextEdit>
#include <optional>
#include <string_view>

#include "app/gui_control_table.h"
#include "app/gui_numbers.h"
#include "app/gui_text.h"
#include "app_core/settings_summary.h"
#include "online/web_pages.h"
#include "platform/balloon_tip.h"
#include "platform/drop_down_list.h"
#include "platform/eliding_line_edit.h"
#include "platform/fonts.h"
#include "platform/menu_bar_titles.h"
#include "platform/raster_image.h"
#include "platform/skinned_button.h"
#include "platform/topmost_suspension.h"
#include "platform/uri_list.h"
#include "platform/x11_window.h"

namespace pixmoor::app {

using platform::SkinnedButton;
using platform::UiEventKind;
using texts::FixedTexts;
using texts::UiTexts;

WindowFonts loadWindowFonts() {
  WindowFonts fonts{platform::fontByName("Arial black", 10), platform::fontByName("Microsoft Sans Serif", 7),
                    platform::fontByName("Microsoft Sans Serif", 9)};
  // Where the family itself is missing, its substitute should still be heavy.
  fonts.large.setWeight(QFont::Black);
  return fonts;
}

QColor QualityColour(int quality) {
  if (quality < 4) return colour::qualityRed;
  if (quality <= 7) return colour::qualityDarkGreen;
  return colour::green;
}

MainWindow::MainWindow(WindowSetup setup) : setup_(std::move(setup)) {}

MainWindow::~MainWindow() = default;

void MainWindow::raise(UiEventKind kind, int number, std::vector<std::string> paths) {
  if (!dispatch_) return;
  platform::UiEvent event;
  event.kind = kind;
  event.number = number;
  event.paths = std::move(paths);
  dispatch_(event);
}

void MainWindow::create() {
  const settings::Settings& settings = *setup_.settings;

  // The window: caption, system menu and minimise box; a fixed gold client
  // area of 500 x 300 below the menu bar.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowTitle(qs(setup_.state->titleBase + setup_.state->versionText));
  client_ = new QWidget(this);
  client_->setFixedSize(500, 300);
  QPalette gold = client_->palette();
  gold.setColor(QPalette::Window, colour::gold);
  gold.setColor(QPalette::WindowText, colour::black);
  client_->setPalette(gold);
  client_->setAutoFillBackground(true);
  setCentralWidget(client_);
  move(556, 352);
  if (settings.alwaysOnTop != 0) setWindowFlag(Qt::WindowStaysOnTopHint, true);

  // The keyboard shortcuts of the interface language.
  addShortcuts();

  // The default control font follows the screen's resolution.
  screenDpi_ = setup_.screenDpi ? setup_.screenDpi() : 96;
  if (screenDpi_ == 96) {
    defaultFont_ = setup_.fonts.normal;
    hasDefaultFont_ = true;
  } else if (screenDpi_ > 119) {
    defaultFont_ = setup_.fonts.small;
    hasDefaultFont_ = true;
  }

  // The menu bar with its three menus.
  createMenu();

  // The controls with their contents, the mode layout, colours and skins.
  createControls();

  const int menuHeight = menuBar()->sizeHint().height();
  setFixedSize(500, 300 + menuHeight);

  // Files and folders may be dropped anywhere on the window.
  setAcceptDrops(true);
  platform::setWindowManagerButtons(this);  // minimise and close, no maximise
  show();
}

void MainWindow::addShortcuts() {
  const std::string& language = setup_.settings->language;
  std::vector<std::pair<QKeySequence, int>> keys;
  if (language == "FR" || language == "ES" || language == "DE") {
    keys = {{QKeySequence(Qt::Key_Q), command::quitKey},
            {QKeySequence(Qt::Key_L), command::aboutKey},
            {QKeySequence(Qt::Key_D), command::donateKey},
            {QKeySequence(Qt::Key_M), command::checkUpdateKey},
            {QKeySequence(Qt::Key_V), command::visitSiteKey}};
  } else if (language == "UK") {
    keys = {{QKeySequence(Qt::Key_E), command::quitKey},
            {QKeySequence(Qt::Key_A), command::aboutKey},
            {QKeySequence(Qt::Key_D), command::donateKey},
            {QKeySequence(Qt::Key_U), command::checkUpdateKey},
            {QKeySequence(Qt::Key_V), command::visitSiteKey}};
  } else {
    return;  // an unknown language gets no shortcut at all
  }
  keys.emplace_back(QKeySequence(Qt::Key_Return), command::enterKey);
  keys.emplace_back(QKeySequence(Qt::Key_Enter), command::enterKey);
  if (language == "FR") keys.emplace_back(QKeySequence(Qt::CTRL | Qt::Key_O), command::ballGame);
  for (const auto& [sequence, number] : keys) {
    auto* shortcut = new QShortcut(sequence, this);
    shortcut->setContext(Qt::WindowShortcut);
    const int raised = number;
    connect(shortcut, &QShortcut::activated, this,
            [this, raised] { raise(UiEventKind::menuCommand, raised); });
    shortcuts_.emplace_back(shortcut, number);
  }
}

std::vector<std::pair<QString, int>> MainWindow::shortcutTable() const {
  std::vector<std::pair<QString, int>> table;
  for (const auto& [shortcut, number] : shortcuts_) table.emplace_back(shortcut->key().toString(), number);
  return table;
}

QAction* MainWindow::menuEntry(int number) const {
  const auto it = menuEntries_.find(number);
  return it == menuEntries_.end() ? nullptr : it->second;
}

void MainWindow::createMenu() {
  const UiTexts& texts = *setup_.texts;
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("menu32"));
  // An unknown language leaves the titles empty; the menus stay all the same.
  platform::keepEmptyMenuTitles(bar);
  auto iconOf = [this](int number) -> QIcon {
    if (setup_.pictures == nullptr) return {};
    const QImage picture = platform::rasterToQImage(setup_.pictures->raster(number));
    return picture.isNull() ? QIcon() : QIcon(QPixmap::fromImage(picture));
  };
  // An entry with a hint (even an empty one) gets the tab and the hint.
  auto entry = [&](QMenu* menu, int number, const std::string& text, std::optional<std::string_view> hint,
                   int icon) {
    std::string label = text;
    if (hint) label += std::string(FixedTexts::menuHintSeparator) + std::string(*hint);
    QAction* action = menu->addAction(qs(label));
    if (icon != 0) action->setIcon(iconOf(icon));
    action->setIconVisibleInMenu(true);
    connect(action, &QAction::triggered, this, [this, number] { raise(UiEventKind::menuCommand, number); });
    menuEntries_[number] = action;
  };
  QMenu* information = bar->addMenu(qs(texts.menuInformation));
  entry(information, command::about, texts.menuAbout, texts.widthLetter, picture::informationIcon);
  information->addSeparator();
  entry(information, command::helpUsage, texts.menuUsage, std::nullopt, picture::informationIcon);
  entry(information, command::helpFormats, texts.menuFormats, std::nullopt, picture::informationIcon);
  entry(information, command::helpResolution, texts.menuResolution, std::nullopt, picture::informationIcon);
  entry(information, command::helpDonate, texts.menuDonateHelp, std::nullopt, picture::informationIcon);
  QMenu* online = bar->addMenu(qs(texts.menuOnline));
  entry(online, command::donate, texts.menuDonate, FixedTexts::donateHint, picture::donateIcon);
  entry(online, command::checkUpdate, texts.menuUpdate, FixedTexts::updateHint, picture::updateIcon);
  entry(online, command::visitSite, texts.menuVisit, FixedTexts::visitHint, picture::visitIcon);
  online->addSeparator();
  entry(online, command::quit, texts.menuQuit, FixedTexts::quitHint, 0);
  QMenu* preferences = bar->addMenu(qs(texts.menuPreferences));
  entry(preferences, command::french, texts.menuFrench, std::nullopt, picture::frenchIcon);
  entry(preferences, command::english, texts.menuEnglish, std::nullopt, picture::englishIcon);
  entry(preferences, command::dutch, texts.menuDutch, std::nullopt, picture::dutchIcon);
  entry(preferences, command::spanish, texts.menuSpanish, std::nullopt, picture::spanishIcon);
  preferences->addSeparator();
  entry(preferences, command::adjustToDesktop, texts.menuAdjustDesktop, std::nullopt, picture::desktopIcon);
}

namespace {

void setColours(QWidget* widget, const QColor& text, const QColor& background) {
  QPalette palette = widget->palette();
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    palette.setColor(role, text);
  }
  for (QPalette::ColorRole role : {QPalette::Window, QPalette::Base, QPalette::Button}) {
    palette.setColor(role, background);
  }
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
  widget->update();
}

void centreAllParagraphs(QTextEdit* box) {
  QTextCursor cursor = box->textCursor();
  cursor.select(QTextCursor::Document);
  QTextBlockFormat format;
  format.setAlignment(Qt::AlignHCenter);
  cursor.mergeBlockFormat(format);
  cursor.clearSelection();
  cursor.movePosition(QTextCursor::Start);
  box->setTextCursor(cursor);
}

}  // namespace

void MainWindow::setControlColours(int number, const QColor& text, const QColor& background) {
  if (QWidget* widget = control(number); widget != nullptr) setColours(widget, text, background);
}

QWidget* MainWindow::makeControl(const ControlRow& row) {
  QWidget* widget = nullptr;
  switch (row.kind) {
    case ControlKind::dropDownList:
      widget = new platform::DropDownList(client_);
      break;
    case ControlKind::picture:
    case ControlKind::text:
    case ControlKind::centredText:
      widget = new QLabel(client_);
      break;
    case ControlKind::skinnedButton:
      widget = new SkinnedButton(client_);
      break;
    case ControlKind::richTextBox:
      widget = new QTextEdit(client_);
      break;
    case ControlKind::groupFrame:
      widget = new QGroupBox(client_);
      break;
    case ControlKind::optionButton:
      widget = new QRadioButton(client_);
      break;
    case ControlKind::digitsField:
    case ControlKind::valueField:
    case ControlKind::borderlessField:
      widget = new QLineEdit(client_);
      break;
    case ControlKind::statusLine:
      widget = new platform::ElidingLineEdit(client_);
      break;
    case ControlKind::trackBar:
      widget = new QSlider(client_);
      break;
    case ControlKind::checkBox:
      widget = new QCheckBox(client_);
      break;
  }
  widget->setGeometry(row.x, row.y, row.width, row.height);
  // Every control starts with the default font; the mode layout gives the
  // mode buttons theirs.
  if (hasDefaultFont_) widget->setFont(defaultFont_);
  // Drops anywhere on the window belong to the window, not to its fields.
  widget->setAcceptDrops(false);
  controls_.put(row.number, widget);
  creationOrder_.push_back(row.number);

  switch (row.kind) {
    case ControlKind::dropDownList: {
      auto* list = static_cast<QComboBox*>(widget);
      list->setMaxVisibleItems(static_cast<int>(FixedTexts::presets.size()));
      list->view()->setMinimumWidth(row.width);
      break;
    }
    case ControlKind::picture:
      static_cast<QLabel*>(widget)->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      break;
    case ControlKind::text:
      static_cast<QLabel*>(widget)->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
      break;
    case ControlKind::centredText:
      static_cast<QLabel*>(widget)->setAlignment(Qt::AlignCenter);
      break;
    case ControlKind::richTextBox: {
      auto* box = static_cast<QTextEdit*>(widget);
      box->setReadOnly(true);
      box->setLineWrapMode(QTextEdit::WidgetWidth);
      break;
    }
    case ControlKind::digitsField: {
      auto* edit = static_cast<QLineEdit*>(widget);
      edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
      edit->setAlignment(Qt::AlignCenter);
      break;
    }
    case ControlKind::valueField:
    case ControlKind::borderlessField:
    case ControlKind::statusLine: {
      auto* edit = static_cast<QLineEdit*>(widget);
      edit->setReadOnly(true);
      edit->setFrame(row.kind == ControlKind::valueField);
      edit->setAlignment(Qt::AlignCenter);
      break;
    }
    case ControlKind::trackBar: {
      auto* slider = static_cast<QSlider*>(widget);
      slider->setOrientation(Qt::Horizontal);
      slider->setRange(0, 10);
      slider->setTickPosition(QSlider::TicksBelow);
      slider->setTickInterval(1);
      slider->setPageStep(1);
      break;
    }
    case ControlKind::skinnedButton:
    case ControlKind::groupFrame:
    case ControlKind::optionButton:
    case ControlKind::checkBox:
      break;
  }
  return widget;
}

void MainWindow::createControls() {
  for (const ControlRow& row : kControlTable) makeControl(row);
  fillControls();
  // The frame is drawn beneath the controls it surrounds and the mode
  // buttons it touches.
  control(control::formatFrame)->lower();
  if (placeModeControls()) setModeButtonFonts(/*atCreation=*/true);
  // Colours and skins last: a skinned button draws its caption with the font
  // the mode layout has just given it.
  colourControls();

  // Every notification of a control becomes a control event.
  for (int number : creationOrder_) {
    QWidget* widget = control(number);
    auto raiseThis = [this, number] { raise(UiEventKind::control, number); };
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      connect(button, &QAbstractButton::clicked, this, raiseThis);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      connect(edit, &QLineEdit::textChanged, this, raiseThis);
      edit->installEventFilter(this);
    } else if (auto* list = qobject_cast<QComboBox*>(widget)) {
      connect(list, &QComboBox::currentIndexChanged, this, raiseThis);
      connect(list, &QComboBox::activated, this, raiseThis);
    } else if (auto* track = qobject_cast<QSlider*>(widget)) {
      connect(track, &QSlider::valueChanged, this, raiseThis);
    }
  }
}

void MainWindow::fillControls() {
  const settings::Settings& settings = *setup_.settings;
  const UiTexts& texts = *setup_.texts;

  // The preset list: the caption (entry 0, selected) and the 21 entries.
  auto* presets = as<QComboBox>(control::presetList);
  for (std::size_t i = 0; i < FixedTexts::presets.size(); ++i) {
    presets->addItem(i == 0 ? qs(texts.presetsCaption) : qs(std::string(FixedTexts::presets[i].text)));
  }
  presets->setCurrentIndex(0);

  // The logo (Image 57) and the balloon tips.
  auto* logo = as<QLabel>(control::logo);
  if (setup_.pictures != nullptr) {
    const QImage picture = platform::rasterToQImage(setup_.pictures->raster(picture::logo));
    if (!picture.isNull()) logo->setPixmap(QPixmap::fromImage(picture));
  }
  platform::AddBalloonTip(logo,
                          std::string(FixedTexts::logoTipPrefix) + setup_.state->versionText +
                              std::string(FixedTexts::logoTipSeparator) + texts.dropInvite,
                          {});
  auto* relative = as<SkinnedButton>(control::relativeButton);
  relative->setCaption(texts.relativeModeCaption);
  auto* free = as<SkinnedButton>(control::freeButton);
  free->setCaption(texts.freeModeCaption);
  platform::AddBalloonTip(relative, texts.relativeModeCaption + std::string(FixedTexts::relativeTipSuffix),
                          texts.helpTitle);
  platform::AddBalloonTip(free, texts.freeModeCaption + std::string(FixedTexts::freeTipSuffix),
                          texts.helpTitle);

  // The information area, and the Stop button over it, hidden until a batch.
  auto* stop = as<SkinnedButton>(control::stopButton);
  stop->setCaption(texts.stopCaption);
  stop->hide();
  showHelpText(std::string(FixedTexts::infoAreaInitial));

  // Texts of the labels and buttons.
  const std::pair<int, std::string> captions[] = {
      {control::jpegOption, std::string(FixedTexts::jpgCaption)},
      {control::pngOption, std::string(FixedTexts::pngCaption)},
      {control::formatTitleText, texts.formatTitle},
      {control::qualityLabelText, texts.qualityLabel},
      {control::sizeTitleText, texts.sizeTitle},
      {control::landscapeHintText, texts.landscapeHint},
      {control::landscapeLabelText, texts.landscapeWidthLabel},
      {control::portraitHintText, texts.portraitHint},
      {control::portraitLabelText, texts.portraitHeightLabel},
      {control::prefixLabelText, texts.prefixLabel},
      {control::freeWidthLabel, texts.widthWord + std::string(FixedTexts::labelColon)},
      {control::freeHeightLabel, texts.heightWord + std::string(FixedTexts::labelColon)},
      {control::onTopCheck, texts.alwaysOnTopCaption},
  };
  for (const auto& [number, text] : captions) {
    if (auto* label = as<QLabel>(number)) label->setText(qs(text));
    if (auto* button = as<QAbstractButton>(number)) button->setText(qs(text));
  }
  as<SkinnedButton>(control::changePrefixButton)->setCaption(texts.changePrefixCaption);

  // Values from the Settings.
  const std::pair<int, QString> values[] = {
      {control::qualityValue, QString::number(settings.quality)},
      {control::landscapeField, QString::number(settings.landscapeWidth)},
      {control::portraitField, QString::number(settings.portraitHeight)},
      {control::prefixValue, qs(settings.prefix)},
      {control::freeWidthField, QString::number(settings.freeWidth)},
      {control::freeHeightField, QString::number(settings.freeHeight)},
      {control::statusLine, qs(online::siteAddress())},
  };
  for (const auto& [number, value] : values) as<QLineEdit>(number)->setText(value);
  as<QSlider>(control::qualitySlider)->setValue(settings.quality);
  as<QCheckBox>(control::onTopCheck)->setChecked(settings.alwaysOnTop != 0);

  // The output format: PNG hides the quality controls; any other value
  // leaves both options clear and the quality controls shown.
  if (settings.format == settings::OutputFormat::jpeg) {
    as<QRadioButton>(control::jpegOption)->setChecked(true);
    for (int n : {control::qualitySlider, control::qualityLabelText}) control(n)->show();
  } else if (settings.format == settings::OutputFormat::png) {
    as<QRadioButton>(control::pngOption)->setChecked(true);
    for (int n : {control::qualitySlider, control::qualityValue, control::qualityLabelText}) {
      control(n)->hide();
    }
  }
}

void MainWindow::colourControls() {
  for (const ControlRow& row : kControlTable) {
    switch (row.colours) {
      case ControlColours::system:
        break;
      case ControlColours::skinned: {
        auto* button = as<SkinnedButton>(row.number);
        button->setCaption(button->caption());  // draws the faces with the font it has now
        break;
      }
      case ControlColours::blackOnGold:
        setControlColours(row.number, colour::black, colour::gold);
        break;
      case ControlColours::whiteOnBlack:
        setControlColours(row.number, colour::white, colour::black);
        break;
      case ControlColours::whiteOnDarkGrey:
        setControlColours(row.number, colour::white, colour::darkGrey);
        break;
      case ControlColours::greenOnBlack:
        setControlColours(row.number, colour::green, colour::black);
        break;
      case ControlColours::blackOnQualityColour:
        setControlColours(row.number, colour::black, QualityColour(setup_.settings->quality));
        break;
    }
  }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    // The window's single-key shortcuts work wherever the focus is, as
    // accelerators do: the fields take digits only, never these keys.
    const auto* key = static_cast<QKeyEvent*>(event);
    const QKeySequence pressed(key->keyCombination());
    for (const auto& [shortcut, number] : shortcuts_) {
      if (shortcut->key() == pressed) return true;  // not taken by the field: the shortcut fires
    }
  }
  if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
    for (const auto& [number, widget] : controls_.all()) {
      if (widget.data() == watched) {
        raise(UiEventKind::control, number);
        break;
      }
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::applyModeLayout() {
  screenDpi_ = setup_.screenDpi ? setup_.screenDpi() : screenDpi_;
  // Sizes first, then the fonts, which show at the next size or caption
  // change.
  if (placeModeControls()) setModeButtonFonts(/*atCreation=*/false);
}

bool MainWindow::placeModeControls() {
  const settings::SizeMode mode = setup_.settings->mode;
  if (mode == settings::SizeMode::unknown) return false;  // an unknown mode changes nothing
  const bool relativeMode = mode == settings::SizeMode::relative;
  auto* relative = as<SkinnedButton>(control::relativeButton);
  auto* free = as<SkinnedButton>(control::freeButton);
  auto* tall = relativeMode ? relative : free;
  auto* shortButton = relativeMode ? free : relative;
  // A size change draws the button again with its current font.
  tall->setGeometry(tall->x(), 2, 109, 34);
  shortButton->setGeometry(shortButton->x(), 16, shortButton->width(), 20);
  for (int n : {control::landscapeLabelText, control::portraitLabelText, control::landscapeField,
                control::portraitField, control::landscapeHintText, control::portraitHintText}) {
    control(n)->setVisible(relativeMode);
  }
  for (int n : {control::freeWidthLabel, control::freeHeightLabel, control::freeWidthField,
                control::freeHeightField, control::presetList}) {
    control(n)->setVisible(!relativeMode);
  }
  return true;
}

void MainWindow::setModeButtonFonts(bool atCreation) {
  const WindowFonts& fonts = setup_.fonts;
  const QFont* heavy = nullptr;
  if (screenDpi_ == 96) {
    heavy = &fonts.large;
  } else if (screenDpi_ > 119) {
    heavy = &fonts.normal;
  } else {
    return;  // both buttons keep the default control font
  }
  // At creation the tall button gets the heavy font. A mode change sets the
  // fonts drawn at the next change: at 96 dpi the heavy one goes to the short
  // button, which is tall by then; above 119 dpi always to the free button.
  const bool relativeMode = setup_.settings->mode == settings::SizeMode::relative;
  const bool relativeHeavy = atCreation ? relativeMode : (screenDpi_ == 96 && !relativeMode);
  as<SkinnedButton>(control::relativeButton)->setFont(relativeHeavy ? *heavy : fonts.small);
  as<SkinnedButton>(control::freeButton)->setFont(relativeHeavy ? fonts.small : *heavy);
}

void MainWindow::setFreeSize(int width, int height) {
  setup_.settings->freeWidth = settings::low16(width);
  setup_.settings->freeHeight = settings::low16(height);
  as<QLineEdit>(control::freeWidthField)->setText(QString::number(setup_.settings->freeWidth));
  as<QLineEdit>(control::freeHeightField)->setText(QString::number(setup_.settings->freeHeight));
}

void MainWindow::showHelpText(const std::string& text) {
  auto* info = as<QTextEdit>(control::infoArea);
  info->setPlainText(qs(text));
  centreAllParagraphs(info);
  showsFailureList_ = false;
  ++infoAreaWrites_;
}

void MainWindow::showFailureList(const std::string& text) {
  showHelpText(text);
  showsFailureList_ = true;
}

void MainWindow::showSummary() {
  showHelpText(settingsSummary(*setup_.settings, setup_.state->desktopWidth, setup_.state->desktopHeight,
                               *setup_.texts));
}

void MainWindow::setStatus(const std::string& text) {
  as<QLineEdit>(control::statusLine)->setText(qs(text));
}

void MainWindow::setFieldText(int number, const std::string& text) {
  if (auto* edit = as<QLineEdit>(number)) edit->setText(qs(text));
}

void MainWindow::setTopmost(bool onTop) {
  platform::setStaysOnTop(this, onTop);
}

std::string MainWindow::text(int number) const {
  QWidget* widget = control(number);
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text().toStdString();
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text().toStdString();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text().toStdString();
  if (auto* box = qobject_cast<QTextEdit*>(widget)) return box->toPlainText().toStdString();
  if (auto* list = qobject_cast<QComboBox*>(widget)) return list->currentText().toStdString();
  if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title().toStdString();
  return {};
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->accept();
    return;
  }
  // The program decides: the close request becomes an event.
  event->ignore();
  raise(UiEventKind::closeRequest, kMainWindow);
}

void MainWindow::closeForGood() {
  closing_ = true;
  close();
}

namespace {

// The list's own bytes: a name that is not UTF-8 would not survive QUrl.
std::vector<std::string> droppedPaths(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return {};
  const QByteArray list = data->data(QStringLiteral("text/uri-list"));
  return platform::localPathsOfUriList(
      std::string_view(list.constData(), static_cast<std::size_t>(list.size())));
}

}  // namespace

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!droppedPaths(event->mimeData()).empty() && (event->possibleActions() & Qt::CopyAction)) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
  } else {
    event->ignore();
  }
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
  if (!droppedPaths(event->mimeData()).empty()) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
  } else {
    event->ignore();
  }
}

void MainWindow::dropEvent(QDropEvent* event) {
  std::vector<std::string> paths = droppedPaths(event->mimeData());
  if (paths.empty()) {
    event->ignore();
    return;
  }
  event->setDropAction(Qt::CopyAction);
  event->accept();
  raise(UiEventKind::filesDropped, kMainWindow, std::move(paths));
}

}  // namespace pixmoor::app
