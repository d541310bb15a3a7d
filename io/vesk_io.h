// vesk-io: declarations shared by the concerns of the package I/O tool.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

// Failure convention: one line on standard error, exit status 1.
[[noreturn]] void abort_with_message(const char *message);
// Inline: the readers test single bytes with it.
inline void require_or_abort(int condition, const char *message) {
  if (!condition) abort_with_message(message);
}
// Flushes standard output and ends the run with "output write" if any of
// the result line could not be written: an empty answer must never pass.
void finish_output();

// Process-wide settings chosen by the dispatch (and, for the format, by
// the unpacker once it has read "meta").
extern uint32_t format2_flag;
extern const char *target_root;

// Path rules: pure tests, the caller gives the failure message.
int is_safe_relative_path(const char *path);
int is_managed_path(const char *path);
int is_name_chars(const char *text);

// Safe directory walk.
constexpr size_t leaf_buffer_size = 256;
int is_trusted_directory(const struct stat *status);
int open_parent_chain(int root_fd, int create, const char *path, char *leaf);

// Package manifest and the table it fills.
constexpr uint32_t manifest_capacity = 1024;
constexpr uint32_t expanded_size_limit = 33554432;
struct ManifestEntry {
  char path[91];
  char digest[65];
  uint32_t mode;
  uint32_t size;
};
static_assert(sizeof(ManifestEntry) == 164, "manifest row layout");
extern ManifestEntry manifest_table[manifest_capacity];
extern uint32_t manifest_count;
void load_package_manifest(const char *path);

// Archive stream helpers.
uint32_t parse_tar_octal(const unsigned char *field, size_t width);
void read_exact(FILE *stream, size_t count, void *buffer);

// The commands.
void run_unpack();
void run_elf_check(const char *file);
void run_owned_check(const char *file);
void run_observe(const char *root, const char *path);
void run_parent_check(const char *command, const char *root, const char *path);
void run_stat_query(const char *format, const char *path);
