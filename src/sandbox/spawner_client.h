// The spawner's client, the engine's side of starting decode helpers (the
// spawner itself is decode_helper/spawner.h): one pixmoor-decode started
// with kSpawnerArgument stays beside the engine as the spawner, and each
// picture's helper is a fork of it. A fork costs a fraction of a
// millisecond where starting the program costs about ten (it links some
// forty libraries, and libde265 builds its tables before main), which on
// pictures that decode in a hundred milliseconds is a tenth of the work.
//
// The spawner is started on the first picture that needs a helper, in /,
// with an environment of one variable (glibc's huge pages for malloc: a
// fresh process per picture otherwise faults in every 4 KiB page of the
// decoder's buffers), every signal at its default, in a process group of
// its own, with one end of a Unix seqpacket socket as its standard input
// and /dev/null as its standard output and error: nothing a helper writes
// reaches the user's terminal or logs. It only ever forks: it parses no
// picture, so it needs no confinement; each fork confines itself before
// reading its picture. It ends when the engine's end of the socket closes
// (the engine's exit, a crash or kill -9 included), and its helpers die
// with it (PR_SET_PDEATHSIG).
//
// One request at a time (a mutex): one byte, with the helper's request pipe,
// reply pipe, picture and status pipe as SCM_RIGHTS (helper_program.h). The answer is a
// SpawnAnswer; with error 0 it comes from the new helper itself and carries
// a pidfd of it, opened while it ran, so that a kill never reaches a
// process that reused its number. The spawner keeps the status pipe: once
// it has reaped the helper it writes the wait status there, so the engine
// learns whether its filter killed it (SIGSYS) or it crashed. A spawner
// that fails to answer is killed and reaped, and the next request starts
// another.
//
// Where the kernel allows unprivileged user namespaces, the spawner enters a
// user, mount and network namespace of its own with an empty read-only root
// before it says it is ready (decode_helper/empty_namespaces.h); its first
// message says whether it did.
//
// Every fork shares the spawner's address layout and stack canary, so a
// helper that died by a signal (a crash, an abort, its filter: what a
// hostile file probing for a layout causes) retires its spawner: the next
// picture gets a fresh one, and the retired one ends once its last helper
// has. Any thread.
#pragma once

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <cstdint>
#include <string>

#include "image/raster.h"
#include "sandbox/helper_program.h"

namespace pixmoor::image {

enum class HelperSandbox { unknown, seccomp, namespacesAndSeccomp };

// A started helper: its process id, a pidfd of it and the read end of its
// status pipe (close-on-exec), or the errno of why there is none.
struct SpawnedHelper {
  pid_t pid = -1;
  int pidfd = -1;
  int statusFd = -1;
  int error = 0;
  std::uint64_t spawner = 0;  // which spawner forked it
};

// How a helper ended, as its parent saw it.
struct HelperEnding {
  bool known = false;  // false: the spawner died before it could tell
  int waitStatus = 0;  // as waitpid gives it

  bool bySignal(int signal) const {
    return known && WIFSIGNALED(waitStatus) && WTERMSIG(waitStatus) == signal;
  }
  // A crash, an abort, its filter: any signal but the kill that ends every helper.
  bool byItsOwnSignal() const { return known && WIFSIGNALED(waitStatus) && WTERMSIG(waitStatus) != SIGKILL; }
};

// Starts a helper of `program` with the three descriptors given (the caller
// keeps and closes its own copies). Waits for the spawner (and for another
// thread asking it) in slices that look at `cancel`: raised, it answers
// ECANCELED, and a spawner left in the middle of an answer is replaced.
SpawnedHelper spawnHelper(const std::string& program, int requestFd, int replyFd, int pictureFd,
                          const CancelFlag* cancel);

// How the helpers of the latest spawner are confined; unknown before the
// first helper of this process.
HelperSandbox helperSandbox();

// Kills the helper if it still runs, waits until it has ended and its
// spawner has told how (not past a cancel), and closes its descriptors.
HelperEnding endHelper(SpawnedHelper& helper, const CancelFlag* cancel);

}  // namespace pixmoor::image
