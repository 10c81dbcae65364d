#include "image/thread_budget.h"

#include <sched.h>

#include <algorithm>
#include <thread>

namespace pixmoor::image {
namespace {

// The budget whose member the calling thread is, if any.
thread_local ThreadBudget* memberOf = nullptr;

}  // namespace

int usableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

int defaultThreads() {
  return std::clamp(usableCores(), 1, 4);
}

ThreadBudget::ThreadBudget(int threads) : threads_(std::max(1, threads)) {}

int ThreadBudget::take(int wanted) {
  int busy = busy_.load();
  for (;;) {
    const int granted = std::clamp(threads_ - busy, 0, std::max(0, wanted));
    if (granted == 0 || busy_.compare_exchange_weak(busy, busy + granted)) return granted;
  }
}

void ThreadBudget::giveBack(int count) {
  busy_.fetch_sub(count);
}

void ThreadBudget::reserveMembers(int members) {
  busy_.fetch_add(members);
}

ThreadBudgetMember::ThreadBudgetMember(ThreadBudget& budget, bool reserved)
    : budget_(budget), outer_(memberOf) {
  if (!reserved) budget_.busy_.fetch_add(1);
  memberOf = &budget_;
}

ThreadBudgetMember::~ThreadBudgetMember() {
  memberOf = outer_;
  budget_.giveBack(1);
}

HelperThreads::HelperThreads(int wanted, int useful) {
  useful = std::max(1, useful);
  if (memberOf == nullptr) {
    count_ = std::clamp(wanted > 0 ? wanted : defaultThreads(), 1, useful);
    return;
  }
  budget_ = memberOf;
  const int asked = std::min(wanted > 0 ? wanted : budget_->threads(), useful);
  count_ = 1 + budget_->take(asked - 1);
}

HelperThreads::~HelperThreads() {
  if (budget_ != nullptr) budget_->giveBack(count_ - 1);
}

}  // namespace pixmoor::image
