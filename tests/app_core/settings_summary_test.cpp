// The settings summary of the information area, compared byte for byte.

#include "app_core/settings_summary.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

namespace pixmoor::app {
namespace {

using settings::Settings;

constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();

struct SummaryRow {
  const char* name;
  const char* language;
  const char* mode;
  const char* format;
  std::int32_t quality;
  std::int32_t landscapeWidth;
  std::int32_t portraitHeight;
  std::int16_t freeWidth;
  std::int16_t freeHeight;
  int desktopWidth;
  int desktopHeight;
  const char* expected;
};

void PrintTo(const SummaryRow& row, std::ostream* os) {
  *os << row.name;
}

class SettingsSummaryTest : public ::testing::TestWithParam<SummaryRow> {};

TEST_P(SettingsSummaryTest, MatchesToTheByte) {
  const SummaryRow& row = GetParam();
  Settings s;
  settings::setSizeModeFromText(s, row.mode);
  settings::setOutputFormatFromText(s, row.format);
  s.quality = row.quality;
  s.landscapeWidth = row.landscapeWidth;
  s.portraitHeight = row.portraitHeight;
  s.freeWidth = row.freeWidth;
  s.freeHeight = row.freeHeight;
  s.language = row.language;
  const texts::UiTexts texts =
      texts::BuildUiTexts(row.language, "Pixmoor 2011 v", "1.4.1", "\n", row.desktopWidth, row.desktopHeight,
                          "http://www.pixmoor.example");
  EXPECT_EQ(settingsSummary(s, row.desktopWidth, row.desktopHeight, texts), std::string(row.expected));
}

INSTANTIATE_TEST_SUITE_P(
    French, SettingsSummaryTest,
    ::testing::Values(
        SummaryRow{"RelativeJpg", "FR", "REL", "JPG", 8, 1920, 1080, 1024, 768, 1920, 1080,
                   "\n"
                   " > R\xC3\xA9solution \xC3\xA9"
                   "cran : L 1920    H 1080 <\n"
                   "Mode : relatif\n"
                   "Les 2 tailles (larg/haut) s\xC3\xA9lectionn\xC3\xA9"
                   "es sont : \n"
                   "Taille : 1920 px  x  1080 px.\n"
                   "Format de sortie : JPG\n"
                   "Qualit\xC3\xA9 d'image : 8 / 10\n"
                   "\n"
                   "Le mode relatif permet un redimensionnement proportionel des images."},
        SummaryRow{"RelativePng", "FR", "REL", "PNG", 8, 800, 600, 1024, 768, 1280, 1024,
                   "\n"
                   " > R\xC3\xA9solution \xC3\xA9"
                   "cran : L 1280    H 1024 <\n"
                   "Mode : relatif\n"
                   "Les 2 tailles (larg/haut) s\xC3\xA9lectionn\xC3\xA9"
                   "es sont : \n"
                   "Taille : 800 px  x  600 px.\n"
                   "Format de sortie : PNG\n"
                   "\n"
                   "Le mode relatif permet un redimensionnement proportionel des images."},
        SummaryRow{"FreeJpg", "FR", "LIB", "JPG", 10, 800, 600, 1024, 768, 1920, 1080,
                   "\n"
                   " > R\xC3\xA9solution \xC3\xA9"
                   "cran : L 1920    H 1080 <\n"
                   "Mode : libre\n"
                   "Taille de l'image finale : 1024 px   x 768 px \n"
                   "Format de sortie : JPG\n"
                   "Qualit\xC3\xA9 d'image : 10 / 10\n"
                   "\n"
                   "Le mode libre permet un redimensionnement libre, l'image pourra \xC3\xAAtre "
                   "d\xC3\xA9"
                   "form\xC3\xA9"
                   "e."},
        SummaryRow{"FreePng", "FR", "LIB", "PNG", 0, 800, 600, 320, 240, 1024, 768,
                   "\n"
                   " > R\xC3\xA9solution \xC3\xA9"
                   "cran : L 1024    H 768 <\n"
                   "Mode : libre\n"
                   "Taille de l'image finale : 320 px   x 240 px \n"
                   "Format de sortie : PNG\n"
                   "\n"
                   "Le mode libre permet un redimensionnement libre, l'image pourra \xC3\xAAtre "
                   "d\xC3\xA9"
                   "form\xC3\xA9"
                   "e."}));

INSTANTIATE_TEST_SUITE_P(
    English, SettingsSummaryTest,
    ::testing::Values(SummaryRow{"RelativeJpg", "UK", "REL", "JPG", 0, 1366, 768, 1024, 768, 1366, 768,
                                 "\n"
                                 " > Screen resolution : W 1366    H 768 <\n"
                                 "Mode : relative\n"
                                 "Scaling based on the \n"
                                 "Size : 1366 px  x  768 px.\n"
                                 "Output format : JPG\n"
                                 "Image quality: 0 / 10\n"
                                 "\n"
                                 "The relative mode allows a proportional resizing images."},
                      SummaryRow{"RelativePng", "UK", "REL", "PNG", 8, 640, 480, 1024, 768, 1366, 768,
                                 "\n"
                                 " > Screen resolution : W 1366    H 768 <\n"
                                 "Mode : relative\n"
                                 "Scaling based on the \n"
                                 "Size : 640 px  x  480 px.\n"
                                 "Output format : PNG\n"
                                 "\n"
                                 "The relative mode allows a proportional resizing images."},
                      SummaryRow{"FreeJpg", "UK", "LIB", "JPG", 7, 640, 480, 2048, 1536, 2560, 1600,
                                 "\n"
                                 " > Screen resolution : W 2560    H 1600 <\n"
                                 "Mode : free\n"
                                 "Size of the ouput picture:2048 px   x 1536 px \n"
                                 "Output format : JPG\n"
                                 "Image quality: 7 / 10\n"
                                 "\n"
                                 "Free mode allows a free resizing, the image could be distorted."},
                      SummaryRow{"FreePng", "UK", "LIB", "PNG", 7, 640, 480, 1920, 1080, 1920, 1080,
                                 "\n"
                                 " > Screen resolution : W 1920    H 1080 <\n"
                                 "Mode : free\n"
                                 "Size of the ouput picture:1920 px   x 1080 px \n"
                                 "Output format : PNG\n"
                                 "\n"
                                 "Free mode allows a free resizing, the image could be distorted."}));

INSTANTIATE_TEST_SUITE_P(
    Unusual, SettingsSummaryTest,
    ::testing::Values(
        // Any mode other than "REL" reads as free mode.
        SummaryRow{"UnknownModeShowsFreeLines", "UK", "XYZ", "JPG", 8, 800, 600, 320, 240, 1920, 1080,
                   "\n"
                   " > Screen resolution : W 1920    H 1080 <\n"
                   "Mode : free\n"
                   "Size of the ouput picture:320 px   x 240 px \n"
                   "Output format : JPG\n"
                   "Image quality: 8 / 10\n"
                   "\n"
                   "Free mode allows a free resizing, the image could be distorted."},
        SummaryRow{"NegativeNumbersWithSign", "FR", "LIB", "JPG", -3, 800, 600, static_cast<std::int16_t>(-1),
                   static_cast<std::int16_t>(-32768), 0, 0,
                   "\n"
                   " > R\xC3\xA9solution \xC3\xA9"
                   "cran : L 0    H 0 <\n"
                   "Mode : libre\n"
                   "Taille de l'image finale : -1 px   x -32768 px \n"
                   "Format de sortie : JPG\n"
                   "Qualit\xC3\xA9 d'image : -3 / 10\n"
                   "\n"
                   "Le mode libre permet un redimensionnement libre, l'image pourra \xC3\xAAtre "
                   "d\xC3\xA9"
                   "form\xC3\xA9"
                   "e."},
        SummaryRow{"RelativeExtremes", "UK", "REL", "PNG", 8, kInt32Max, kInt32Min, 0, 0, 1, 1,
                   "\n"
                   " > Screen resolution : W 1    H 1 <\n"
                   "Mode : relative\n"
                   "Scaling based on the \n"
                   "Size : 2147483647 px  x  -2147483648 px.\n"
                   "Output format : PNG\n"
                   "\n"
                   "The relative mode allows a proportional resizing images."},
        // A format other than "JPG" is shown as stored and has no quality line;
        // "jpg" in lower case is not "JPG".
        SummaryRow{"OtherFormatNoQuality", "UK", "REL", "jpg", 8, 800, 600, 0, 0, 800, 600,
                   "\n"
                   " > Screen resolution : W 800    H 600 <\n"
                   "Mode : relative\n"
                   "Scaling based on the \n"
                   "Size : 800 px  x  600 px.\n"
                   "Output format : jpg\n"
                   "\n"
                   "The relative mode allows a proportional resizing images."},
        // No language texts: the numbers and separators remain.
        SummaryRow{"GermanHasNoLabels", "DE", "REL", "JPG", 8, 800, 600, 0, 0, 1920, 1080,
                   "\n"
                   " 1920     1080 <\n"
                   "\n"
                   "\n"
                   "800 px  x  600 px.\n"
                   "JPG\n"
                   "8 / 10\n"
                   "\n"},
        SummaryRow{"GermanFreePng", "DE", "LIB", "PNG", 8, 800, 600, 320, 240, 1920, 1080,
                   "\n"
                   " 1920     1080 <\n"
                   "\n"
                   "320 px   x 240 px \n"
                   "PNG\n"
                   "\n"}));

}  // namespace
}  // namespace pixmoor::app
