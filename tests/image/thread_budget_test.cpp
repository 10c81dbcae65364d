// The cores this process may run on, and the budget of threads a batch
// shares: members count, a resampling on a member takes only what is idle,
// anywhere else its own count.
#include "image/thread_budget.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace pixmoor::image {
namespace {

// A thread held to one CPU (taskset -c N) counts one core.
TEST(UsableCores, FollowTheThreadsAffinity) {
  cpu_set_t all;
  CPU_ZERO(&all);
  ASSERT_EQ(::sched_getaffinity(0, sizeof all, &all), 0);
  EXPECT_EQ(usableCores(), CPU_COUNT(&all));
  int first = 0;
  while (!CPU_ISSET(first, &all)) ++first;
  int seen = 0;
  int defaulted = 0;
  std::thread held([&] {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    if (::sched_setaffinity(0, sizeof one, &one) != 0) return;
    seen = usableCores();
    defaulted = defaultThreads();
  });
  held.join();
  EXPECT_EQ(seen, 1);
  EXPECT_EQ(defaulted, 1);
  EXPECT_EQ(defaultThreads(), std::clamp(CPU_COUNT(&all), 1, 4));
}

TEST(ThreadBudget, TakesOnlyWhatIsIdle) {
  ThreadBudget budget(3);
  EXPECT_EQ(budget.take(5), 3);
  EXPECT_EQ(budget.take(1), 0);
  budget.giveBack(2);
  EXPECT_EQ(budget.take(5), 2);
  EXPECT_EQ(budget.take(-1), 0);
  EXPECT_EQ(ThreadBudget(0).threads(), 1);
}

// Members hold one thread each; a call on a member gets itself and what the
// budget has idle, then gives it back.
TEST(ThreadBudget, AMemberCallTakesWhatTheOtherMembersLeave) {
  ThreadBudget budget(4);
  const ThreadBudgetMember member(budget);
  int whileHeld = 0;
  int afterwards = 0;
  {
    const HelperThreads helpers(0, 100);
    EXPECT_EQ(helpers.count(), 4);
    std::thread other([&] {
      const ThreadBudgetMember second(budget);  // counts even beyond the budget
      whileHeld = HelperThreads(0, 100).count();
    });
    other.join();
  }
  std::thread other([&] {
    const ThreadBudgetMember second(budget);
    afterwards = HelperThreads(0, 100).count();
  });
  other.join();
  EXPECT_EQ(whileHeld, 1);
  EXPECT_EQ(afterwards, 3);
  EXPECT_EQ(HelperThreads(2, 100).count(), 2);  // a count of its own, within the budget
  EXPECT_EQ(HelperThreads(0, 2).count(), 2);    // no more than it can use
}

// Nested members: the inner budget rules until it ends.
TEST(ThreadBudget, TheLatestMembershipRules) {
  ThreadBudget outer(4);
  ThreadBudget inner(2);
  const ThreadBudgetMember first(outer);
  {
    const ThreadBudgetMember second(inner);
    EXPECT_EQ(HelperThreads(0, 100).count(), 2);
  }
  EXPECT_EQ(HelperThreads(0, 100).count(), 4);
}

TEST(ThreadBudget, OutsideABudgetACallTakesItsOwnCount) {
  EXPECT_EQ(HelperThreads(0, 100).count(), defaultThreads());
  EXPECT_EQ(HelperThreads(7, 100).count(), 7);
  EXPECT_EQ(HelperThreads(7, 3).count(), 3);
  EXPECT_EQ(HelperThreads(7, 0).count(), 1);
}

// A pool thread that starts first lends out only what the seats of those
// still starting leave; a seat whose thread never started goes back.
TEST(ThreadBudget, SeatsOfMembersStillStartingAreNotLent) {
  ThreadBudget budget(6);
  budget.reserveMembers(3);
  std::thread([&] {
    const ThreadBudgetMember first(budget, /*reserved=*/true);
    EXPECT_EQ(HelperThreads(0, 100).count(), 4);
  }).join();
  budget.giveBack(2);
  EXPECT_EQ(budget.take(6), 6);
}

// Members taking and giving back at once never hold more than the budget,
// also while some of them are still starting (their seats are reserved
// first, as the batch's pool does).
TEST(ThreadBudget, ConcurrentCallsStayWithinTheBudget) {
  constexpr int kThreads = 6;
  ThreadBudget budget(kThreads);
  std::atomic<int> inUse{0};
  std::atomic<int> most{0};
  std::vector<std::thread> members;
  budget.reserveMembers(3);
  for (int m = 0; m < 3; ++m) {
    members.emplace_back([&] {
      const ThreadBudgetMember member(budget, /*reserved=*/true);
      for (int i = 0; i < 20000; ++i) {
        const HelperThreads helpers(0, 1 + i % 5);
        const int now = inUse.fetch_add(helpers.count()) + helpers.count();
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        inUse.fetch_sub(helpers.count());
      }
    });
  }
  for (std::thread& member : members) member.join();
  EXPECT_LE(most.load(), kThreads);
  EXPECT_GE(most.load(), 3);
  EXPECT_EQ(budget.take(kThreads), kThreads);  // everything given back
}

}  // namespace
}  // namespace pixmoor::image
