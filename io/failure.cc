// The one failure path of vesk-io.
#include <stdlib.h>

#include "vesk_io.h"

void abort_with_message(const char *message) {
  fprintf(stderr, "vesk-io: %s\n", message);
  exit(1);
}

void finish_output() {
  require_or_abort(fflush(stdout) == 0 && !ferror(stdout), "output write");
}
