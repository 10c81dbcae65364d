// Single-instance lock: only one copy of a given version runs at a time.
//
// The lock is an flock on a file named after the instance name in the user's
// runtime folder ($XDG_RUNTIME_DIR, else a per-user folder under /tmp). It is
// held until the window closes (release), at the latest for the life of the
// process (or of the InstanceLock object); the system drops it when the
// process ends, however it ends. Interface thread.
#pragma once

#include <string>

namespace pixmoor::platform {

enum class InstanceCheck {
  first,           // we hold the lock now
  alreadyRunning,  // another process of this name holds it: end silently
  unprotected,     // the lock file could not be made: run without protection
};

class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  InstanceCheck acquire(const std::string& instanceName);
  // Lets the next copy start: done when the window closes, before whatever
  // the end still has to do.
  void release();

 private:
  int fd_ = -1;
};

// The lock file's path for an instance name (exposed for tests).
std::string instanceLockPath(const std::string& instanceName);

}  // namespace pixmoor::platform
