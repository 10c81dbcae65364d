// The spawner: pixmoor-decode started once by the engine with
// image::kSpawnerArgument (sandbox/helper_program.h defines what both sides
// share; sandbox/spawner_client.h says why and how it is talked to). It waits
// for requests on its standard input and answers each with a fork: the fork
// takes the request's three descriptors as a started helper has them (0, 1
// and 3), sends the engine its process id and a pidfd of itself, and runs the
// decode session (decode_session.h), confining itself before it reads a byte
// of its picture. The spawner itself never reads a picture. It reaps its
// forks as they end, and they die with it; it ends when the engine closes its
// end of the socket, killing and reaping the forks still running.
//
// Single-threaded, so that a fork copies no lock some other thread held.
#pragma once

#include "decode_helper/decode_session.h"

namespace pixmoor::decode_helper {

// The spawner's loop; returns the process's exit status once the engine
// has gone.
int serveSpawns(ReaderOf readerOf);

// main() of pixmoor-decode and of its test variants: the spawner when asked
// for it, otherwise one session on the descriptors given.
int runHelperProgram(int argc, char** argv, ReaderOf readerOf);

}  // namespace pixmoor::decode_helper
