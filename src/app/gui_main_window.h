// The main window: window 0 with its menu bar, shortcuts, 29 controls,
// balloon tips, the two mode layouts and the small operations the event
// handlers use to change what it shows.
//
// The window only shows and reports: every notification of a control, menu
// entry, shortcut, drop or close request becomes a platform::UiEvent handed
// to the dispatch function the program installs (none during creation).
// It reads the Settings it is given and changes them only in setFreeSize.
// Interface thread only.
#pragma once

#include <QColor>
#include <QFont>
#include <QMainWindow>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/gui_control_table.h"
#include "app_core/app_state.h"
#include "image_store/image_store.h"
#include "platform/object_table.h"
#include "platform/ui_event.h"
#include "settings/settings.h"
#include "texts/ui_texts.h"

class QAction;
class QShortcut;

namespace pixmoor::app {

struct WindowFonts {
  QFont large;   // "Arial black" 10
  QFont small;   // "Microsoft Sans Serif" 7
  QFont normal;  // "Microsoft Sans Serif" 9
};

// The three fonts by their family names.
WindowFonts loadWindowFonts();

// Colours of the window and its controls.
namespace colour {
inline const QColor gold{250, 215, 95};
inline const QColor black{0, 0, 0};
inline const QColor white{255, 255, 255};
inline const QColor darkGrey{51, 51, 51};
inline const QColor green{0, 255, 0};
inline const QColor qualityRed{255, 0, 0};
inline const QColor qualityDarkGreen{0, 170, 0};
}  // namespace colour

// Background of the quality number: red below 4, dark green from 4 to 7,
// green from 8.
QColor QualityColour(int quality);

struct WindowSetup {
  const AppState* state = nullptr;
  settings::Settings* settings = nullptr;
  const texts::UiTexts* texts = nullptr;
  WindowFonts fonts;
  image::ImageStore* pictures = nullptr;  // the logo (57) and menu icons (58-66)
  std::function<int()> screenDpi;         // horizontal logical dpi, read when needed
};

class MainWindow : public QMainWindow {
 public:
  explicit MainWindow(WindowSetup setup);
  ~MainWindow() override;

  // Builds and shows the whole window from the Settings.
  void create();
  void setDispatch(platform::UiDispatch dispatch) { dispatch_ = std::move(dispatch); }

  // Positions, sizes and visibility of the current mode, then its fonts.
  void applyModeLayout();
  // Stores both sizes into the free size and writes them into fields 16, 17.
  void setFreeSize(int width, int height);
  // Replaces the information area's text and centres its paragraphs.
  void showHelpText(const std::string& text);
  // The settings summary into the information area.
  void showSummary();
  // The pictures of the last batch that produced no file (failureListText)
  // into the information area, where they stay until something else is
  // shown there.
  void showFailureList(const std::string& text);
  bool showsFailureList() const { return showsFailureList_; }
  // How many texts the information area has been given so far: tells
  // whether anything replaced a text since it was shown.
  int infoAreaWrites() const { return infoAreaWrites_; }
  void setStatus(const std::string& text);
  // Puts a text into a one-line field (raising its change notification).
  void setFieldText(int number, const std::string& text);
  void setControlColours(int number, const QColor& text, const QColor& background);
  void setTopmost(bool onTop);
  // Closes the window without raising a close request (the program's end).
  void closeForGood();

  QWidget* control(int number) const { return controls_.find(number); }
  template <typename T>
  T* as(int number) const {
    return controls_.as<T>(number);
  }
  // Controls in creation order (also the Tab order).
  const std::vector<int>& creationOrder() const { return creationOrder_; }
  QAction* menuEntry(int number) const;
  // Shortcut key sequences and the command each raises.
  std::vector<std::pair<QString, int>> shortcutTable() const;
  int lastScreenDpi() const { return screenDpi_; }
  const WindowFonts& fonts() const { return setup_.fonts; }
  std::string text(int number) const;  // the text a control shows (UTF-8)

  void raise(platform::UiEventKind kind, int number, std::vector<std::string> paths = {});

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void createMenu();
  void addShortcuts();
  // The controls in the order of kControlTable, their contents, the mode
  // layout, colours and skins.
  void createControls();
  QWidget* makeControl(const ControlRow& row);
  void fillControls();
  void colourControls();
  // Positions, sizes and shown sets of the current mode; false (nothing
  // changed) for an unknown mode.
  bool placeModeControls();
  // The fonts of the two mode buttons, at creation or after a mode change.
  void setModeButtonFonts(bool atCreation);

  WindowSetup setup_;
  platform::UiDispatch dispatch_;
  QWidget* client_ = nullptr;
  platform::ObjectTable controls_;
  std::vector<int> creationOrder_;
  std::map<int, QAction*> menuEntries_;
  std::vector<std::pair<QShortcut*, int>> shortcuts_;
  QFont defaultFont_;
  bool hasDefaultFont_ = false;
  int screenDpi_ = 0;
  bool closing_ = false;
  bool showsFailureList_ = false;
  int infoAreaWrites_ = 0;
};

}  // namespace pixmoor::app
