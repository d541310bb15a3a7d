// Commands whose checks are not built yet. They fail closed: a caller must
// never read exit status 0 from a command that tested nothing.
#include "vesk_io.h"

namespace {
[[noreturn]] void not_built() { abort_with_message("command not available"); }
}  // namespace

void run_unpack() { not_built(); }
void run_stat_query(const char *, const char *) { not_built(); }
