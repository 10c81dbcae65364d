// Messages with open descriptors over a Unix socket (SCM_RIGHTS): how the
// engine hands its spawner a picture's pipes and file, and how a helper
// hands the engine its pidfd (spawner_client.h). Received descriptors are
// close-on-exec. Any thread; EINTR is retried.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pixmoor::image {

// Sends `bytes` (not empty) with `descriptors`; false with errno set.
// Never raises SIGPIPE.
bool sendWithDescriptors(int socket, std::span<const std::uint8_t> bytes, std::span<const int> descriptors);

struct ReceivedMessage {
  std::size_t bytes = 0;         // 0: the other end has closed (or a failure)
  bool whole = false;            // neither the bytes nor the descriptors were cut
  std::vector<int> descriptors;  // the caller's to close
};

// Receives one message into `into`, with at most `maxDescriptors`
// descriptors (any beyond are closed, and the message is not whole).
ReceivedMessage receiveWithDescriptors(int socket, std::span<std::uint8_t> into, std::size_t maxDescriptors);

}  // namespace pixmoor::image
