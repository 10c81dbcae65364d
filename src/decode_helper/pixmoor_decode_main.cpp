// pixmoor-decode: started by the engine as the spawner of the helpers that
// decode the pictures of the formats it never decodes in its own process
// (sandbox/decode_client.h, sandbox/spawner_client.h).
#include "decode_helper/spawner.h"
#include "isolated_readers/foreign_readers.h"

int main(int argc, char** argv) {
  return pixmoor::decode_helper::runHelperProgram(argc, argv, pixmoor::foreign::foreignReader);
}
