// Colour profiles carried from a source picture to its output: the checks
// an ICC profile must pass to be kept, and the reassembly of a profile that
// a JPEG file splits over APP2 "ICC_PROFILE" segments.
//
// Profiles are hostile data and are only ever kept or dropped, never a
// reason to fail a picture; their content is not interpreted beyond the
// header fields checked here. Pure functions, callable from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pixmoor::image {

// The largest profile a JPEG file can carry: 255 segments of 65519 bytes.
inline constexpr std::size_t kMaxIccProfileBytes = std::size_t{255} * 65519;

// True for a profile worth carrying into an output: an ICC header whose
// declared size is the profile's length (at most kMaxIccProfileBytes), with
// the "acsp" signature and the RGB data colour space. Pictures are written
// as RGB whatever the source held, so grey and CMYK profiles do not apply.
bool usableIccProfile(std::span<const std::uint8_t> profile);

// One APP2 segment of a JPEG file: its payload as the file holds it
// (starting with "ICC_PROFILE\0" for a profile segment) and whether the
// whole segment was there (false when the file ended inside it).
struct JpegAppSegment {
  std::span<const std::uint8_t> payload;
  bool whole = true;
};

// The profile of a JPEG file from its APP2 segments in file order; segments
// of other kinds are passed over. Empty when there is none or it cannot be
// trusted: a segment cut short, a count that differs between segments or
// is 0, a sequence number out of 1..count or seen twice, a number missing,
// or a result that usableIccProfile refuses.
std::vector<std::uint8_t> assembleJpegIccProfile(std::span<const JpegAppSegment> segments);

}  // namespace pixmoor::image
