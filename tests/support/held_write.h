// Writes that wait, for tests that need a save held in the middle of its
// file. A test program that includes this header (once) links with
// -Wl,--wrap=write: every write() of the program's own code comes here, and
// once a folder is chosen, the first write into a file of it waits until the
// test lets it go.
#pragma once

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>

namespace held_write {

inline std::mutex mutex;
inline std::condition_variable changed;
inline std::string folder;     // a write into a file of this folder waits ...
inline bool released = false;  // ... until this is set
inline bool entered = false;   // a write waits now, or waited

// The next write into a file of `path` (a folder) waits from now on.
inline void holdIn(const std::string& path) {
  const std::lock_guard lock(mutex);
  folder = path;
  released = false;
  entered = false;
}

// Lets the write go, and no later one waits.
inline void release() {
  {
    const std::lock_guard lock(mutex);
    released = true;
    folder.clear();
  }
  changed.notify_all();
}

// Waits for the held write to begin, at most a minute.
inline bool waitUntilEntered() {
  std::unique_lock lock(mutex);
  return changed.wait_for(lock, std::chrono::seconds(60), [] { return entered; });
}

// Whether descriptor `fd` is a file in `folder` (unnamed ones included: the
// kernel names those "folder/#inode (deleted)").
inline bool fileIn(int fd, const std::string& folder) {
  char target[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
  return length > 0 && std::string(target, static_cast<std::size_t>(length)).rfind(folder + "/", 0) == 0;
}

}  // namespace held_write

extern "C" ssize_t __real_write(int fd, const void* data, std::size_t size);
extern "C" ssize_t __wrap_write(int fd, const void* data, std::size_t size) {
  std::unique_lock lock(held_write::mutex);
  if (!held_write::folder.empty() && !held_write::entered && held_write::fileIn(fd, held_write::folder)) {
    held_write::entered = true;
    held_write::changed.notify_all();
    held_write::changed.wait(lock, [] { return held_write::released; });
  }
  lock.unlock();
  return __real_write(fd, data, size);
}
