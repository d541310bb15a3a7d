// vesk-io: one command per run, chosen by the word count and the first word.
#include <string.h>

#include "vesk_io.h"

namespace {

[[noreturn]] void usage_failure() {
  abort_with_message("usage: vesk-io unpack | elf FILE | manifest FILE | parents ROOT PATH");
}

bool is(const char *word, const char *command) { return strcmp(word, command) == 0; }

void dispatch_three_words(char **argv) {
  if (is(argv[1], "owned")) {
    run_owned_check(argv[2]);
  } else if (is(argv[1], "manifest") || is(argv[1], "manifest2")) {
    format2_flag = is(argv[1], "manifest2") ? 1 : 0;
    load_package_manifest(argv[2]);
  } else {
    usage_failure();
  }
}

void dispatch_four_words(char **argv) {
  if (is(argv[1], "observe")) {
    run_observe(argv[2], argv[3]);
  } else if (is(argv[1], "parents") || is(argv[1], "prepare") || is(argv[1], "parents2") ||
             is(argv[1], "prepare2")) {
    format2_flag = strchr(argv[1], '2') != nullptr ? 1 : 0;
    run_parent_check(argv[1], argv[2], argv[3]);
  } else {
    usage_failure();
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 5) {
    if (!is(argv[1], "stat") || !is(argv[2], "-c")) usage_failure();
    run_stat_query(argv[3], argv[4]);
  } else if (argc == 2) {
    if (!is(argv[1], "unpack")) usage_failure();
    run_unpack();
  } else if (argc != 3 && argc != 4) {
    usage_failure();
  } else if (is(argv[1], "elf") || is(argv[1], "elf2")) {
    format2_flag = is(argv[1], "elf2") ? 1 : 0;
    if (argc == 4) target_root = argv[3];
    run_elf_check(argv[2]);
  } else if (argc == 3) {
    dispatch_three_words(argv);
  } else {
    dispatch_four_words(argv);
  }
  return 0;
}
