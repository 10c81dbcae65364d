// The numbers of the main window's controls and menu commands, and the
// lengths of the sound cues its handlers play.
//
// Every control, menu entry and shortcut is addressed by these numbers in
// events, in the object table and in tests. Constants; any thread.
#pragma once

namespace pixmoor::app {

inline constexpr int kMainWindow = 0;

// Lengths of the sound cue, in milliseconds. The end of a batch and Stop
// play the batch's own.
inline constexpr int kClickCueMilliseconds = 50;   // a mode, format, on-top or preset choice
inline constexpr int kAnswerCueMilliseconds = 60;  // the answer of the prefix command and the update check

namespace control {
inline constexpr int infoArea = 1;
inline constexpr int relativeButton = 5;
inline constexpr int freeButton = 6;
inline constexpr int stopButton = 7;
inline constexpr int formatFrame = 8;
inline constexpr int formatTitleText = 9;
inline constexpr int sizeTitleText = 10;
inline constexpr int landscapeLabelText = 11;
inline constexpr int portraitLabelText = 12;
inline constexpr int freeWidthLabel = 13;
inline constexpr int freeHeightLabel = 14;
inline constexpr int qualityLabelText = 15;
inline constexpr int freeWidthField = 16;
inline constexpr int freeHeightField = 17;
inline constexpr int landscapeField = 18;
inline constexpr int portraitField = 19;
inline constexpr int qualityValue = 20;
inline constexpr int qualitySlider = 21;
inline constexpr int statusLine = 22;
inline constexpr int presetList = 23;
inline constexpr int onTopCheck = 24;
inline constexpr int pngOption = 25;
inline constexpr int jpegOption = 26;
inline constexpr int landscapeHintText = 27;
inline constexpr int portraitHintText = 28;
inline constexpr int prefixLabelText = 29;
inline constexpr int changePrefixButton = 30;
inline constexpr int prefixValue = 31;
inline constexpr int logo = 56;
}  // namespace control

inline constexpr int kMenuBar = 32;

namespace command {
inline constexpr int about = 33;
inline constexpr int donate = 34;
inline constexpr int checkUpdate = 35;
inline constexpr int quit = 36;
inline constexpr int visitSite = 37;
inline constexpr int helpUsage = 38;
inline constexpr int helpFormats = 39;
inline constexpr int helpDonate = 40;
inline constexpr int helpResolution = 41;
inline constexpr int french = 42;
inline constexpr int english = 43;
inline constexpr int spanish = 44;
inline constexpr int dutch = 45;
inline constexpr int adjustToDesktop = 46;
inline constexpr int enterKey = 47;
inline constexpr int aboutKey = 49;
inline constexpr int donateKey = 50;
inline constexpr int checkUpdateKey = 51;
inline constexpr int quitKey = 52;
inline constexpr int visitSiteKey = 53;
inline constexpr int ballGame = 666;
}  // namespace command

// Images of the store shown by the window.
namespace picture {
inline constexpr int logo = 57;
inline constexpr int informationIcon = 58;
inline constexpr int donateIcon = 59;
inline constexpr int updateIcon = 60;
inline constexpr int visitIcon = 61;
inline constexpr int frenchIcon = 62;
inline constexpr int dutchIcon = 63;
inline constexpr int englishIcon = 64;
inline constexpr int spanishIcon = 65;
inline constexpr int desktopIcon = 66;
}  // namespace picture

}  // namespace pixmoor::app
