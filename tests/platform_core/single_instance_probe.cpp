// Takes the single-instance lock like the program does. Prints "first" and
// holds the lock until its standard input ends (the test closes it), or
// prints "second" and ends at once with exit code 0 when another process
// holds it.
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform_core/single_instance.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
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
  char buffer[64];
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got == 0 || (got < 0 && errno != EINTR)) break;
  }
  return 0;
}
