// Descriptors through a seqpacket socket: they arrive as working copies,
// close-on-exec; a message with more than the receiver takes is not whole
// and leaks none; a closed peer reads as nothing.
#include "sandbox/descriptor_passing.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <vector>

namespace pixmoor::image {
namespace {

class SocketPair : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends_.data()), 0);
  }
  void TearDown() override {
    for (const int fd : ends_) {
      if (fd >= 0) ::close(fd);
    }
  }
  std::array<int, 2> ends_{-1, -1};
};

int openDescriptors() {
  int count = 0;
  for (int fd = 0; fd < 1024; ++fd) count += ::fcntl(fd, F_GETFD) >= 0 ? 1 : 0;
  return count;
}

TEST_F(SocketPair, DescriptorsArriveAsWorkingCopiesUpToWhatIsTaken) {
  std::array<int, 2> pipe{-1, -1};
  ASSERT_EQ(::pipe(pipe.data()), 0);
  const std::uint8_t byte = 'F';
  struct Row {
    std::vector<int> sent;
    std::size_t taken;
    bool whole;
  };
  const Row rows[] = {{{pipe[0], pipe[1]}, 2, true}, {{pipe[0], pipe[1], pipe[1]}, 2, false}, {{}, 2, true}};
  for (const Row& row : rows) {
    const int before = openDescriptors();
    ASSERT_TRUE(sendWithDescriptors(ends_[0], {&byte, 1}, row.sent));
    std::uint8_t got = 0;
    const ReceivedMessage message = receiveWithDescriptors(ends_[1], {&got, 1}, row.taken);
    EXPECT_EQ(message.bytes, 1u);
    EXPECT_EQ(got, byte);
    EXPECT_EQ(message.whole, row.whole) << row.sent.size();
    ASSERT_EQ(message.descriptors.size(), std::min(row.sent.size(), row.taken));
    for (const int fd : message.descriptors) EXPECT_EQ(::fcntl(fd, F_GETFD), FD_CLOEXEC);
    if (message.descriptors.size() == 2) {
      // The copies are the pipe's ends: what goes in one comes out of the other.
      ASSERT_EQ(::write(message.descriptors[1], "x", 1), 1);
      char read = 0;
      ASSERT_EQ(::read(message.descriptors[0], &read, 1), 1);
      EXPECT_EQ(read, 'x');
    }
    for (const int fd : message.descriptors) ::close(fd);
    EXPECT_EQ(openDescriptors(), before) << "a descriptor beyond those taken was kept";
  }
  ::close(pipe[0]);
  ::close(pipe[1]);
}

TEST_F(SocketPair, APeerThatClosedReadsAsNothing) {
  ::close(ends_[0]);
  ends_[0] = -1;
  std::uint8_t got = 0;
  const ReceivedMessage message = receiveWithDescriptors(ends_[1], {&got, 1}, 3);
  EXPECT_EQ(message.bytes, 0u);
  EXPECT_FALSE(message.whole);
  EXPECT_TRUE(message.descriptors.empty());
  const std::uint8_t byte = 'F';
  EXPECT_FALSE(sendWithDescriptors(ends_[1], {&byte, 1}, {}));
}

}  // namespace
}  // namespace pixmoor::image
