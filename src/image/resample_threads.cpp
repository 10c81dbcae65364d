// The process-wide thread count of the resamplers.
#include <atomic>

#include "image/resample.h"

namespace pixmoor::image {
namespace {

std::atomic<int> chosenThreads{0};

}  // namespace

void setResampleThreads(int threads) {
  chosenThreads.store(threads > 0 ? threads : 0, std::memory_order_relaxed);
}

int resampleThreads() {
  return chosenThreads.load(std::memory_order_relaxed);
}

}  // namespace pixmoor::image
