// Version grammar: digits, then separator-digit groups, then an optional
// "p" group, then an optional "+r" revision that never starts with 0.
#include <string.h>

#include "vesk_index.h"

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Steps over one or more digits; false when there is none.
bool skip_digits(const char **cursor) {
  if (!is_digit(**cursor)) return false;
  while (is_digit(**cursor)) ++*cursor;
  return true;
}

}  // namespace

bool is_valid_version(const char *text) {
  if (strlen(text) > token_capacity) return false;
  const char *cursor = text;
  if (!skip_digits(&cursor)) return false;
  while (*cursor == '.' || *cursor == '_') {
    ++cursor;
    if (!skip_digits(&cursor)) return false;
  }
  if (*cursor == 'p') {
    ++cursor;
    if (!skip_digits(&cursor)) return false;
  }
  if (cursor[0] == '+' && cursor[1] == 'r') {
    cursor += 2;
    if (*cursor == '0' || !skip_digits(&cursor)) return false;
  }
  return *cursor == '\0';
}
