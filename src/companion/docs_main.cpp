// Makes the companion's manual page or bash completion at build time, from
// the same table of options as its --help: `pixmoor-batch-docs man|bash VERSION`.
#include <cstdio>
#include <cstring>
#include <string>

#include "companion/options.h"

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "man") == 0) {
    std::fputs(pixmoor::companion::manualPage(argv[2]).c_str(), stdout);
  } else if (argc == 3 && std::strcmp(argv[1], "bash") == 0) {
    std::fputs(pixmoor::companion::bashCompletion().c_str(), stdout);
  } else {
    std::fputs("usage: pixmoor-batch-docs man|bash VERSION\n", stderr);
    return 2;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
