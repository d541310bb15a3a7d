// Owned-file manifest: the list of files and links the system already
// owns, one line each, in strictly ascending byte order of their paths.
#include <string.h>

#include "vesk_io.h"

namespace {

constexpr size_t owned_line_buffer_size = 1024;
constexpr uint32_t owned_line_limit = 4096;
constexpr size_t owned_field_count = 9;
constexpr size_t link_target_limit = 255;

enum OwnedField { type_field, mode_field, owner_field, group_field, size_field, hash_field,
                  path_field, role_field, link_field };
constexpr OwnedField numeric_fields[] = {owner_field, group_field, size_field};

struct OwnedList {
  char previous_path[256] = "";
  uint32_t line_count = 0;
};

bool consists_of(const char *text, size_t min_length, size_t max_length, const char *allowed) {
  size_t length = strlen(text);
  return length >= min_length && length <= max_length && strspn(text, allowed) == length;
}

// Fields 1 to 8 end at a TAB, field 9 at the LF; a ninth TAB stays in
// field 9 and is refused there as a link byte.
void split_owned_line(char *line, char **fields) {
  char *cursor = line;
  for (size_t i = 0; i < owned_field_count - 1; ++i) {
    fields[i] = strsep(&cursor, "\t");
    require_or_abort(cursor != nullptr, "owned fields");
  }
  fields[link_field] = strsep(&cursor, "\n");
  require_or_abort(cursor != nullptr, "owned fields");
  require_or_abort(*cursor == '\0', "owned trailing data");
}

void check_link_field(const char *type, const char *link) {
  if (strcmp(type, "f") == 0) {
    require_or_abort(strcmp(link, "-") == 0, "regular link field");
    return;
  }
  size_t length = strlen(link);
  require_or_abort(length >= 1 && length <= link_target_limit, "link target limit");
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(link); *p; ++p)
    require_or_abort(*p >= 0x21 && *p <= 0x7E, "link target bytes");
}

void check_owned_line(char *line, OwnedList *list) {
  require_or_abort(strchr(line, '\n') != nullptr && strlen(line) != owned_line_buffer_size - 1,
                   "owned line length");
  char *fields[owned_field_count];
  split_owned_line(line, fields);

  const char *type = fields[type_field];
  require_or_abort((strcmp(type, "f") == 0 || strcmp(type, "l") == 0) &&
                       consists_of(fields[mode_field], 4, 4, "01234567"),
                   "owned type/mode");
  for (OwnedField numeric : numeric_fields)
    require_or_abort(consists_of(fields[numeric], 1, 10, "0123456789"), "owned numeric field");
  require_or_abort(consists_of(fields[hash_field], 64, 64, "0123456789abcdef") &&
                       is_safe_relative_path(fields[path_field]),
                   "owned hash/path");
  require_or_abort(strcmp(fields[role_field], "software") == 0 ||
                       strcmp(fields[role_field], "config") == 0,
                   "owned role");

  // Strict order alone keeps paths unique: no table of earlier paths.
  bool ascending = strcmp(fields[path_field], list->previous_path) > 0;
  if (ascending) ++list->line_count;
  require_or_abort(ascending && list->line_count <= owned_line_limit, "owned order/limit");
  strcpy(list->previous_path, fields[path_field]);

  check_link_field(type, fields[link_field]);
}

}  // namespace

void run_owned_check(const char *file_path) {
  FILE *file = fopen(file_path, "r");
  require_or_abort(file != nullptr, "owned manifest open");

  OwnedList list;
  char line[owned_line_buffer_size];
  while (fgets(line, sizeof line, file) != nullptr) check_owned_line(line, &list);

  require_or_abort(!ferror(file) && list.line_count >= 1, "empty owned manifest");
  fclose(file);
}
