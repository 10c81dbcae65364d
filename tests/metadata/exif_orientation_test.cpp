// Reading the orientation tag: both byte orders, and hostile blocks that must
// answer 1 without reading outside them.
#include "metadata/exif_orientation.h"

#include <gtest/gtest.h>

#include <vector>

#include "codecs/decode_test_support.h"

namespace pixmoor::image {
namespace {

using decodetest::Bytes;
using decodetest::exifWithOrientation;

int orientationOf(const Bytes& block) {
  return exifOrientation(std::span(block.data(), block.size()));
}

TEST(ExifOrientation, ReadsEveryValueInBothByteOrders) {
  for (int value = 1; value <= 8; ++value) {
    EXPECT_EQ(orientationOf(exifWithOrientation(value, false)), value);
    EXPECT_EQ(orientationOf(exifWithOrientation(value, true)), value);
    EXPECT_EQ(orientationOf(exifWithOrientation(value, true, 5)), value);
  }
}

TEST(ExifOrientation, ValuesOutsideOneToEightMeanUpright) {
  EXPECT_EQ(orientationOf(exifWithOrientation(0, false)), 1);
  EXPECT_EQ(orientationOf(exifWithOrientation(9, true)), 1);
  EXPECT_EQ(orientationOf(exifWithOrientation(0x0106, false)), 1);
}

TEST(ExifOrientation, EveryPrefixIsSafe) {
  const Bytes whole = exifWithOrientation(6, true, 3);
  for (std::size_t n = 0; n < whole.size(); ++n) {
    // A copy of exactly n bytes, so that a read past its end is caught.
    const Bytes prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    const int got = orientationOf(prefix);
    EXPECT_TRUE(got == 1 || got == 6) << n;
  }
}

TEST(ExifOrientation, BrokenBlocksMeanUpright) {
  Bytes wrongMark = exifWithOrientation(6, false);
  wrongMark[0] = 'e';
  EXPECT_EQ(orientationOf(wrongMark), 1);

  Bytes wrongOrder = exifWithOrientation(6, false);
  wrongOrder[6] = 'I';
  wrongOrder[7] = 'M';
  EXPECT_EQ(orientationOf(wrongOrder), 1);

  Bytes wrongMagic = exifWithOrientation(6, false);
  wrongMagic[8] = 43;
  EXPECT_EQ(orientationOf(wrongMagic), 1);

  Bytes farDirectory = exifWithOrientation(6, true);
  farDirectory[10] = 0x7F;  // IFD offset far beyond the block
  EXPECT_EQ(orientationOf(farDirectory), 1);

  Bytes hugeCount = exifWithOrientation(6, false);
  hugeCount[14] = 0xFF;  // entry count 0x..FF: entries run past the end
  hugeCount[15] = 0xFF;
  const int got = orientationOf(hugeCount);
  EXPECT_TRUE(got == 6 || got == 1);

  Bytes wrongType = exifWithOrientation(6, false);
  wrongType[18] = 4;  // LONG instead of SHORT
  EXPECT_EQ(orientationOf(wrongType), 1);

  EXPECT_EQ(orientationOf(Bytes{}), 1);
}

TEST(ExifOrientation, SidesSwapForTheQuarterTurns) {
  for (int value = 1; value <= 8; ++value) EXPECT_EQ(orientationSwapsSides(value), value >= 5) << value;
}

}  // namespace
}  // namespace pixmoor::image
