// Validators of single metadata fields. Character classes go by byte value,
// never by locale.
#include <string.h>

#include "vesk_index.h"

uint64_t parse_decimal_u64(const char *text) {
  size_t length = strlen(text);
  require_or_abort(length >= 1 && length <= 10, "integer length");
  uint64_t value = 0;
  for (size_t i = 0; i < length; ++i) {
    require_or_abort(text[i] >= '0' && text[i] <= '9', "integer syntax");
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  return value;
}

bool is_hex_digest(const char *text) {
  return strlen(text) == 64 && strspn(text, "0123456789abcdef") == 64;
}

bool is_ascii_alnum(int c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool is_name_token(const char *text) {
  size_t length = strlen(text);
  if (length < 1 || length > token_capacity) return false;
  if (!is_ascii_alnum(static_cast<unsigned char>(text[0]))) return false;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!is_ascii_alnum(c) && c != '.' && c != '_' && c != '+' && c != '-') return false;
  }
  return true;
}
