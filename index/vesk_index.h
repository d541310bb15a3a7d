// vesk-index: declarations shared by the concerns of the index verifier.
#pragma once

#include <stdint.h>

// Failure convention: one line on standard error, exit status 1.
[[noreturn]] void abort_with_message(const char *message);
void require_or_abort(int condition, const char *message);
