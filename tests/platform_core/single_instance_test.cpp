#include "platform_core/single_instance.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/child_wait.h"

namespace {

using pixmoor::testing::endChildWithin;
using pixmoor::testing::exitCodeOf;

// A probe process: its first output line is read through one pipe, and it
// holds the lock it got until the test closes the other, its input.
class Probe {
 public:
  explicit Probe(const std::string& name) {
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) return;
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(input[0], STDIN_FILENO);
      ::dup2(output[1], STDOUT_FILENO);
      ::execl(PIXMOOR_PROBE, PIXMOOR_PROBE, name.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
    input_ = input[1];
    output_ = ::fdopen(output[0], "r");
  }
  ~Probe() {
    letGo();
    if (output_ != nullptr) std::fclose(output_);
    if (pid_ > 0) endChildWithin(pid_, std::chrono::seconds(0));
  }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  std::string firstLine() {
    std::array<char, 64> line{};
    if (output_ == nullptr || std::fgets(line.data(), line.size(), output_) == nullptr) return {};
    std::string text = line.data();
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
  // Lets the probe end, and with it its lock.
  void letGo() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
  }
  // The exit code once it ended (-1: still running after a minute).
  int finish() {
    letGo();
    const int code = exitCodeOf(endChildWithin(pid_, std::chrono::seconds(60)));
    pid_ = -1;
    return code;
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  std::FILE* output_ = nullptr;
};

std::string uniqueName(const char* tag) {
  return std::string("Pixmoor test ") + tag + " " + std::to_string(::getpid());
}

// Both probes answer while the first still holds the lock, however slowly
// either of them starts.
TEST(SingleInstance, TwoProcessesStartedAtOnceExactlyOneKeepsRunning) {
  const std::string name = uniqueName("race");
  for (int round = 0; round < 5; ++round) {
    std::vector<std::unique_ptr<Probe>> probes;
    for (int i = 0; i < 2; ++i) probes.push_back(std::make_unique<Probe>(name));
    int first = 0, second = 0;
    for (auto& probe : probes) {
      const std::string line = probe->firstLine();
      first += line == "first";
      second += line == "second";
    }
    EXPECT_EQ(first, 1) << "round " << round;
    EXPECT_EQ(second, 1) << "round " << round;
    for (auto& probe : probes) EXPECT_EQ(probe->finish(), 0);  // the second copy ends silently with 0
  }
}

TEST(SingleInstance, LockIsFreedWhenTheFirstProcessEnds) {
  const std::string name = uniqueName("release");
  Probe a(name);
  EXPECT_EQ(a.firstLine(), "first");
  EXPECT_EQ(a.finish(), 0);
  Probe b(name);
  EXPECT_EQ(b.firstLine(), "first");
  EXPECT_EQ(b.finish(), 0);
}

TEST(SingleInstance, OtherVersionsRunSideBySide) {
  Probe a(uniqueName("v1.4.1"));
  EXPECT_EQ(a.firstLine(), "first");
  Probe b(uniqueName("v1.5.0"));  // while the other version holds its lock
  EXPECT_EQ(b.firstLine(), "first");
  EXPECT_EQ(b.finish(), 0);
  EXPECT_EQ(a.finish(), 0);
}

TEST(SingleInstance, SecondLockInTheSameProcessSeesTheFirst) {
  const std::string name = uniqueName("same process");
  pixmoor::platform::InstanceLock first;
  pixmoor::platform::InstanceLock second;
  EXPECT_EQ(first.acquire(name), pixmoor::platform::InstanceCheck::first);
  EXPECT_EQ(second.acquire(name), pixmoor::platform::InstanceCheck::alreadyRunning);
  // Released when the window closes: the next copy starts while this one ends.
  first.release();
  EXPECT_EQ(second.acquire(name), pixmoor::platform::InstanceCheck::first);
}

TEST(SingleInstance, NameWithSlashStaysInsideTheRuntimeFolder) {
  const std::string path = pixmoor::platform::instanceLockPath("a/../b");
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.substr(path.rfind('/') + 1), "a_.._b.lock");
}

}  // namespace
