// Fuzz target: the AVIF reader (libavif with dav1d) over arbitrary bytes, in this process
// as the decode helper runs it, whole or reduced; seeds from tests/data/avif.
// A crash inside the library itself is contained
// by the helper in the batch; here it is a finding. Modes and limits:
// fuzz_support.h.
#include <cstddef>
#include <cstdint>
#include <span>

#include "foreign/avif_reader.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pixmoor::fuzz::initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  pixmoor::fuzz::readThroughForeignReader(pixmoor::foreign::readAvif,
                                          std::span<const std::uint8_t>(data, size));
  return 0;
}
