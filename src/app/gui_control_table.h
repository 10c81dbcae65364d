// The main window's 29 controls as data: the number, kind, place, size, font
// and colours of each, in the order in which they are created (also the Tab
// order).
//
// MainWindow::create makes the controls by walking this table, and colours
// and skins them by its last column; what each shows at creation (texts,
// values, pictures) comes afterwards from the Settings and the texts. Tests
// compare the table with the live window. Constants; any thread.
#pragma once

#include <array>

#include "app/gui_numbers.h"

namespace pixmoor::app {

enum class ControlKind {
  dropDownList,     // not editable; the open list as wide as the control and tall enough for all entries
  picture,          // shows an Image of the store, from its top-left corner
  skinnedButton,    // a flat push button drawn by the program
  richTextBox,      // read-only, wraps at its width, paragraphs centred
  groupFrame,       // no caption
  optionButton,     // a radio button
  text,             // static text, vertically centred
  centredText,      // static text, centred both ways
  digitsField,      // one-line edit that takes digits only, centred
  valueField,       // one-line edit, read-only, centred, thin border
  borderlessField,  // one-line edit, read-only, centred, no border
  statusLine,       // a borderless field that elides a text too long for it
  trackBar,         // 0 to 10, a tick at every value
  checkBox,
};

enum class ControlFont {
  screenDefault,  // the default control font of the screen's resolution
  modeLayout,     // that font, then the one the mode layout gives the mode buttons
};

enum class ControlColours {
  system,
  skinned,  // the program's button faces, black caption
  blackOnGold,
  whiteOnBlack,
  whiteOnDarkGrey,
  greenOnBlack,
  blackOnQualityColour,  // QualityColour of the quality setting
};

struct ControlRow {
  int number;
  ControlKind kind;
  int x, y, width, height;  // client-area pixels below the menu bar
  ControlFont font;
  ControlColours colours;
};

// The mode buttons' row gives the tall shape; the mode layout moves the
// short one down (top 16, height 20).
inline constexpr std::array<ControlRow, 29> kControlTable = [] {
  using enum ControlKind;
  using enum ControlFont;
  using enum ControlColours;
  return std::array<ControlRow, 29>{{
      // clang-format off
      {control::presetList,         dropDownList,    115, 180, 100,  21, screenDefault, system},
      {control::logo,               picture,         222,   2, 275,  82, screenDefault, system},
      {control::relativeButton,     skinnedButton,     1,   2, 109,  34, modeLayout,    skinned},
      {control::freeButton,         skinnedButton,   111,   2, 109,  34, modeLayout,    skinned},
      {control::infoArea,           richTextBox,     223, 122, 275, 175, screenDefault, system},
      {control::stopButton,         skinnedButton,   226, 230, 269,  65, screenDefault, skinned},
      {control::formatFrame,        groupFrame,        1,  30, 220, 248, screenDefault, blackOnGold},
      {control::jpegOption,         optionButton,      8,  65,  70,  20, screenDefault, blackOnGold},
      {control::pngOption,          optionButton,    145,  65,  70,  20, screenDefault, blackOnGold},
      {control::formatTitleText,    centredText,       3,  42, 214,  19, screenDefault, whiteOnBlack},
      {control::qualityLabelText,   centredText,       5, 120, 208,  20, screenDefault, blackOnGold},
      {control::qualityValue,       valueField,      153,  94,  50,  22, screenDefault, blackOnQualityColour},
      {control::qualitySlider,      trackBar,          5,  87, 145,  29, screenDefault, blackOnGold},
      {control::sizeTitleText,      centredText,       3, 152, 214,  20, screenDefault, whiteOnBlack},
      {control::landscapeHintText,  text,              6, 175, 210,  20, screenDefault, blackOnGold},
      {control::landscapeLabelText, centredText,       3, 200, 147,  20, screenDefault, whiteOnDarkGrey},
      {control::landscapeField,     digitsField,     155, 200,  60,  20, screenDefault, system},
      {control::portraitHintText,   text,              6, 230, 210,  20, screenDefault, blackOnGold},
      {control::portraitLabelText,  centredText,       3, 253, 147,  20, screenDefault, whiteOnDarkGrey},
      {control::portraitField,      digitsField,     155, 253,  60,  20, screenDefault, system},
      {control::prefixLabelText,    text,            224,  98,  50,  20, screenDefault, blackOnGold},
      {control::prefixValue,        borderlessField, 276, 100,  60,  18, screenDefault, whiteOnDarkGrey},
      {control::changePrefixButton, skinnedButton,   343,  95, 154,  25, screenDefault, skinned},
      {control::freeWidthLabel,     centredText,       3, 180,  55,  20, screenDefault, blackOnGold},
      {control::freeHeightLabel,    centredText,       3, 205,  55,  20, screenDefault, blackOnGold},
      {control::freeWidthField,     digitsField,      60, 180,  50,  20, screenDefault, system},
      {control::freeHeightField,    digitsField,      60, 205,  50,  20, screenDefault, system},
      {control::onTopCheck,         checkBox,        230,  55, 220,  20, screenDefault, blackOnGold},
      {control::statusLine,         statusLine,        2, 281, 219,  16, screenDefault, greenOnBlack},
      // clang-format on
  }};
}();

}  // namespace pixmoor::app
