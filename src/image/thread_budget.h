// The threads of the picture work: the one count of the cores this process
// may run on, and the budget of threads that a batch shares between the
// pictures it works on at once and their resampling.
//
// A batch makes one ThreadBudget. Each of its pool threads is a member for as
// long as it runs (ThreadBudgetMember), and a resampling run on a member
// thread splits its rows over the caller and only those threads of the budget
// that no member holds and no other resampling has taken (HelperThreads); it
// never waits for one. So a batch never works on more threads at once than its
// budget: with as many pictures as threads each picture is resampled on its
// own thread, and a picture left alone (the last ones, a batch of one) takes
// the threads the others gave back. Outside a batch a resampling takes
// defaultThreads. The pixels are the same for any count.
//
// Threads: usableCores and defaultThreads from any thread. A ThreadBudget is
// shared by any threads (its count is atomic) and outlives its members; a
// member and a HelperThreads belong to the thread that made them and end
// there, the latest first. Failure: none; a budget with nothing idle grants
// the caller alone.
#pragma once

#include <atomic>

namespace pixmoor::image {

// The CPUs this process may run on (taskset, a container's cpuset); at least 1.
int usableCores();

// The threads the picture work takes when nobody chose: the usable cores, at
// most 4 (beyond that a batch mostly waits for the disk and holds more memory).
int defaultThreads();

class ThreadBudget {
 public:
  explicit ThreadBudget(int threads);  // at least 1
  ThreadBudget(const ThreadBudget&) = delete;
  ThreadBudget& operator=(const ThreadBudget&) = delete;

  int threads() const { return threads_; }
  // Takes up to `wanted` threads among those idle, without waiting; answers
  // how many it took. giveBack returns them.
  int take(int wanted);
  void giveBack(int count);
  // Holds seats for `members` threads that are about to start, so that the
  // first to start cannot lend out the threads of those still starting. Each
  // such thread becomes a member with ThreadBudgetMember(budget, reserved);
  // a seat whose thread never started goes back through giveBack.
  void reserveMembers(int members);

 private:
  friend class ThreadBudgetMember;
  const int threads_;
  std::atomic<int> busy_{0};
};

// The calling thread counts as one thread of `budget` while this lives (also
// beyond the budget: the pool never starts more members than it has).
class ThreadBudgetMember {
 public:
  // `reserved`: the seat was held by reserveMembers.
  explicit ThreadBudgetMember(ThreadBudget& budget, bool reserved = false);
  ~ThreadBudgetMember();
  ThreadBudgetMember(const ThreadBudgetMember&) = delete;
  ThreadBudgetMember& operator=(const ThreadBudgetMember&) = delete;

 private:
  ThreadBudget& budget_;
  ThreadBudget* outer_;  // the calling thread's budget before
};

// The threads one call may split its work over, the caller included:
// `wanted` (0: as many as it may) and no more than `useful`. On a member
// thread, the caller and whatever the budget has idle; elsewhere `wanted`, or
// defaultThreads. Those taken from the budget go back when this ends.
class HelperThreads {
 public:
  HelperThreads(int wanted, int useful);
  ~HelperThreads();
  HelperThreads(const HelperThreads&) = delete;
  HelperThreads& operator=(const HelperThreads&) = delete;

  int count() const { return count_; }

 private:
  ThreadBudget* budget_ = nullptr;
  int count_ = 1;
};

}  // namespace pixmoor::image
