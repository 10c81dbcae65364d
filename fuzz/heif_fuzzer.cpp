// Fuzz target: the HEIF reader (libheif) over arbitrary bytes, in this process
// as the decode helper runs it, whole or reduced; seeds from tests/data/heif.
// A crash inside the library itself (Debian's libheif asserts) is contained
// by the helper in the batch; here it is a finding. Modes and limits:
// fuzz_support.h.
#include <cstddef>
#include <cstdint>
#include <span>

#include "foreign/heif_reader.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pixmoor::fuzz::initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  pixmoor::fuzz::readThroughForeignReader(pixmoor::foreign::readHeif,
                                          std::span<const std::uint8_t>(data, size));
  return 0;
}
