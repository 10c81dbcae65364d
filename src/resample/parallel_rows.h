// Shares independent blocks of rows among a few threads.
//
// Each block is computed by exactly one thread and blocks never write to the
// same memory, so the result is the same for any number of threads. Work
// functions must not throw. If a thread cannot be started the remaining ones
// (at least the caller's) take over its share.
#pragma once

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

#include "image/raster.h"
#include "resample/resample.h"

namespace pixmoor::image::detail {

inline int rowBlocks(int rows, int blockRows) {
  return (rows + blockRows - 1) / blockRows;
}

// Threads worth starting for `rows` rows cut into blocks of `blockRows`, out
// of `requested` (the caller's HelperThreads).
inline int plannedThreads(int rows, int blockRows, int requested) {
  return std::max(1, std::min(requested, rowBlocks(rows, blockRows)));
}

// Calls work(slot, begin, end) for every block [begin, end) of [0, rows);
// `slot` (0 .. threads-1) names the calling thread's scratch. Stops handing
// out blocks once `cancel` is raised or a block answers false. Answers true
// when every block ran and succeeded.
template <typename Work>
bool forEachRowBlock(int rows, int blockRows, int threads, const CancelFlag* cancel, const Work& work) {
  threads = plannedThreads(rows, blockRows, threads);
  std::atomic<int> nextBlock{0};
  std::atomic<bool> failed{false};
  const int blocks = rowBlocks(rows, blockRows);

  auto run = [&](int slot) {
    for (;;) {
      if (failed.load(std::memory_order_relaxed)) return;
      if (cancelled(cancel)) {
        failed.store(true, std::memory_order_relaxed);
        return;
      }
      const int block = nextBlock.fetch_add(1, std::memory_order_relaxed);
      if (block >= blocks) return;
      const int begin = block * blockRows;
      const int end = std::min(rows, begin + blockRows);
      if (!work(slot, begin, end)) {
        failed.store(true, std::memory_order_relaxed);
        return;
      }
    }
  };

  std::vector<std::thread> helpers;
  try {
    helpers.reserve(static_cast<std::size_t>(threads - 1));
    for (int slot = 1; slot < threads; ++slot) helpers.emplace_back(run, slot);
  } catch (const std::system_error&) {
    // Fewer helpers than planned: the blocks are shared among those running.
  } catch (const std::bad_alloc&) {
  }
  run(0);
  for (auto& helper : helpers) helper.join();
  return !failed.load(std::memory_order_relaxed) && nextBlock.load() >= blocks;
}

}  // namespace pixmoor::image::detail
