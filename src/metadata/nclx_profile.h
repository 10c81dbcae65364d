// The colours of a picture that names them only by code points (ITU-T
// H.273: colour primaries and transfer characteristics, as a HEIF or AVIF
// "nclx" box or an AV1 sequence header gives them), as the ICC profile an
// output carries so that the colours survive: sRGB needs none, Display P3
// and the other gamuts and curves get one made with Little CMS, and HDR
// curves, which an 8-bit output cannot show, are refused.
//
// Pure function, any thread. Failures are values: a profile that cannot be
// made is answered as a refusal, never as the wrong colours.
#pragma once

#include <cstdint>
#include <vector>

namespace pixmoor::foreign {

// H.273 code points as the file gives them.
struct NclxColours {
  int primaries = 2;  // 2: unspecified
  int transfer = 2;
};

enum class NclxVerdict {
  sRgb,         // sRGB (or unspecified): no profile needed
  profile,      // `iccProfile` describes them
  unsupported,  // an HDR or logarithmic curve (PQ, HLG, ...): refused
};

struct NclxProfile {
  NclxVerdict verdict = NclxVerdict::sRgb;
  std::vector<std::uint8_t> iccProfile;  // an RGB matrix/TRC profile, with `profile` only
};

// The profile for those code points. Its bytes depend on the code points
// alone (the creation date is fixed), so that outputs are the same run after run.
NclxProfile profileForNclx(NclxColours colours);

}  // namespace pixmoor::foreign
