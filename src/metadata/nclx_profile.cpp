#include "metadata/nclx_profile.h"

#include <lcms2.h>

#include <array>
#include <cstring>
#include <new>
#include <optional>
#include <string>

namespace pixmoor::foreign {
namespace {

struct Chromaticity {
  double x;
  double y;
};

struct Primaries {
  Chromaticity red, green, blue, white;
};

constexpr Chromaticity kD65{0.3127, 0.3290};
constexpr Chromaticity kIlluminantC{0.310, 0.316};
constexpr Chromaticity kDciWhite{0.314, 0.351};
constexpr Primaries kBt709{{0.640, 0.330}, {0.300, 0.600}, {0.150, 0.060}, kD65};

// H.273's colour primaries. Unspecified and reserved values say nothing and
// read as BT.709, sRGB's own; 10 (CIE XYZ itself) has no RGB profile.
enum class Gamut { sRgb, other, refused };

Gamut primariesOf(int code, Primaries& out) {
  switch (code) {
    case 4:
      out = {{0.67, 0.33}, {0.21, 0.71}, {0.14, 0.08}, kIlluminantC};
      return Gamut::other;
    case 5:
      out = {{0.64, 0.33}, {0.29, 0.60}, {0.15, 0.06}, kD65};
      return Gamut::other;
    case 6:
    case 7:
      out = {{0.630, 0.340}, {0.310, 0.595}, {0.155, 0.070}, kD65};
      return Gamut::other;
    case 8:
      out = {{0.681, 0.319}, {0.243, 0.692}, {0.145, 0.049}, kIlluminantC};
      return Gamut::other;
    case 9:
      out = {{0.708, 0.292}, {0.170, 0.797}, {0.131, 0.046}, kD65};
      return Gamut::other;
    case 10:
      return Gamut::refused;
    case 11:
      out = {{0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}, kDciWhite};
      return Gamut::other;
    case 12:
      out = {{0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}, kD65};
      return Gamut::other;
    case 22:
      out = {{0.630, 0.340}, {0.295, 0.605}, {0.155, 0.077}, kD65};
      return Gamut::other;
    default:
      out = kBt709;
      return Gamut::sRgb;
  }
}

// A Little CMS parametric curve: type 1 is Y = X^g; type 4 is
// Y = (aX + b)^g for X >= d, else cX (parameters g, a, b, c, d).
struct Curve {
  int type = 4;
  std::array<double, 5> parameters = {};
};

constexpr Curve kSrgbCurve{4, {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045}};
// The inverse of the BT.709 camera curve, which BT.601 and BT.2020 share.
constexpr Curve kBt709Curve{4, {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081}};

enum class Tone { sRgb, other, refused };

// H.273's transfer characteristics. Unspecified and reserved values read
// as sRGB; PQ and HLG (HDR) and the logarithmic curves are refused.
Tone transferOf(int code, Curve& out) {
  switch (code) {
    case 1:
    case 6:
    case 11:
    case 12:
    case 14:
    case 15:
      out = kBt709Curve;
      return Tone::other;
    case 4:
      out = {1, {2.2}};
      return Tone::other;
    case 5:
      out = {1, {2.8}};
      return Tone::other;
    case 7:
      out = {4, {1 / 0.45, 1 / 1.1115, 0.1115 / 1.1115, 1 / 4.0, 0.0913}};
      return Tone::other;
    case 8:
      out = {1, {1.0}};
      return Tone::other;
    case 9:
    case 10:
    case 16:
    case 17:
    case 18:
      return Tone::refused;
    default:
      out = kSrgbCurve;
      return Tone::sRgb;
  }
}

bool writeText(cmsHPROFILE profile, cmsTagSignature tag, const char* text) {
  cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
  if (mlu == nullptr) return false;
  const bool written = cmsMLUsetASCII(mlu, "en", "US", text) && cmsWriteTag(profile, tag, mlu);
  cmsMLUfree(mlu);
  return written;
}

// Little CMS stamps a profile with the time it was made; outputs should not
// change from one run to the next, so the date is fixed: 2000-01-01 0:00.
void fixCreationDate(std::vector<std::uint8_t>& bytes) {
  constexpr std::uint8_t kDate[12] = {0x07, 0xD0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0};
  constexpr std::size_t kDateOffset = 24;
  if (bytes.size() >= kDateOffset + sizeof kDate) std::memcpy(&bytes[kDateOffset], kDate, sizeof kDate);
}

std::vector<std::uint8_t> saved(cmsHPROFILE profile) {
  cmsUInt32Number size = 0;
  if (!cmsSaveProfileToMem(profile, nullptr, &size) || size == 0) return {};
  std::vector<std::uint8_t> bytes(size);
  if (!cmsSaveProfileToMem(profile, bytes.data(), &size) || size != bytes.size()) return {};
  fixCreationDate(bytes);
  return bytes;
}

std::vector<std::uint8_t> makeProfile(const Primaries& primaries, const Curve& curve,
                                      const std::string& name) {
  const cmsCIExyY white{primaries.white.x, primaries.white.y, 1.0};
  const cmsCIExyYTRIPLE colorants{{primaries.red.x, primaries.red.y, 1.0},
                                  {primaries.green.x, primaries.green.y, 1.0},
                                  {primaries.blue.x, primaries.blue.y, 1.0}};
  cmsToneCurve* tone = cmsBuildParametricToneCurve(nullptr, curve.type, curve.parameters.data());
  if (tone == nullptr) return {};
  cmsToneCurve* curves[3] = {tone, tone, tone};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &colorants, curves);
  cmsFreeToneCurve(tone);
  if (profile == nullptr) return {};
  std::vector<std::uint8_t> bytes;
  if (writeText(profile, cmsSigProfileDescriptionTag, name.c_str()) &&
      writeText(profile, cmsSigCopyrightTag, "No copyright, use freely"))
    bytes = saved(profile);
  cmsCloseProfile(profile);
  return bytes;
}

}  // namespace

NclxProfile profileForNclx(NclxColours colours) {
  Primaries primaries{};
  Curve curve{};
  const Gamut gamut = primariesOf(colours.primaries, primaries);
  const Tone tone = transferOf(colours.transfer, curve);
  if (gamut == Gamut::refused || tone == Tone::refused) return {NclxVerdict::unsupported, {}};
  if (gamut == Gamut::sRgb && tone == Tone::sRgb) return {NclxVerdict::sRgb, {}};
  // The phones' wide gamut under its usual name; the rest by code point.
  const std::string name = colours.primaries == 12 && tone == Tone::sRgb
                               ? "Display P3"
                               : "H.273 primaries " + std::to_string(colours.primaries) + ", transfer " +
                                     std::to_string(colours.transfer);
  try {
    std::vector<std::uint8_t> icc = makeProfile(primaries, curve, name);
    // A profile that could not be made would leave the colours wrong.
    if (icc.empty()) return {NclxVerdict::unsupported, {}};
    return {NclxVerdict::profile, std::move(icc)};
  } catch (const std::bad_alloc&) {
    return {NclxVerdict::unsupported, {}};
  }
}

}  // namespace pixmoor::foreign
