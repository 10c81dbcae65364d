#include "platform_core/single_instance.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

// A probe process whose first output line is read through a pipe.
struct Probe {
  FILE* out = nullptr;
  std::string firstLine() {
    std::array<char, 64> line{};
    if (std::fgets(line.data(), line.size(), out) == nullptr) return {};
    std::string text = line.data();
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
  int finish() { return WEXITSTATUS(pclose(out)); }
};

Probe startProbe(const std::string& name, int holdMs) {
  const std::string command = std::string("'") + PIXMOOR_PROBE + "' '" + name + "' " + std::to_string(holdMs);
  return Probe{popen(command.c_str(), "r")};
}

std::string uniqueName(const char* tag) {
  return std::string("Pixmoor test ") + tag + " " + std::to_string(::getpid());
}

TEST(SingleInstance, TwoProcessesStartedAtOnceExactlyOneKeepsRunning) {
  const std::string name = uniqueName("race");
  for (int round = 0; round < 5; ++round) {
    std::vector<Probe> probes;
    for (int i = 0; i < 2; ++i) probes.push_back(startProbe(name, 1500));
    int first = 0, second = 0;
    std::vector<int> codes;
    for (auto& probe : probes) {
      const std::string line = probe.firstLine();
      first += line == "first";
      second += line == "second";
    }
    for (auto& probe : probes) codes.push_back(probe.finish());
    EXPECT_EQ(first, 1) << "round " << round;
    EXPECT_EQ(second, 1) << "round " << round;
    for (int code : codes) EXPECT_EQ(code, 0);  // the second copy ends silently with 0
  }
}

TEST(SingleInstance, LockIsFreedWhenTheFirstProcessEnds) {
  const std::string name = uniqueName("release");
  Probe a = startProbe(name, 0);
  EXPECT_EQ(a.firstLine(), "first");
  EXPECT_EQ(a.finish(), 0);
  Probe b = startProbe(name, 0);
  EXPECT_EQ(b.firstLine(), "first");
  EXPECT_EQ(b.finish(), 0);
}

TEST(SingleInstance, OtherVersionsRunSideBySide) {
  Probe a = startProbe(uniqueName("v1.4.1"), 800);
  Probe b = startProbe(uniqueName("v1.5.0"), 0);
  EXPECT_EQ(a.firstLine(), "first");
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
