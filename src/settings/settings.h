// The Settings record: every choice that survives a restart.
//
// One instance lives in the application for the whole run. The interface
// thread changes fields and stores them at once (settings_store.h); a batch
// worker reads a copy taken at the start of each picture and never writes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pixmoor::settings {

// "MODE": "REL" relative, "LIB" free. Any other text names neither mode.
enum class SizeMode { relative, free, unknown };
// "TYPE": "JPG" or "PNG". Any other text names no format. WebP (lossy or
// lossless) and AVIF are pixmoor-batch's choices for one run: no "TYPE" text
// names them, so a file never gives them, and the window never sets them.
enum class OutputFormat { jpeg, png, webp, webpLossless, avif, unknown };

struct Settings {
  SizeMode mode = SizeMode::relative;        // "MODE"
  OutputFormat format = OutputFormat::jpeg;  // "TYPE"
  std::int32_t quality = 8;                  // "QUALITE": 0..10, handed unchanged to the JPEG writer
  std::int16_t freeWidth = 0;                // "L": free mode output width (low 16 bits, signed)
  std::int16_t freeHeight = 0;               // "H": free mode output height
  std::int32_t landscapeWidth = 0;           // "Taille_Paysage": relative mode, width of landscape pictures
  std::int32_t portraitHeight = 0;           // "Taille_Portrait": relative mode, height of portrait pictures
  std::int32_t carriedFreeL = 0;             // "FREE_L": read and written back, used nowhere else
  std::int32_t carriedFreeH = 0;             // "FREE_H": likewise
  std::int32_t alwaysOnTop = 1;              // "VISIBLE": non-zero keeps the main window on top
  std::string prefix = "prefix_";            // "PREFIX": "0" means no prefix
  std::string language = "FR";               // "LNG": "FR" or "UK"; anything else leaves the texts empty
  // The "MODE" and "TYPE" texts that named no choice, kept as read so that
  // the file gets them back unchanged; empty while the choice is known.
  std::string unknownModeText;
  std::string unknownFormatText;

  bool operator==(const Settings&) const = default;
};

// The choice a "MODE" or "TYPE" text names (exactly, in capitals), and back:
// a known choice gives its code, an unknown one the text it was read from.
SizeMode sizeModeNamed(std::string_view text);
OutputFormat outputFormatNamed(std::string_view text);
std::string sizeModeText(const Settings& settings);
std::string outputFormatText(const Settings& settings);
// Sets the choice from the text stored in the file.
void setSizeModeFromText(Settings& settings, std::string_view text);
void setOutputFormatFromText(Settings& settings, std::string_view text);

// The prefix put before output names: "0" stands for no prefix (the
// sources are replaced), whoever stored it.
std::string outputPrefix(const std::string& prefix);

// The record as a first run sees it, on a desktop of the given size.
Settings defaultSettings(int desktopWidth, int desktopHeight);

// Keeps the low 16 bits of a number, read back as signed.
constexpr std::int16_t low16(std::int64_t value) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint64_t>(value) & 0xFFFFu));
}

}  // namespace pixmoor::settings
