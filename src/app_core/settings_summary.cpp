#include "app_core/settings_summary.h"

namespace pixmoor::app {

std::string settingsSummary(const settings::Settings& settings, int desktopWidth, int desktopHeight,
                            const texts::UiTexts& texts) {
  std::string out = "\n";
  out += texts.screenResolutionPrefix + texts.widthLetter + " " + std::to_string(desktopWidth) + "    " +
         texts.heightLetter + " " + std::to_string(desktopHeight) + " <\n";

  std::string closingHint = "\n";
  if (settings.mode == settings::SizeMode::relative) {
    out += texts.modePrefix + texts.relativeWord + "\n";
    out += texts.sizesIntro + "\n";
    out += texts.sizePrefix + std::to_string(settings.landscapeWidth) + " px  x  " +
           std::to_string(settings.portraitHeight) + " px.\n";
    closingHint += texts.relativeModeHelp;
  } else {
    out += texts.modePrefix + texts.freeWord + "\n";
    out += texts.finalSizePrefix + std::to_string(settings.freeWidth) + " px   x " +
           std::to_string(settings.freeHeight) + " px \n";
    closingHint += texts.freeModeHelp;
  }

  out += texts.outputFormatPrefix + settings::outputFormatText(settings) + "\n";
  if (settings.format == settings::OutputFormat::jpeg) {
    out += texts.qualityPrefix + std::to_string(settings.quality) + " / 10\n";
  }
  out += closingHint;
  return out;
}

}  // namespace pixmoor::app
