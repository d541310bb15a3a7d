// Package manifest: one canonical line per installed file, sorted by path.
#include <stdlib.h>
#include <string.h>

#include "vesk_io.h"

ManifestEntry manifest_table[manifest_capacity];
uint32_t manifest_count = 0;

namespace {

bool is_lower_hex_digest(const char *text) {
  return strlen(text) == 64 && strspn(text, "0123456789abcdef") == 64;
}

bool is_size_text(const char *text) {
  size_t length = strlen(text);
  return length >= 1 && length <= 8 && strspn(text, "0123456789") == length;
}

// One line as fgets delivered it; the table grows by one row if it passes.
void load_manifest_line(const char *line, uint32_t *total) {
  require_or_abort(manifest_count <= manifest_capacity - 1 && strchr(line, '\n') != nullptr,
                   "manifest limit/newline");

  char type = 0, trailing = 0;
  char mode[8], size[24], digest[80], path[100];
  int fields = sscanf(line, "%c\t%7s\t%23s\t%79s\t%99s %c", &type, mode, size, digest, path,
                      &trailing);
  require_or_abort(fields == 5, "manifest fields");
  require_or_abort(type == 'f' && (strcmp(mode, "0644") == 0 || strcmp(mode, "0755") == 0) &&
                       is_managed_path(path),
                   "manifest type/mode/path");
  require_or_abort(is_lower_hex_digest(digest), "manifest SHA256");
  require_or_abort(is_size_text(size), "manifest size");

  // At most 8 digits, so the value fits; the total is compared without overflow.
  uint32_t value = static_cast<uint32_t>(strtoul(size, nullptr, 10));
  require_or_abort(value <= expanded_size_limit && value <= expanded_size_limit - *total,
                   "expanded size limit");
  *total += value;

  if (manifest_count > 0)
    require_or_abort(strcmp(manifest_table[manifest_count - 1].path, path) < 0,
                     "manifest not sorted/duplicate");

  ManifestEntry &row = manifest_table[manifest_count++];
  memcpy(row.path, path, strlen(path) + 1);
  memcpy(row.digest, digest, 65);
  row.mode = strcmp(mode, "0644") == 0 ? 0644 : 0755;
  row.size = value;

  char canonical[256];
  snprintf(canonical, sizeof canonical, "f\t%04o\t%lu\t%s\t%s\n", row.mode,
           static_cast<unsigned long>(row.size), row.digest, row.path);
  require_or_abort(strcmp(canonical, line) == 0, "noncanonical manifest");
}

}  // namespace

void load_package_manifest(const char *path) {
  FILE *file = fopen(path, "r");
  require_or_abort(file != nullptr, "manifest open");

  uint32_t total = 0;
  char line[256];
  while (fgets(line, sizeof line, file) != nullptr) load_manifest_line(line, &total);

  require_or_abort(!ferror(file) && manifest_count >= 1, "empty/invalid manifest");
  fclose(file);
}
