// Path rules: which relative paths the tool may observe or install to.
#include <string.h>

#include "vesk_io.h"

namespace {

// Classes by byte value, never by locale: no byte from 0x80 up is in any.
bool is_letter_or_digit(unsigned char c) {
  unsigned char upper = c & static_cast<unsigned char>(~0x20u);
  return (upper >= 'A' && upper <= 'Z') || (c >= '0' && c <= '9');
}

bool is_in(unsigned char c, const char *extras) {
  return c != '\0' && strchr(extras, c) != nullptr;
}

bool starts_with(const char *text, const char *prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

bool is_safe_component(const char *component) {
  if (strcmp(component, ".") == 0 || strcmp(component, "..") == 0) return false;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(component); *p; ++p)
    if (!is_letter_or_digit(*p) && !is_in(*p, "._+@=[]-")) return false;
  return true;
}

bool is_denied_system_file(const char *path) {
  return strcmp(path, "etc/passwd") == 0 || strcmp(path, "etc/shadow") == 0 ||
         strcmp(path, "etc/group") == 0 || strncmp(path, "etc/tinc/", 9) == 0 ||
         strstr(path, "ssh_host_") != nullptr || strstr(path, "wpa_supplicant.conf") != nullptr;
}

bool has_install_prefix(const char *path) {
  if (format2_flag == 0) {
    if (!starts_with(path, "usr/local/")) return false;
    const char *rest = path + 10;
    return starts_with(rest, "bin/") || starts_with(rest, "share/") || starts_with(rest, "libexec/");
  }
  bool listed = starts_with(path, "usr/bin/") || starts_with(path, "usr/sbin/") ||
                starts_with(path, "usr/libexec/") || starts_with(path, "usr/share/");
  return listed && strncmp(path, "usr/share/vesk/", 15) != 0;
}

}  // namespace

int is_name_chars(const char *text) {
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p)
    if (!is_letter_or_digit(*p) && !is_in(*p, "._+-")) return 0;
  return 1;
}

int is_safe_relative_path(const char *path) {
  if (is_denied_system_file(path)) return 0;
  size_t length = strlen(path);
  if (length == 0 || path[0] == '/') return 0;
  if (length > 240) return 0;
  if (strstr(path, "//") != nullptr || path[length - 1] == '/') return 0;

  char copy[256];
  memcpy(copy, path, length + 1);
  char *state = nullptr;
  for (char *c = strtok_r(copy, "/", &state); c != nullptr; c = strtok_r(nullptr, "/", &state))
    if (!is_safe_component(c)) return 0;
  return 1;
}

int is_managed_path(const char *path) {
  size_t length = strlen(path);
  if (length > 90) return 0;
  if (strstr(path, ".vesk-tmp") != nullptr) return 0;
  if (!has_install_prefix(path)) return 0;

  char copy[91];
  memcpy(copy, path, length + 1);
  char *state = nullptr;
  for (char *c = strtok_r(copy, "/", &state); c != nullptr; c = strtok_r(nullptr, "/", &state)) {
    if (c[0] == '\0' || !is_name_chars(c)) return 0;
    if (strcmp(c, ".") == 0 || strcmp(c, "..") == 0) return 0;
  }
  if (strstr(path, "//") != nullptr) return 0;
  return path[length - 1] != '/';
}
