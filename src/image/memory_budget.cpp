#include "image/memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <string>

namespace pixmoor::image {
namespace {

// "MemAvailable:   23430192 kB" of /proc/meminfo, in bytes.
std::optional<std::uint64_t> memAvailable() {
  std::ifstream in("/proc/meminfo");
  std::string key;
  std::uint64_t kib = 0;
  std::string unit;
  while (in >> key >> kib >> unit) {
    if (key == "MemAvailable:") return kib * 1024;
  }
  const long pages = ::sysconf(_SC_AVPHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return std::nullopt;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

std::optional<std::uint64_t> numberIn(const std::string& path) {
  std::ifstream in(path);
  std::uint64_t value = 0;
  if (!(in >> value)) return std::nullopt;  // "max", or no such file
  return value;
}

// Room left under the memory limit of the process's control group (v2
// memory.max, or v1 memory.limit_in_bytes), when there is one.
std::optional<std::uint64_t> controlGroupRoom() {
  std::ifstream in("/proc/self/cgroup");
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string path = line.substr(second + 1);
    std::optional<std::uint64_t> limit, usage;
    if (line.compare(0, first, "0") == 0 && controllers.empty()) {
      limit = numberIn("/sys/fs/cgroup" + path + "/memory.max");
      usage = numberIn("/sys/fs/cgroup" + path + "/memory.current");
    } else if (controllers == "memory") {
      limit = numberIn("/sys/fs/cgroup/memory" + path + "/memory.limit_in_bytes");
      usage = numberIn("/sys/fs/cgroup/memory" + path + "/memory.usage_in_bytes");
    }
    // v1 writes "no limit" as a number near 2^63.
    if (limit && usage && *limit < (std::uint64_t{1} << 62)) return budgetLeft(*limit, *usage);
  }
  return std::nullopt;
}

// Room left under the address-space limit (ulimit -v), when there is one.
std::optional<std::uint64_t> addressSpaceRoom() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
  std::ifstream in("/proc/self/statm");
  std::uint64_t pages = 0;
  in >> pages;
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  const std::uint64_t used = pages * static_cast<std::uint64_t>(pageSize > 0 ? pageSize : 4096);
  return budgetLeft(static_cast<std::uint64_t>(limit.rlim_cur), used);
}

}  // namespace

std::uint64_t machineMemoryBudget() {
  std::uint64_t budget = std::max(memAvailable().value_or(0) / 2, kMemoryBudgetFloor);
  if (const auto room = controlGroupRoom()) budget = std::min(budget, *room / 2);
  if (const auto room = addressSpaceRoom()) budget = std::min(budget, *room / 2);
  return budget;
}

std::uint64_t rasterBytes(int width, int height, int depth) {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return 0;
  const std::int64_t stride = rowStride(width, depth > 24 ? 32 : 24);
  return static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(height);
}

}  // namespace pixmoor::image
