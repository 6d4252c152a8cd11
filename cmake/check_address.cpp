// Judges each argument by tarvo-stamp's rule for a built-in address, printing "ok" or the
// reason on a line of its own; exits 1 when any is refused. The build compiles it for the
// machine it runs on, to check TARVO_ADDRESS before anything is built.
#include <stdio.h>

#include "../tools/stamp/slot_address.h"

int main(int argc, char** argv) {
  int status = 0;
  for (int i = 1; i < argc; i++) {
    const std::string reason = CheckAddress(argv[i]);
    printf("%s\n", reason.empty() ? "ok" : reason.c_str());
    if (!reason.empty()) status = 1;
  }
  return status;
}
