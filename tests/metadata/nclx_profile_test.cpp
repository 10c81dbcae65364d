// Profiles made for colours given by code points, checked through Little
// CMS's own transforms against the published Display P3 to sRGB matrix and
// against the committed Display P3 profile; HDR curves refused.
#include "metadata/nclx_profile.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "isolated_readers/foreign_test_support.h"

namespace pixmoor::foreign {
namespace {

using Rgb = std::array<std::uint8_t, 3>;

// `colour` through a transform from `profile` to sRGB.
Rgb toSrgb(const std::vector<std::uint8_t>& profile, const Rgb& colour) {
  cmsHPROFILE from = cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size()));
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  cmsHTRANSFORM transform = cmsCreateTransform(from, TYPE_RGB_8, srgb, TYPE_RGB_8,
                                               INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
  Rgb out{};
  if (transform != nullptr) cmsDoTransform(transform, colour.data(), out.data(), 1);
  if (transform != nullptr) cmsDeleteTransform(transform);
  cmsCloseProfile(srgb);
  if (from != nullptr) cmsCloseProfile(from);
  return out;
}

double linear(double encoded) {
  return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
}

double encoded(double value) {
  return value <= 0.0031308 ? 12.92 * value : 1.055 * std::pow(value, 1 / 2.4) - 0.055;
}

using Matrix = double[3][3];

// Each colour through the profile equals the linear-light matrix to sRGB,
// both with the sRGB curve, within one level.
void expectMatrix(const std::vector<std::uint8_t>& profile, const Matrix& matrix) {
  for (const Rgb& colour : {Rgb{200, 150, 100}, Rgb{100, 120, 140}, Rgb{128, 128, 128}, Rgb{220, 90, 80},
                            Rgb{150, 160, 170}, Rgb{255, 255, 255}}) {
    const Rgb got = toSrgb(profile, colour);
    for (int c = 0; c < 3; ++c) {
      double sum = 0;
      for (int k = 0; k < 3; ++k) sum += matrix[c][k] * linear(colour[k] / 255.0);
      const double want = 255 * encoded(std::clamp(sum, 0.0, 1.0));
      EXPECT_NEAR(got[c], want, 1.0) << int{colour[0]} << " " << int{colour[1]} << " " << int{colour[2]}
                                     << " c" << c;
    }
  }
}

TEST(NclxProfile, DisplayP3MapsToSrgbAsThePublishedMatrix) {
  const NclxProfile p3 = profileForNclx({12, 13});
  ASSERT_EQ(p3.verdict, NclxVerdict::profile);
  constexpr Matrix kP3ToSrgb = {
      {1.2249401, -0.2249404, 0.0}, {-0.0420569, 1.0420571, 0.0}, {-0.0196376, -0.0786361, 1.0982735}};
  expectMatrix(p3.iccProfile, kP3ToSrgb);
  // The same as the profile the tests attach to JPEGs and PNGs, made apart from it.
  const test_support::Bytes committed = test_support::readFile(test_support::dataPath("icc/DisplayP3.icc"));
  ASSERT_FALSE(committed.empty());
  for (int r = 0; r < 256; r += 51)
    for (int g = 0; g < 256; g += 51)
      for (int b = 0; b < 256; b += 51) {
        const Rgb colour{static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                         static_cast<std::uint8_t>(b)};
        const Rgb ours = toSrgb(p3.iccProfile, colour), theirs = toSrgb(committed, colour);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(ours[c], theirs[c], 1) << r << " " << g << " " << b;
      }
}

TEST(NclxProfile, VerdictsByCodePoints) {
  struct Row {
    NclxColours colours;
    NclxVerdict verdict;
  };
  for (const Row& row : {Row{{1, 13}, NclxVerdict::sRgb},         // sRGB
                         Row{{2, 2}, NclxVerdict::sRgb},          // unspecified
                         Row{{1, 1}, NclxVerdict::profile},       // BT.709 curve
                         Row{{9, 1}, NclxVerdict::profile},       // BT.2020, SDR
                         Row{{9, 16}, NclxVerdict::unsupported},  // PQ
                         Row{{9, 18}, NclxVerdict::unsupported},  // HLG
                         Row{{10, 13}, NclxVerdict::unsupported}}) {
    const NclxProfile made = profileForNclx(row.colours);
    EXPECT_EQ(made.verdict, row.verdict) << row.colours.primaries << "/" << row.colours.transfer;
    EXPECT_EQ(made.iccProfile.empty(), row.verdict != NclxVerdict::profile);
  }
  // BT.2020's primaries with the sRGB curve (ITU-R BT.2087's matrix to BT.709).
  constexpr Matrix kBt2020ToSrgb = {
      {1.6605, -0.5876, -0.0728}, {-0.1246, 1.1329, -0.0083}, {-0.0182, -0.1006, 1.1187}};
  expectMatrix(profileForNclx({9, 13}).iccProfile, kBt2020ToSrgb);
}

}  // namespace
}  // namespace pixmoor::foreign
