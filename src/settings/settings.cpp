#include "settings/settings.h"

namespace pixmoor::settings {

Settings defaultSettings(int desktopWidth, int desktopHeight) {
  Settings s;
  s.freeWidth = low16(desktopWidth);
  s.freeHeight = low16(desktopHeight);
  s.landscapeWidth = desktopWidth;
  s.portraitHeight = desktopHeight;
  s.carriedFreeL = desktopWidth;
  s.carriedFreeH = desktopHeight;
  return s;
}

}  // namespace pixmoor::settings
