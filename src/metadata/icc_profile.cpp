#include "metadata/icc_profile.h"

#include <array>
#include <cstring>
#include <new>

namespace pixmoor::image {
namespace {

constexpr std::uint8_t kIccTag[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', '\0'};
constexpr std::size_t kIccHeaderBytes = 128;
// Sequence number and count follow the tag.
constexpr std::size_t kIccSegmentHeader = sizeof kIccTag + 2;

std::uint32_t bigEndian32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

bool isIccSegment(std::span<const std::uint8_t> payload) {
  return payload.size() >= sizeof kIccTag && std::memcmp(payload.data(), kIccTag, sizeof kIccTag) == 0;
}

}  // namespace

bool usableIccProfile(std::span<const std::uint8_t> profile) {
  if (profile.size() < kIccHeaderBytes || profile.size() > kMaxIccProfileBytes) return false;
  return bigEndian32(&profile[0]) == profile.size() && std::memcmp(&profile[36], "acsp", 4) == 0 &&
         std::memcmp(&profile[16], "RGB ", 4) == 0;
}

std::vector<std::uint8_t> assembleJpegIccProfile(std::span<const JpegAppSegment> segments) {
  // Payloads by sequence number, 1 .. count.
  std::array<std::span<const std::uint8_t>, 256> parts{};
  std::array<bool, 256> seen{};
  int count = 0;
  for (const JpegAppSegment& segment : segments) {
    if (!isIccSegment(segment.payload)) continue;
    if (!segment.whole || segment.payload.size() < kIccSegmentHeader) return {};
    const int number = segment.payload[sizeof kIccTag];
    const int total = segment.payload[sizeof kIccTag + 1];
    if (total == 0 || (count != 0 && total != count) || number == 0 || number > total || seen[number])
      return {};
    count = total;
    seen[number] = true;
    parts[number] = segment.payload.subspan(kIccSegmentHeader);
  }
  std::size_t size = 0;
  for (int n = 1; n <= count; ++n) {
    if (!seen[n]) return {};
    size += parts[n].size();
  }
  if (count == 0 || size > kMaxIccProfileBytes) return {};
  std::vector<std::uint8_t> profile;
  try {
    profile.reserve(size);
  } catch (const std::bad_alloc&) {
    return {};  // a profile is never worth failing the picture for
  }
  for (int n = 1; n <= count; ++n) profile.insert(profile.end(), parts[n].begin(), parts[n].end());
  if (!usableIccProfile(profile)) return {};
  return profile;
}

}  // namespace pixmoor::image
