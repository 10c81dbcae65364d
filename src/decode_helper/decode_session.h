// One run of the decode helper program, pixmoor-decode: takes the engine's
// request from standard input, confines itself (confinement.h), reads the
// picture on descriptor 3 with the reader of the requested format and
// answers on standard output, as sandbox/helper_protocol.h says.
//
// The picture comes back as this process's own loader would make it and as
// the batch would resample it: reduced while decoded when its reader can
// (opaque pictures, resample/row_reducer.h), otherwise decoded whole and then
// resampled to the engine's target when that is a reduction (the area
// average without alpha, Mitchell with it), on one thread. So the bytes
// equal loading and resampling in one process, and the engine only ever
// holds the reduced picture.
//
// The shipped program and the tests' variant of it differ only in the
// readers they look up (`ReaderOf`). Runs on the process's main thread; the
// answer to a failure is a failure message, and a helper that cannot go on
// (a malformed request, a dead engine) ends without a last message.
#pragma once

#include <string_view>

#include "image/picture_format.h"

namespace pixmoor::decode_helper {

// The reader of the registry's format named so; null when there is none.
using ReaderOf = image::FormatReader (*)(std::string_view format);

// The process's exit status: 0 once a last message was sent.
int runDecodeSession(ReaderOf readerOf);

}  // namespace pixmoor::decode_helper
