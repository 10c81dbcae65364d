// What a load of a picture is asked and what it answers, whether the
// picture is read in this process (codecs/load_picture.h) or in the decode helper
// (sandbox/decode_client.h): the one vocabulary of both, so that neither includes
// the other.
#pragma once

#include "image/decoded_picture.h"
#include "image/memory_budget.h"
#include "image/picture_format.h"

namespace pixmoor::image {

enum class LoadStatus {
  loaded,
  unreadable,         // not a regular file, or it could not be opened or read whole
  unknownFormat,      // no reader recognised the content (or its header was rejected)
  unsupported,        // recognised, but too large or unusable (a side above 32767)
  tooLargeForMemory,  // recognised, but the decode would exceed the memory budget, or memory ran out
  cancelled,          // the cancel flag was raised while the picture was read
  damaged,            // its decode helper crashed, broke its limits, or sent malformed data
  notConfined,        // its decode helper could not confine itself, so it never read the picture
  sandboxViolation,   // its decode helper was killed by its filter: it tried a call it may not make
  timedOut,           // its decode helper did not finish within the picture's time
  tooManyOpenFiles,   // the process has no descriptor left to read it with (its ulimit -n, or the system's)
};

struct LoadRequest {
  DecodeLimits limits;  // no budget and no cancel unless given (the batch gives its own)
  // The size the picture is going to be resampled to, asked once its header
  // is read: a picture that can be reduced while it is decoded then is.
  const ReduceTo* reduce = nullptr;
  FormatSet formats = FormatSet::window;  // whose readers may read it
};

struct LoadedPicture {
  LoadStatus status = LoadStatus::unreadable;
  // Loaded: the picture, upright (reduced when it was asked and could be),
  // with its size before any reduction, its source depth, its ICC profile
  // and `partial` when its data ended or broke before every row arrived
  // (the missing rows filled in). Otherwise empty, but for `source` and
  // `isIcon` when the header was taken.
  DecodedPicture picture;
  // The reader took the header: the plan saw what this load saw, and a
  // failure came from the pixel data (or a lack of memory) after it.
  bool headerTaken = false;
  HeaderFacts header;  // what it said, when it was taken
  // The file's size or modification time at the end of the read is not what
  // it was when it was opened: something wrote to it meanwhile (a download
  // still under way), so the picture may not be the file's.
  bool changedWhileRead = false;

  bool loaded() const { return status == LoadStatus::loaded; }
};

}  // namespace pixmoor::image
