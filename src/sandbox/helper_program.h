// The decode helper program as both of its sides know it: the engine that
// starts it (spawner_client.h, decode_client.h) and the program itself
// (src/decode_helper). Its name, the argument that makes it the spawner,
// the spawner's one-byte messages and which descriptor carries what are
// defined here alone, so that the two sides cannot drift apart.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pixmoor::image {

// The program's file name: found beside the running program or installed
// under libexec (decode_client.h); also the name its forks run under.
inline constexpr const char* kHelperProgramName = "pixmoor-decode";
// The argument that makes pixmoor-decode the spawner.
inline constexpr const char* kSpawnerArgument = "--spawner";

// The spawner's standard input: its end of the engine's seqpacket socket
// (its output and error are /dev/null).
inline constexpr int kSpawnerSocketFd = 0;
// The byte of a request.
inline constexpr std::uint8_t kSpawnRequest = 'F';
// The spawner's first message, one byte: how the helpers it forks are confined.
inline constexpr std::uint8_t kConfinedByNamespaces = 'N';  // empty namespaces, then seccomp
inline constexpr std::uint8_t kConfinedBySeccomp = 'S';     // the kernel refused the namespaces

// A request's descriptors (SCM_RIGHTS), in this order: the helper's request
// pipe, reply pipe and picture, which the fork moves to the descriptors
// below, then the status pipe that the spawner keeps to tell the engine how
// the helper ended.
inline constexpr std::size_t kSpawnDescriptors = 4;
inline constexpr std::size_t kSpawnStatusPipe = 3;

// The spawner's answer to a request.
struct SpawnAnswer {
  std::int32_t pid = 0;
  std::int32_t error = 0;  // an errno; 0: started
};

// Where a started helper finds what it was given; nothing else is open.
inline constexpr int kHelperRequestFd = 0;  // the engine's messages
inline constexpr int kHelperReplyFd = 1;    // its own
inline constexpr int kHelperErrorFd = 2;    // the standard error, as it was
inline constexpr int kHelperPictureFd = 3;  // the picture's open file

}  // namespace pixmoor::image
