// The one failure path of vesk-index.
#include <stdio.h>
#include <stdlib.h>

#include "vesk_index.h"

void abort_with_message(const char *message) {
  fprintf(stderr, "vesk-index: %s\n", message);
  exit(1);
}
