#include "batch/pool_schedule.h"

#include <algorithm>

namespace pixmoor::batch {

PoolSchedule::PoolSchedule(std::size_t pictures, Limits limits)
    : limits_(limits),
      phase_(pictures, Phase::open),
      sizes_(pictures, 0),
      encoded_(pictures, 0),
      readAfter_(pictures, 0) {
  limits_.ahead = std::max<std::size_t>(limits_.ahead, 1);
}

std::size_t PoolSchedule::aheadEnd() const {
  return std::min(phase_.size(), turn_ + limits_.ahead);
}

PoolSchedule::Span PoolSchedule::sizesWanted() {
  const std::size_t end = aheadEnd();
  if (limits_.listOrder || sized_ >= end) return {};
  const Span wanted{std::max(sized_, firstOpen_), end};
  sized_ = end;
  return wanted;
}

void PoolSchedule::setSize(std::size_t picture, std::uint64_t bytes) {
  sizes_[picture] = bytes;
}

std::size_t PoolSchedule::choose() const {
  const std::size_t next = firstOpen_;
  if (limits_.listOrder) return next;
  std::size_t largest = next;
  for (std::size_t q = next + 1; q < aheadEnd(); ++q) {
    if (phase_[q] == Phase::open && sizes_[q] > sizes_[largest]) largest = q;
  }
  return sizes_[largest] >= 2 * sizes_[next] ? largest : next;
}

PoolSchedule::Taken PoolSchedule::nextTake() const {
  if (stopped_ || firstOpen_ >= phase_.size()) return {Take::none, 0};
  const bool mayTakeAhead = firstOpen_ < aheadEnd() && (heldPictures_ == 0 || heldBytes_ < limits_.heldBytes);
  if (mayTakeAhead) return {Take::picture, choose()};
  // No limit holds back the picture whose turn it is: while nobody has it,
  // taking it is the one way on.
  if (firstOpen_ == turn_) return {Take::picture, turn_};
  return {Take::wait, 0};
}

PoolSchedule::Taken PoolSchedule::take() {
  const Taken taken = nextTake();
  if (taken.what != Take::picture) return taken;
  const std::size_t p = taken.picture;
  phase_[p] = Phase::taken;
  takenEnd_ = std::max(takenEnd_, p + 1);
  while (firstOpen_ < phase_.size() && !isOpen(firstOpen_)) ++firstOpen_;
  return taken;
}

bool PoolSchedule::keepAfter(std::size_t picture, std::size_t earlier) {
  if (turn_ > earlier) return true;  // finished meanwhile
  if (firstOpen_ < picture) {
    // Kept, it would wait on a picture no thread may have taken yet.
    phase_[picture] = Phase::givenBack;
    firstOpen_ = std::min(firstOpen_, picture);
    return false;
  }
  readAfter_[picture] = earlier + 1;
  return true;
}

bool PoolSchedule::mayBeginRead(std::size_t picture) const {
  return stopped_ || (turn_ >= readAfter_[picture] && aloneWanted_ == 0);
}

bool PoolSchedule::beginRead(std::size_t picture) {
  if (stopped_) {
    abandon(picture);
    return false;
  }
  phase_[picture] = Phase::reading;
  latestRead_ = std::max(latestRead_.value_or(picture), picture);
  ++reading_;
  return true;
}

void PoolSchedule::endRead(std::size_t picture) {
  phase_[picture] = Phase::read;
  --reading_;
}

void PoolSchedule::wantWholeBudget() {
  ++aloneWanted_;
}

bool PoolSchedule::mayReadAlone() const {
  return stopped_ || reading_ == 0;
}

bool PoolSchedule::beginAloneRead() {
  if (stopped_) {
    --aloneWanted_;
    return false;
  }
  ++reading_;
  return true;
}

void PoolSchedule::endAloneRead() {
  --reading_;
  --aloneWanted_;
}

bool PoolSchedule::pixelsReady(std::size_t picture) {
  if (stopped_) {
    abandon(picture);
    return false;
  }
  phase_[picture] = Phase::saving;
  return true;
}

PoolSchedule::Ready PoolSchedule::bytesReady(std::size_t picture, std::uint64_t bytes, bool cancelled) {
  if (cancelled || (abandoned_ && *abandoned_ < picture)) {
    abandon(picture);
    return Ready::abandoned;
  }
  if (turn_ != picture) {
    phase_[picture] = Phase::handedOver;
    encoded_[picture] = bytes;
    heldBytes_ += bytes;
    ++heldPictures_;
    return Ready::handedOver;
  }
  phase_[picture] = Phase::finishing;
  return Ready::finish;
}

std::optional<std::size_t> PoolSchedule::finished(std::size_t picture) {
  phase_[picture] = Phase::finished;
  turn_ = picture + 1;
  if (turn_ >= phase_.size() || phase_[turn_] != Phase::handedOver) return std::nullopt;
  phase_[turn_] = Phase::finishing;
  heldBytes_ -= encoded_[turn_];
  --heldPictures_;
  return turn_;
}

void PoolSchedule::abandon(std::size_t picture) {
  phase_[picture] = Phase::abandoned;
  abandoned_ = std::min(abandoned_.value_or(picture), picture);
}

std::vector<std::size_t> PoolSchedule::stop(bool everySave) {
  stopped_ = true;
  std::vector<std::size_t> abandonedSaves;
  // Saves before the picture in progress belong to finished pictures; from
  // it on, nothing is saved. A picture still being encoded is in progress
  // (an encoding may take seconds); one whose bytes are ready only waits for
  // a write of a few milliseconds.
  bool inProgressReached = everySave;
  for (std::size_t p = turn_; p < takenEnd_; ++p) {
    const bool encoded = phase_[p] == Phase::handedOver || phase_[p] == Phase::finishing;
    const bool finishedThere = encoded && latestRead_ && *latestRead_ > p;
    if (!finishedThere) inProgressReached = true;
    if (inProgressReached && hasPixels(p)) abandonedSaves.push_back(p);
  }
  return abandonedSaves;
}

}  // namespace pixmoor::batch
