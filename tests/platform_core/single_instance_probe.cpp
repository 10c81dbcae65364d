// Takes the single-instance lock like the program does. Prints "first" and
// holds the lock for the given number of milliseconds, or prints "second" and
// ends at once with exit code 0 when another process holds it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform_core/single_instance.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  pixmoor::platform::InstanceLock lock;
  switch (lock.acquire(argv[1])) {
    case pixmoor::platform::InstanceCheck::alreadyRunning:
      std::puts("second");
      return 0;
    case pixmoor::platform::InstanceCheck::unprotected:
      std::puts("unprotected");
      return 3;
    case pixmoor::platform::InstanceCheck::first:
      break;
  }
  std::puts("first");
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
  return 0;
}
