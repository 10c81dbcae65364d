#include "batch/shared_settings.h"

namespace pixmoor::batch {

SharedSettings::SharedSettings() : current_(std::make_shared<const settings::Settings>()) {}

SharedSettings::SharedSettings(const settings::Settings& initial)
    : current_(std::make_shared<const settings::Settings>(initial)) {}

void SharedSettings::publish(const settings::Settings& current) {
  // The copy is made outside the lock; readers only ever see a whole record.
  auto next = std::make_shared<const settings::Settings>(current);
  const std::lock_guard lock(mutex_);
  current_ = std::move(next);
}

std::shared_ptr<const settings::Settings> SharedSettings::snapshot() const {
  const std::lock_guard lock(mutex_);
  return current_;
}

}  // namespace pixmoor::batch
