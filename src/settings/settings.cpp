#include "settings/settings.h"

namespace pixmoor::settings {

SizeMode sizeModeNamed(std::string_view text) {
  if (text == "REL") return SizeMode::relative;
  if (text == "LIB") return SizeMode::free;
  return SizeMode::unknown;
}

OutputFormat outputFormatNamed(std::string_view text) {
  if (text == "JPG") return OutputFormat::jpeg;
  if (text == "PNG") return OutputFormat::png;
  return OutputFormat::unknown;
}

std::string sizeModeText(const Settings& settings) {
  switch (settings.mode) {
    case SizeMode::relative:
      return "REL";
    case SizeMode::free:
      return "LIB";
    case SizeMode::unknown:
      break;
  }
  return settings.unknownModeText;
}

std::string outputFormatText(const Settings& settings) {
  switch (settings.format) {
    case OutputFormat::jpeg:
      return "JPG";
    case OutputFormat::png:
      return "PNG";
    case OutputFormat::webp:
    case OutputFormat::webpLossless:
      return "WEBP";
    case OutputFormat::avif:
      return "AVIF";
    case OutputFormat::unknown:
      break;
  }
  return settings.unknownFormatText;
}

void setSizeModeFromText(Settings& settings, std::string_view text) {
  settings.mode = sizeModeNamed(text);
  settings.unknownModeText = settings.mode == SizeMode::unknown ? std::string(text) : std::string();
}

void setOutputFormatFromText(Settings& settings, std::string_view text) {
  settings.format = outputFormatNamed(text);
  settings.unknownFormatText = settings.format == OutputFormat::unknown ? std::string(text) : std::string();
}

std::string outputPrefix(const std::string& prefix) {
  return prefix == "0" ? std::string() : prefix;
}

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
