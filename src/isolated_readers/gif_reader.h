// The GIF reader over giflib 5.2: the first frame as a viewer shows it, on
// its logical screen.
//
// The picture has the logical screen's size; the first frame is placed at
// its offset (clipped to the screen) and every pixel it leaves uncovered is
// transparent, as browsers and desktop viewers show a GIF's background in
// practice (the background colour index is ignored). The frame's local
// palette wins over the global one; a GIF without any palette reads its
// indices as grey levels; an index beyond the palette is black. A picture
// with a transparent index, or whose frame does not cover the screen, is
// 32-bit with straight alpha; any other is 24-bit, and is reduced while it
// is decoded when asked (interlaced frames through their indices, one byte a
// pixel). An ICC profile in an "ICCRGBG1012" application extension before
// the frame is carried. Data that ends or breaks inside the frame gives the
// rows decoded so far, the others zero, and `partial`.
//
// Lines are read one at a time (DGifGetLine), never the whole file
// (DGifSlurp); the file is read through the PictureInput. Before a pixel is
// decoded, what the decode will hold is counted against the budget: the
// raster (or the reducer), one frame line, the indices of an interlaced
// frame, and giflib's own state. A read may run on any thread; each call
// owns everything it uses. Failures are values.
#pragma once

#include "image/picture_format.h"

namespace pixmoor::foreign {

image::Reading readGif(image::PictureInput& input, const image::DecodeLimits& limits,
                       const image::ReduceTo* reduce, image::ReadUpTo upTo);

}  // namespace pixmoor::foreign
