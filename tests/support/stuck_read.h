// Reads that hang, as on a dead network mount, for tests of what must not
// wait for them. A test program that includes this header (once) links with
// -Wl,--wrap=read: every read() of the program's own code comes here, and a
// read of the chosen file waits until the test lets it go.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>

namespace stuck_read {

inline std::mutex mutex;
inline std::condition_variable changed;
inline dev_t device = 0;
inline ino_t inode = 0;        // reads of this file hang ...
inline bool released = false;  // ... until this is set
inline bool entered = false;   // a read is hanging now

// Reads of `path` hang from now on.
inline void hangOn(const std::string& path) {
  struct stat status {};
  ::stat(path.c_str(), &status);
  const std::lock_guard lock(mutex);
  device = status.st_dev;
  inode = status.st_ino;
  released = false;
  entered = false;
}

// No read hangs any more.
inline void stopHanging() {
  const std::lock_guard lock(mutex);
  inode = 0;
}

inline void release() {
  {
    const std::lock_guard lock(mutex);
    released = true;
  }
  changed.notify_all();
}

inline bool isReleased() {
  const std::lock_guard lock(mutex);
  return released;
}

// Waits for the hanging read to begin, at most 10 s.
inline bool waitUntilEntered() {
  std::unique_lock lock(mutex);
  return changed.wait_for(lock, std::chrono::seconds(10), [] { return entered; });
}

}  // namespace stuck_read

extern "C" ssize_t __real_read(int fd, void* buffer, std::size_t size);
extern "C" ssize_t __wrap_read(int fd, void* buffer, std::size_t size) {
  struct stat status {};
  std::unique_lock lock(stuck_read::mutex);
  if (stuck_read::inode != 0 && ::fstat(fd, &status) == 0 && status.st_ino == stuck_read::inode &&
      status.st_dev == stuck_read::device) {
    stuck_read::entered = true;
    stuck_read::changed.notify_all();
    stuck_read::changed.wait(lock, [] { return stuck_read::released; });
  }
  lock.unlock();
  return __real_read(fd, buffer, size);
}
