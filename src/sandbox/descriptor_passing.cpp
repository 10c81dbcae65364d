#include "sandbox/descriptor_passing.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pixmoor::image {

bool sendWithDescriptors(int socket, std::span<const std::uint8_t> bytes, std::span<const int> descriptors) {
  iovec part{const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
  std::vector<char> control(descriptors.empty() ? 0 : CMSG_SPACE(descriptors.size_bytes()));
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  if (!descriptors.empty()) {
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    cmsghdr* rights = CMSG_FIRSTHDR(&message);
    rights->cmsg_level = SOL_SOCKET;
    rights->cmsg_type = SCM_RIGHTS;
    rights->cmsg_len = CMSG_LEN(descriptors.size_bytes());
    std::memcpy(CMSG_DATA(rights), descriptors.data(), descriptors.size_bytes());
  }
  ssize_t sent = -1;
  while ((sent = ::sendmsg(socket, &message, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
  }
  return sent == static_cast<ssize_t>(bytes.size());
}

ReceivedMessage receiveWithDescriptors(int socket, std::span<std::uint8_t> into, std::size_t maxDescriptors) {
  ReceivedMessage received;
  iovec part{into.data(), into.size()};
  // Room for more than wanted, so that extra descriptors are seen and closed
  // rather than cut off unseen.
  std::vector<char> control(CMSG_SPACE((maxDescriptors + 1) * sizeof(int)));
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control.data();
  message.msg_controllen = control.size();
  ssize_t got = -1;
  while ((got = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
  }
  bool fits = (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) == 0;
  for (cmsghdr* rights = CMSG_FIRSTHDR(&message); got >= 0 && rights != nullptr;
       rights = CMSG_NXTHDR(&message, rights)) {
    if (rights->cmsg_level != SOL_SOCKET || rights->cmsg_type != SCM_RIGHTS) continue;
    const std::size_t count = (rights->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < count; ++i) {
      int fd = -1;
      std::memcpy(&fd, CMSG_DATA(rights) + i * sizeof(int), sizeof fd);
      if (received.descriptors.size() < maxDescriptors) {
        received.descriptors.push_back(fd);
      } else {
        ::close(fd);
        fits = false;
      }
    }
  }
  received.bytes = got > 0 ? static_cast<std::size_t>(got) : 0;
  received.whole = got > 0 && fits;
  return received;
}

}  // namespace pixmoor::image
