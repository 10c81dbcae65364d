// Starting decode helpers, the engine's side: one pixmoor-decode started
// with kSpawnerArgument stays beside the engine as the spawner, and each
// picture's helper is a fork of it. A fork costs a fraction of a
// millisecond where starting the program costs about ten (it links some
// forty libraries, and libde265 builds its tables before main), which on
// pictures that decode in a hundred milliseconds is a tenth of the work.
//
// The spawner is started on the first picture that needs a helper, with an
// empty environment, every signal at its default, in a process group of its
// own, with one end of a Unix seqpacket socket as its standard input and
// nothing else open but the standard error. It only ever forks: it parses
// no picture, so it needs no confinement; each fork confines itself before
// reading its picture, as a started helper did. It ends when the engine's
// end of the socket closes (the engine's exit, a crash or kill -9 included),
// and its helpers die with it (PR_SET_PDEATHSIG).
//
// One request at a time (a mutex): one byte, with the helper's request pipe,
// reply pipe and picture as SCM_RIGHTS. The answer is a SpawnAnswer; with
// error 0 it comes from the new helper itself and carries a pidfd of it,
// opened while it ran, so that a kill never reaches a process that reused
// its number. A spawner that fails to answer is killed and reaped, and the
// next request starts another. Any thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace pixmoor::image {

// The argument that makes pixmoor-decode the spawner.
inline constexpr const char* kSpawnerArgument = "--spawner";
// The byte of a request.
inline constexpr std::uint8_t kSpawnRequest = 'F';
// Where the helper finds what it was given.
inline constexpr int kHelperRequestFd = 0;
inline constexpr int kHelperReplyFd = 1;
inline constexpr int kHelperPictureFd = 3;

struct SpawnAnswer {
  std::int32_t pid = 0;
  std::int32_t error = 0;  // an errno; 0: started
};

// A started helper: its process id and a pidfd of it (close-on-exec), or
// the errno of why there is none.
struct SpawnedHelper {
  pid_t pid = -1;
  int pidfd = -1;
  int error = 0;
};

// Starts a helper of `program` with the three descriptors given (the caller
// keeps and closes its own copies).
SpawnedHelper spawnHelper(const std::string& program, int requestFd, int replyFd, int pictureFd);

// Kills the helper if it still runs, waits until it has ended, and closes
// its pidfd.
void endHelper(SpawnedHelper& helper);

}  // namespace pixmoor::image
