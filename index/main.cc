// vesk-index: one command per run, chosen by the word count and the first
// word. NOW is converted before any file is opened.
#include "vesk_index.h"

namespace {

[[noreturn]] void usage_failure() {
  abort_with_message("delegation NOW FILE | index NOW REPO ABI DELEG_SHA DELEGATION INDEX");
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 4 && is_equal(argv[1], "delegation")) {
    uint64_t now = parse_decimal_u64(argv[2]);
    verify_delegation(argv[3], now);
  } else if (argc == 8 && is_equal(argv[1], "index")) {
    uint64_t now = parse_decimal_u64(argv[2]);
    verify_index(now, argv[3], argv[4], argv[5], argv[6], argv[7]);
  } else {
    usage_failure();
  }
  return 0;
}
