// Commands whose checks are not built yet. They fail closed: a caller must
// never read exit status 0 from a command that tested nothing.
#include "vesk_io.h"

namespace {
[[noreturn]] void not_built() { abort_with_message("command not available"); }
}  // namespace

void run_elf_check(const char *) { not_built(); }
void run_owned_check(const char *) { not_built(); }
void run_observe(const char *, const char *) { not_built(); }
void run_parent_check(const char *, const char *, const char *) { not_built(); }
