// Fuzz target: the TIFF reader as the decode helper runs it (see
// foreign_fuzzing.h); the run of the registry's "tiff" family.
#include <cstddef>
#include <cstdint>

#include "foreign_fuzzing.h"
#include "isolated_readers/tiff_reader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pixmoor::fuzz::initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return pixmoor::fuzz::fuzzForeignReader(pixmoor::foreign::readTiff, data, size);
}
