// Fuzz target: the HEIF reader as the decode helper runs it (see
// foreign_fuzzing.h); the run of the registry's "heif" family.
#include <cstddef>
#include <cstdint>

#include "foreign_fuzzing.h"
#include "isolated_readers/heif_reader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pixmoor::fuzz::initialise();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return pixmoor::fuzz::fuzzForeignReader(pixmoor::foreign::readHeif, data, size,
                                          pixmoor::fuzz::Repeatable::notForDamagedData);
}
