// The main window's 29 controls as data: the number, kind, place, size, font
// and colours of each, in the order in which they are created (also the Tab
// order).
//
// MainWindow::create makes the controls by walking this table, and colours
// and skins them by its last column; what each shows at creation (texts,
// values, pictures) comes afterwards from the Settings and the texts. Tests
// compare the table with the live window. Constants; any thread.
#pragma once

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
inline constexpr ControlRow kControlTable[] = {
    // clang-format off
    {control::presetList,         ControlKind::dropDownList,    115, 180, 100,  21, ControlFont::screenDefault, ControlColours::system},
    {control::logo,               ControlKind::picture,         222,   2, 275,  82, ControlFont::screenDefault, ControlColours::system},
    {control::relativeButton,     ControlKind::skinnedButton,     1,   2, 109,  34, ControlFont::modeLayout,    ControlColours::skinned},
    {control::freeButton,         ControlKind::skinnedButton,   111,   2, 109,  34, ControlFont::modeLayout,    ControlColours::skinned},
    {control::infoArea,           ControlKind::richTextBox,     223, 122, 275, 175, ControlFont::screenDefault, ControlColours::system},
    {control::stopButton,         ControlKind::skinnedButton,   226, 230, 269,  65, ControlFont::screenDefault, ControlColours::skinned},
    {control::formatFrame,        ControlKind::groupFrame,        1,  30, 220, 248, ControlFont::screenDefault, ControlColours::blackOnGold},
    {control::jpegOption,         ControlKind::optionButton,      8,  65,  70,  20, ControlFont::screenDefault, ControlColours::blackOnGold},
    {control::pngOption,          ControlKind::optionButton,    145,  65,  70,  20, ControlFont::screenDefault, ControlColours::blackOnGold},
    {control::formatTitleText,    ControlKind::centredText,       3,  42, 214,  19, ControlFont::screenDefault, ControlColours::whiteOnBlack},
    {control::qualityLabelText,   ControlKind::centredText,       5, 120, 208,  20, ControlFont::screenDefault, ControlColours::blackOnGold},
    {control::qualityValue,       ControlKind::valueField,      153,  94,  50,  22, ControlFont::screenDefault, ControlColours::blackOnQualityColour},
    {control::qualitySlider,      ControlKind::trackBar,          5,  87, 145,  29, ControlFont::screenDefault, ControlColours::blackOnGold},
    {control::sizeTitleText,      ControlKind::centredText,       3, 152, 214,  20, ControlFont::screenDefault, ControlColours::whiteOnBlack},
    {control::landscapeHintText,  ControlKind::text,              6, 175, 210,  20, ControlFont::screenDefault, ControlColours::blackOnGold},
    {control::landscapeLabelText, ControlKind::centredText,       3, 200, 147,  20, ControlFont::screenDefault, ControlColours::whiteOnDarkGrey},
    {control::landscapeField,     ControlKind::digitsField,     155, 200,  60,  20, ControlFont::screenDefault, ControlColours::system},
    {control::portraitHintText,   ControlKind::text,              6, 230, 210,  20, ControlFont::screenDefault, ControlColours::blackOnGold},
    {control::portraitLabelText,  ControlKind::centredText,       3, 253, 147,  20, ControlFont::screenDefault, ControlColours::whiteOnDarkGrey},
    {control::portraitField,      ControlKind::digitsField,     155, 253,  60,  20, ControlFont::screenDefault, ControlColours::system},
    {control::prefixLabelText,    ControlKind::text,            224,  98,  50,  20, ControlFont::screenDefault, ControlColours::blackOnGold},
    {control::prefixValue,        ControlKind::borderlessField, 276, 100,  60,  18, ControlFont::screenDefault, ControlColours::whiteOnDarkGrey},
    {control::changePrefixButton, ControlKind::skinnedButton,   343,  95, 154,  25, ControlFont::screenDefault, ControlColours::skinned},
    {control::freeWidthLabel,     ControlKind::centredText,       3, 180,  55,  20, ControlFont::screenDefault, ControlColours::blackOnGold},
    {control::freeHeightLabel,    ControlKind::centredText,       3, 205,  55,  20, ControlFont::screenDefault, ControlColours::blackOnGold},
    {control::freeWidthField,     ControlKind::digitsField,      60, 180,  50,  20, ControlFont::screenDefault, ControlColours::system},
    {control::freeHeightField,    ControlKind::digitsField,      60, 205,  50,  20, ControlFont::screenDefault, ControlColours::system},
    {control::onTopCheck,         ControlKind::checkBox,        230,  55, 220,  20, ControlFont::screenDefault, ControlColours::blackOnGold},
    {control::statusLine,         ControlKind::statusLine,        2, 281, 219,  16, ControlFont::screenDefault, ControlColours::greenOnBlack},
    // clang-format on
};

}  // namespace pixmoor::app
