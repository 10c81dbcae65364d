// The decode helper's client, the engine's side of decoding in the helper
// (the helper's own is decode_helper/decode_session.h): a picture of a format
// that the registry marks as decoded in a helper process (image/picture_format.h)
// is read by the program pixmoor-decode, in a process of its own for that
// picture alone: a fork of the spawner (spawner_client.h).
//
// The helper gets the picture's open file as its descriptor 3 (never a
// path), a pipe carrying the engine's messages as its standard input, one
// carrying its own as its standard output, and nothing else open but the
// standard error (helper_program.h). It limits itself before it reads a byte of the picture
// (src/decode_helper: address space, CPU time, a seccomp filter) and
// converses as helper_protocol.h says; the engine reads its answers as
// hostile data. The engine waits on them in slices of kHelperWaitSlice,
// looking at the cancel flag between slices: a cancel kills the helper
// (SIGKILL through its pidfd) and waits for its end, so that a Stop is
// answered within that slice and the kill, even in the middle of a frame.
// So does a helper that has not finished within the picture's time (one
// that keeps still, stopped or deadlocked, or answers a byte at a time),
// and so does the end of every load: no helper outlives the call that
// started it (and one dies with the spawner, which dies with the engine).
//
// What a load answers: the helper's own answer (the picture, reduced as a
// reader of this process would reduce it and resampled as the batch would
// when it has alpha, so the bytes are the same; or the status of its
// refusal, `notConfined` when it could not confine itself); `cancelled`
// after a cancel; `timedOut` past the picture's time; `sandboxViolation`
// when its filter killed it; `damaged` when it died otherwise before its
// last message (a crash, an abort, its CPU limit) or sent anything
// malformed; `unsupported` when no helper program is found;
// `tooLargeForMemory` when it cannot be started for want of memory or
// processes.
//
// Where the program is: the path a test set (setDecodeHelperProgram), else
// beside the running executable (a build tree: pixmoor-batch and
// pixmoor-decode share a folder), else the installed one
// (PIXMOOR_DECODE_HELPER_INSTALLED: ../libexec/pixmoor/pixmoor-decode from
// the running executable's folder, wherever the installation was put).
// Any thread, each call with a helper of its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "image/loaded_picture.h"
#include "image/picture_format.h"

namespace pixmoor::image {

// The helper's CPU time: a 50-megapixel photo decodes in a few seconds; a
// file that makes a library spin is stopped here.
inline constexpr std::uint32_t kHelperCpuSeconds = 120;
// The time a helper has for its picture, from its start: the base, and once
// its header is known so much more per megapixel, at most kHelperMostTime.
// A 24-megapixel photo, which decodes in a second or two, gets 44 s: room
// for a slow and busy machine, and a bound on a helper that keeps still (a
// CPU limit does not end one that waits for ever).
struct HelperTimeLimits {
  std::chrono::milliseconds base{20'000};
  std::chrono::milliseconds perMegapixel{1'000};
};
inline constexpr std::chrono::seconds kHelperMostTime{300};
// How often a wait for the helper looks at the cancel flag.
inline constexpr std::chrono::milliseconds kHelperWaitSlice{20};

// Reads the picture of the regular file `fd` (of `fileSize` bytes) with the
// helper, as `format`'s reader would in this process, up to `upTo`.
LoadedPicture readInHelper(const FormatDescriptor& format, int fd, std::uint64_t fileSize,
                           const LoadRequest& request, ReadUpTo upTo);

// The time limits of every later load (tests: shorter ones).
void setHelperTimeLimits(HelperTimeLimits limits);

// The helper program every later load starts (tests: a variant of it);
// empty: found as above. Set before any load.
void setDecodeHelperProgram(std::string path);
// The program a load starts now; empty when there is none.
std::string decodeHelperProgram();

}  // namespace pixmoor::image
