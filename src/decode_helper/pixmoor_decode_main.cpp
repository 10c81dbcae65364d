// pixmoor-decode: started by the engine for one picture of a format it never
// decodes in its own process (image/helper_decode.h).
#include "decode_helper/decode_session.h"
#include "foreign/foreign_readers.h"

int main() {
  return pixmoor::decode_helper::runDecodeSession(pixmoor::foreign::foreignReader);
}
