// Signals and a closed output, for the command-line companion.
//
// A batch in a terminal or a pipeline must end the way the user asked:
// SIGINT (Ctrl+C), SIGTERM and SIGHUP (the terminal went away) only raise a
// flag, which the companion's main loop turns into a Stop and a plan polls
// (between pictures, and in its decodes as their cancel flag); SIGPIPE is
// ignored, so that printing into a pipe whose reader has gone
// (`pixmoor-batch ... | head -1`) fails with EPIPE instead of killing the
// batch half-way. A failed write ends printing to that stream for good;
// the pictures are still processed and the exit status is as documented.
// The handling is installed before anything is read, in every mode; a
// signal that arrived earlier while the caller kept it blocked is then
// answered as a Stop, and one the caller ignores stays ignored.
#pragma once

#include <chrono>
#include <cstdio>
#include <string_view>

#include "image/raster.h"

namespace pixmoor::batch {

// How long the companion waits for the batch's threads after a Stop before
// it ends without them (a read stuck on a hung network mount).
inline constexpr std::chrono::milliseconds kConsoleEndWait{2000};

// Main thread, once, first thing (before any other thread starts).
void installConsoleSignals();

// True once SIGINT, SIGTERM or SIGHUP arrived.
bool stopSignalled();
// The same as a cancel flag, for the decodes of a plan.
const image::CancelFlag* stopSignalFlag();

// Writes `text` to `stream` (stdout or stderr) and flushes it, unless an
// earlier write to it failed; answers whether it was written. Callers keep
// their own writes to one stream in order (any thread).
bool print(std::FILE* stream, std::string_view text);

}  // namespace pixmoor::batch
