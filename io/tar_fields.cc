// Stream helpers of the unpacker: exact reads and tar's octal numbers.
#include "vesk_io.h"

void read_exact(FILE *stream, size_t count, void *buffer) {
  if (count == 0) return;
  require_or_abort(fread(buffer, 1, count, stream) == count, "truncated input");
}

// Octal digits after optional leading spaces, ended by NULs or spaces only.
// The bound is tested before each digit, so the value cannot overflow.
uint32_t parse_tar_octal(const unsigned char *field, size_t width) {
  size_t i = 0;
  while (i < width && field[i] == ' ') ++i;
  uint32_t value = 0;
  for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i) {
    require_or_abort(value <= expanded_size_limit, "tar number too large");
    value = value * 8 + static_cast<uint32_t>(field[i] - '0');
  }
  for (; i < width; ++i) require_or_abort((field[i] & ~0x20) == 0, "invalid tar number");
  return value;
}
