// The PNG writer: B G R (A) rows to a PNG file through libpng 1.6 and zlib.
//
// True colour for every depth but 1, 2, 4 and 8: 8 bits per channel, colour
// type 2 from 24-bit rows, 6 (straight alpha kept) from 32-bit rows. For a
// depth of 1, 2, 4 or 8 the picture is reduced with the PaletteQuantizer to
// 2^depth colours and written as colour type 3 with a full PLTE of 2^depth
// entries (the palette's alpha dropped, no tRNS), a gAMA chunk holding
// 180000, and packed rows with the first pixel in the high bits.
// True-colour output carries the picture's ICC profile (RowSource) as an
// iCCP chunk; palette output writes none.
// Rows use the "none" filter only, deflated at zlib level 9, not interlaced.
//
// Library and write errors become WriteFailed at the edge of this module;
// the cancel flag is looked at before each row. Reentrant.
#pragma once

#include "encoders/encoder_registry.h"

namespace pixmoor::image {

// The gAMA value written with palette output (the chunk's 32-bit field).
inline constexpr unsigned kPaletteGamma = 180000;

// 24-bit rows: colour type 2, or a palette for depth 1, 2, 4, 8.
SaveStatus writePngRgb(TempOutput& out, const RowSource& rows, int quality, int depth,
                       const CancelFlag* cancel);
// 32-bit rows: colour type 6, or a palette for depth 1, 2, 4, 8.
SaveStatus writePngRgba(TempOutput& out, const RowSource& rows, int quality, int depth,
                        const CancelFlag* cancel);

}  // namespace pixmoor::image
