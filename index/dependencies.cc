// Dependency column: "-", or name=value entries separated by single spaces.
#include <string.h>

#include "vesk_index.h"

namespace {

// A name or value is at most one token long; the copy lets the token test
// see it as a text of its own.
void copy_part(char *part, const char *start, size_t length) {
  memcpy(part, start, length);
  part[length] = '\0';
}

void check_dependency_entry(const char *entry, size_t length, const char *row_name) {
  const char *equals = static_cast<const char *>(memchr(entry, '=', length));
  require_or_abort(equals != nullptr && equals > entry && equals < entry + length - 1,
                   "dependency syntax");
  size_t name_length = static_cast<size_t>(equals - entry);
  size_t value_length = length - name_length - 1;
  require_or_abort(name_length <= token_capacity && value_length <= token_capacity,
                   "dependency token length");

  char name[token_capacity + 1], value[token_capacity + 1];
  copy_part(name, entry, name_length);
  copy_part(value, equals + 1, value_length);
  require_or_abort(is_name_token(name) && is_name_token(value) && !is_equal(name, row_name),
                   "dependency token/self dependency");
}

}  // namespace

void check_dependency_field(const char *field, const char *row_name) {
  if (is_equal(field, "-")) return;
  require_or_abort(field[0] != '\0', "empty dependency");
  const char *entry = field;
  for (;;) {
    const char *space = strchr(entry, ' ');
    size_t length = space != nullptr ? static_cast<size_t>(space - entry) : strlen(entry);
    check_dependency_entry(entry, length, row_name);
    if (space == nullptr) return;
    entry = space + 1;
    require_or_abort(*entry != ' ' && *entry != '\0', "dependency spacing");
  }
}
