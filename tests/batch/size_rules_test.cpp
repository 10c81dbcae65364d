// Target sizes in both modes and the cases that must not write a picture.

#include "batch/size_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

namespace pixmoor::batch {
namespace {

using settings::Settings;

constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();

const char* outcomeName(SizeOutcome outcome) {
  switch (outcome) {
    case SizeOutcome::resize:
      return "resize";
    case SizeOutcome::emptyPicture:
      return "emptyPicture";
    case SizeOutcome::nonPositiveSide:
      return "nonPositiveSide";
    case SizeOutcome::tooLarge:
      return "tooLarge";
  }
  return "?";
}

struct SizeRow {
  const char* name;
  const char* mode;
  std::int32_t landscapeWidth;
  std::int32_t portraitHeight;
  std::int16_t freeWidth;
  std::int16_t freeHeight;
  std::int32_t pictureWidth;
  std::int32_t pictureHeight;
  SizeOutcome outcome;
  std::int32_t width;
  std::int32_t height;
};

void PrintTo(const SizeRow& row, std::ostream* os) {
  *os << row.name;
}

Settings settingsFor(const SizeRow& row) {
  Settings s;
  settings::setSizeModeFromText(s, row.mode);
  s.landscapeWidth = row.landscapeWidth;
  s.portraitHeight = row.portraitHeight;
  s.freeWidth = row.freeWidth;
  s.freeHeight = row.freeHeight;
  return s;
}

class TargetSizeTest : public ::testing::TestWithParam<SizeRow> {};

TEST_P(TargetSizeTest, Computes) {
  const SizeRow& row = GetParam();
  const TargetSize got = targetSize(row.pictureWidth, row.pictureHeight, settingsFor(row));
  EXPECT_EQ(outcomeName(got.outcome), std::string(outcomeName(row.outcome)));
  EXPECT_EQ(got.width, row.width);
  EXPECT_EQ(got.height, row.height);
  EXPECT_EQ(got.writesPicture(), row.outcome == SizeOutcome::resize);
}

constexpr SizeOutcome kResize = SizeOutcome::resize;
constexpr SizeOutcome kEmpty = SizeOutcome::emptyPicture;
constexpr SizeOutcome kNonPositive = SizeOutcome::nonPositiveSide;
constexpr SizeOutcome kTooLarge = SizeOutcome::tooLarge;

INSTANTIATE_TEST_SUITE_P(
    Relative, TargetSizeTest,
    ::testing::Values(
        SizeRow{"Landscape4000x3000At800", "REL", 800, 600, 0, 0, 4000, 3000, kResize, 800, 600},
        SizeRow{"Portrait3000x4000At600", "REL", 800, 600, 0, 0, 3000, 4000, kResize, 450, 600},
        SizeRow{"LandscapeTruncates426_875", "REL", 640, 480, 0, 0, 1024, 683, kResize, 640, 426},
        SizeRow{"PortraitExact320", "REL", 640, 480, 0, 0, 683, 1024, kResize, 320, 480},
        SizeRow{"PortraitTruncates", "REL", 100, 100, 0, 0, 2, 3, kResize, 66, 100},
        SizeRow{"EnlargesSmallPicture", "REL", 1920, 1080, 0, 0, 640, 480, kResize, 1920, 1440},
        SizeRow{"FlatPictureGetsZeroHeight", "REL", 800, 600, 0, 0, 5000, 3, kNonPositive, 0, 0},
        SizeRow{"TallPictureGetsZeroWidth", "REL", 800, 600, 0, 0, 3, 5000, kNonPositive, 0, 0},
        // Only one side is fixed: the other follows the proportion and may
        // pass the other setting.
        SizeRow{"LandscapeHeightPassesPortraitSetting", "REL", 1000, 100, 0, 0, 2000, 1999, kResize, 1000,
                999},
        SizeRow{"PortraitWidthPassesLandscapeSetting", "REL", 10, 1000, 0, 0, 1000, 1001, kResize, 999, 1000},
        SizeRow{"OnePixelWiderIsLandscape", "REL", 300, 900, 0, 0, 101, 100, kResize, 300, 297},
        SizeRow{"ZeroLandscapeWidth", "REL", 0, 600, 0, 0, 4000, 3000, kNonPositive, 0, 0},
        SizeRow{"NegativeLandscapeWidth", "REL", -800, 600, 0, 0, 4000, 3000, kNonPositive, 0, 0},
        SizeRow{"NegativePortraitHeight", "REL", 800, -1, 0, 0, 3000, 4000, kNonPositive, 0, 0},
        SizeRow{"LargestSideAllowed", "REL", 32767, 600, 0, 0, 4000, 3000, kResize, 32767, 24575},
        SizeRow{"SettingAboveLargestSide", "REL", 32768, 600, 0, 0, 4000, 3000, kTooLarge, 0, 0},
        SizeRow{"HugeLandscapeWidth", "REL", 100000, 600, 0, 0, 4000, 3000, kTooLarge, 0, 0},
        // 32766 * 2147483647 needs 46 bits; a 32-bit product would wrap.
        SizeRow{"ProductBeyond32Bits", "REL", kInt32Max, 600, 0, 0, 32767, 32766, kTooLarge, 0, 0},
        SizeRow{"PortraitProductBeyond32Bits", "REL", 600, kInt32Max, 0, 0, 32766, 32767, kTooLarge, 0, 0},
        SizeRow{"MostNegativeSetting", "REL", kInt32Min, 600, 0, 0, 32767, 32766, kNonPositive, 0, 0}));

INSTANTIATE_TEST_SUITE_P(
    Square, TargetSizeTest,
    ::testing::Values(
        SizeRow{"SquareTakesSmallerPortraitHeight", "REL", 800, 600, 0, 0, 500, 500, kResize, 600, 600},
        SizeRow{"SquareTakesSmallerLandscapeWidth", "REL", 300, 600, 0, 0, 500, 500, kResize, 300, 300},
        SizeRow{"SquareEqualSettings", "REL", 640, 640, 0, 0, 3000, 3000, kResize, 640, 640},
        SizeRow{"OnePixelSquareEnlarged", "REL", 1920, 1080, 0, 0, 1, 1, kResize, 1080, 1080},
        SizeRow{"SquareWithZeroSettingTakesTheOther", "REL", 800, 0, 0, 0, 500, 500, kResize, 800, 800},
        SizeRow{"SquareWithZeroLandscapeTakesPortrait", "REL", 0, 300, 0, 0, 500, 500, kResize, 300, 300},
        SizeRow{"SquareWithNegativeSettingTakesTheOther", "REL", -5, 600, 0, 0, 500, 500, kResize, 600, 600},
        SizeRow{"SquareWithNeitherSet", "REL", 0, -5, 0, 0, 500, 500, kNonPositive, 0, 0},
        SizeRow{"SquareIgnoresHugeOtherSetting", "REL", kInt32Max, 5000, 0, 0, 32767, 32767, kResize, 5000,
                5000},
        SizeRow{"SquareBothHuge", "REL", 40000, 50000, 0, 0, 100, 100, kTooLarge, 0, 0}));

INSTANTIATE_TEST_SUITE_P(
    Free, TargetSizeTest,
    ::testing::Values(
        SizeRow{"FreeLandscape", "LIB", 800, 600, 320, 240, 4000, 3000, kResize, 320, 240},
        SizeRow{"FreePortraitIsDistorted", "LIB", 800, 600, 320, 240, 3000, 4000, kResize, 320, 240},
        SizeRow{"FreeSquare", "LIB", 800, 600, 320, 240, 500, 500, kResize, 320, 240},
        SizeRow{"FreeEnlargesTinyPicture", "LIB", 800, 600, 1920, 1080, 1, 1, kResize, 1920, 1080},
        SizeRow{"FreeLargest", "LIB", 0, 0, 32767, 32767, 10, 10, kResize, 32767, 32767},
        SizeRow{"FreeIgnoresRelativeSettings", "LIB", -1, -1, 64, 48, 4000, 3000, kResize, 64, 48},
        // 0xFFFF read back as a 16-bit field is -1, not 65535.
        SizeRow{"FreeWidthAllOnesIsMinusOne", "LIB", 800, 600, static_cast<std::int16_t>(-1), 240, 4000, 3000,
                kNonPositive, 0, 0},
        SizeRow{"FreeHeightMostNegative", "LIB", 800, 600, 320, static_cast<std::int16_t>(-32768), 4000, 3000,
                kNonPositive, 0, 0},
        SizeRow{"FreeZeroWidth", "LIB", 800, 600, 0, 240, 4000, 3000, kNonPositive, 0, 0},
        SizeRow{"FreeZeroHeight", "LIB", 800, 600, 320, 0, 4000, 3000, kNonPositive, 0, 0}));

INSTANTIATE_TEST_SUITE_P(
    UnknownMode, TargetSizeTest,
    ::testing::Values(
        SizeRow{"LowerCaseRelKeepsOwnSize", "rel", 800, 600, 320, 240, 4000, 3000, kResize, 4000, 3000},
        SizeRow{"LowerCaseLibKeepsOwnSize", "lib", 800, 600, 320, 240, 683, 1024, kResize, 683, 1024},
        SizeRow{"EmptyModeKeepsOwnSize", "", 800, 600, 320, 240, 500, 500, kResize, 500, 500},
        SizeRow{"OtherTextKeepsOwnSize", "RELATIVE", 800, 600, 320, 240, 32767, 1, kResize, 32767, 1},
        SizeRow{"TrailingSpaceIsUnknown", "REL ", 800, 600, 320, 240, 123, 45, kResize, 123, 45}));

INSTANTIATE_TEST_SUITE_P(
    PictureOutOfRange, TargetSizeTest,
    ::testing::Values(SizeRow{"NoPictureRelative", "REL", 800, 600, 320, 240, 0, 0, kEmpty, 0, 0},
                      SizeRow{"NoPictureFree", "LIB", 800, 600, 320, 240, 0, 0, kEmpty, 0, 0},
                      SizeRow{"NoPictureUnknownMode", "X", 800, 600, 320, 240, 0, 0, kEmpty, 0, 0},
                      SizeRow{"ZeroWidth", "REL", 800, 600, 320, 240, 0, 100, kEmpty, 0, 0},
                      SizeRow{"NegativeHeight", "REL", 800, 600, 320, 240, 100, -3, kEmpty, 0, 0},
                      SizeRow{"WiderThanAPictureCanBe", "REL", 800, 600, 320, 240, 32768, 100, kEmpty, 0, 0},
                      SizeRow{"TallerThanAPictureCanBe", "LIB", 800, 600, 320, 240, 10, kInt32Max, kEmpty, 0,
                              0}));

TEST(TargetSize, LeavesTheSettingsAlone) {
  Settings s;
  s.mode = settings::SizeMode::relative;
  s.landscapeWidth = 800;
  s.portraitHeight = 600;
  const Settings before = s;
  EXPECT_EQ(targetSize(4000, 3000, s), (TargetSize{SizeOutcome::resize, 800, 600}));
  EXPECT_EQ(s, before);
}

// A square picture does not depend on the picture before it.
TEST(TargetSize, SquareDoesNotRememberThePreviousPicture) {
  Settings s;
  s.mode = settings::SizeMode::relative;
  s.landscapeWidth = 800;
  s.portraitHeight = 600;
  EXPECT_EQ(targetSize(4000, 3000, s), (TargetSize{SizeOutcome::resize, 800, 600}));
  EXPECT_EQ(targetSize(1000, 1000, s), (TargetSize{SizeOutcome::resize, 600, 600}));
  EXPECT_EQ(targetSize(3000, 4000, s), (TargetSize{SizeOutcome::resize, 450, 600}));
  EXPECT_EQ(targetSize(1000, 1000, s), (TargetSize{SizeOutcome::resize, 600, 600}));
}

// The companion's sizes, each against a hand-computed answer.
struct ChoiceRow {
  const char* name;
  SizeChoice choice;
  std::int32_t pictureWidth;
  std::int32_t pictureHeight;
  TargetSize expected;
};

void PrintTo(const ChoiceRow& row, std::ostream* os) {
  *os << row.name;
}

class CompanionSizeTest : public ::testing::TestWithParam<ChoiceRow> {};

TEST_P(CompanionSizeTest, Computes) {
  const ChoiceRow& row = GetParam();
  // The settings' own mode says 640 wide: none of these rows may use it.
  Settings s;
  s.mode = settings::SizeMode::relative;
  s.landscapeWidth = 640;
  s.portraitHeight = 480;
  EXPECT_EQ(targetSize(row.pictureWidth, row.pictureHeight, s, row.choice), row.expected);
}

constexpr SizeRule kFit = SizeRule::fit;
constexpr SizeRule kScale = SizeRule::scale;
constexpr SizeRule kLong = SizeRule::longEdge;
constexpr SizeChoice fit(std::int32_t w, std::int32_t h, bool shrink = false) {
  return {.rule = kFit, .width = w, .height = h, .shrinkOnly = shrink};
}
constexpr SizeChoice scale(std::int32_t percent) {
  return {.rule = kScale, .percent = percent};
}
constexpr SizeChoice longEdge(std::int32_t edge, bool shrink = false) {
  return {.rule = kLong, .longEdge = edge, .shrinkOnly = shrink};
}
constexpr TargetSize sized(std::int32_t w, std::int32_t h) {
  return {kResize, w, h};
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CompanionSizeTest,
    ::testing::Values(
        // Relative mode keeps its truncation: 1024 x 683 at 640 gives 426.
        ChoiceRow{"ShrinkOnlyRelativeLarge", {.shrinkOnly = true}, 1024, 683, sized(640, 426)},
        ChoiceRow{"ShrinkOnlyRelativeSmall", {.shrinkOnly = true}, 320, 200, sized(320, 200)},
        ChoiceRow{"RelativeEnlargesWithout", {}, 320, 200, sized(640, 400)},
        ChoiceRow{"ShrinkOnlyExactlyTheTarget", fit(800, 600, true), 800, 600, sized(800, 600)},
        ChoiceRow{"ShrinkOnlyOneSideOver", fit(800, 600, true), 801, 300, sized(800, 300)},
        // 1024 x 683 into 640 x 640: 683 * 640 / 1024 = 426.875, rounded 427.
        ChoiceRow{"FitWidthFirst", fit(640, 640), 1024, 683, sized(640, 427)},
        ChoiceRow{"FitHeightFirst", fit(1000, 300), 1024, 683, sized(450, 300)},
        ChoiceRow{"FitEnlarges", fit(2000, 2000), 100, 50, sized(2000, 1000)},
        ChoiceRow{"FitSquareBox", fit(500, 500), 3000, 3000, sized(500, 500)},
        ChoiceRow{"FitFloorsAtOnePixel", fit(100, 100), 10000, 10, sized(100, 1)},
        ChoiceRow{"Scale50", scale(50), 1001, 667, sized(501, 334)},
        // 1000 * 33 / 100 = 330; 667 * 0.33 = 220.11.
        ChoiceRow{"Scale33", scale(33), 1000, 667, sized(330, 220)},
        ChoiceRow{"ScaleHalfRoundsUp", scale(50), 3, 1, sized(2, 1)},
        ChoiceRow{"ScaleFloorsAtOnePixel", scale(1), 40, 3, sized(1, 1)},
        ChoiceRow{"ScaleTooLarge", scale(1000), 4000, 30, {SizeOutcome::tooLarge, 0, 0}},
        ChoiceRow{"LongEdgeLandscape", longEdge(1600), 4000, 3000, sized(1600, 1200)},
        // 1999 * 1600 / 3000 = 1066.13.
        ChoiceRow{"LongEdgePortrait", longEdge(1600), 1999, 3000, sized(1066, 1600)},
        ChoiceRow{"LongEdgeSquare", longEdge(99), 1000, 1000, sized(99, 99)},
        ChoiceRow{"LongEdgeFloorsAtOnePixel", longEdge(10), 30000, 20, sized(10, 1)},
        ChoiceRow{"LongEdgeShrinkOnlySmall", longEdge(1600, true), 1200, 900, sized(1200, 900)},
        ChoiceRow{"LongEdgeShrinkOnlyLarge", longEdge(1600, true), 1200, 1700, sized(1129, 1600)},
        ChoiceRow{"NoPicture", longEdge(100), 0, 10, {SizeOutcome::emptyPicture, 0, 0}}));

}  // namespace
}  // namespace pixmoor::batch
