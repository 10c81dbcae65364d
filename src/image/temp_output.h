// Where the image writers put their bytes: a replacement of the files layer
// (files/replace_file.h), so that a saved picture appears whole or not at
// all, under the one replacement policy of the program. saveRaster makes and
// commits it; a writer only appends bytes.
#pragma once

#include "files/replace_file.h"

namespace pixmoor::image {

using TempOutput = files::FileReplacement;

}  // namespace pixmoor::image
