// SharedSettings: the Settings record as the interface thread last
// published it, handed to the batch worker one consistent copy at a time.
//
// The interface thread calls publish after every change of a setting; the
// worker calls snapshot at the start of each picture, so one picture never
// mixes two settings states (a ".jpg" name with PNG content). Both calls are
// safe from any thread; a snapshot is immutable and stays valid for as long
// as its holder keeps it.
#pragma once

#include <memory>
#include <mutex>

#include "settings/settings.h"

namespace pixmoor::batch {

class SharedSettings {
 public:
  SharedSettings();
  explicit SharedSettings(const settings::Settings& initial);
  SharedSettings(const SharedSettings&) = delete;
  SharedSettings& operator=(const SharedSettings&) = delete;

  void publish(const settings::Settings& current);
  std::shared_ptr<const settings::Settings> snapshot() const;

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const settings::Settings> current_;
};

}  // namespace pixmoor::batch
