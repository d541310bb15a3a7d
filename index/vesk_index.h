// vesk-index: declarations shared by the concerns of the index verifier.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <string.h>

// Failure convention: one line on standard error, exit status 1.
[[noreturn]] void abort_with_message(const char *message);
// Inline, like is_equal below: the reader tests every byte of a file with it.
inline void require_or_abort(int condition, const char *message) {
  if (!condition) abort_with_message(message);
}

// Metadata lines: printable ASCII, TAB-separated columns, LF-terminated.
constexpr uint32_t line_capacity = 4096;
constexpr int column_capacity = 15;
constexpr uint32_t delegation_byte_limit = 16384;
constexpr uint32_t index_byte_limit = 262144;

struct MetadataReader {
  FILE *stream;
  uint32_t bytes_read;
  uint32_t byte_limit;
};

// Opens a metadata file for reading or ends the run with "metadata open".
MetadataReader open_metadata_file(const char *path, uint32_t byte_limit);
// Returns the column count of the next line, 0 at a clean end of file.
// The columns point into one static buffer that the next read overwrites.
int read_metadata_line(MetadataReader *reader, char *columns[column_capacity]);

// Field validators: pure tests, except the number parser, which fails.
uint64_t parse_decimal_u64(const char *text);
bool is_hex_digest(const char *text);
bool is_ascii_alnum(int c);
bool is_name_token(const char *text);
inline bool is_equal(const char *left, const char *right) { return strcmp(left, right) == 0; }
// FNV-1a of a text: the lookups of delegated names and of earlier packages
// compare texts only where these agree.
inline uint32_t text_hash(const char *text) {
  uint32_t hash = 2166136261u;
  for (; *text != '\0'; ++text) hash = (hash ^ static_cast<unsigned char>(*text)) * 16777619u;
  return hash;
}

// Trust context: what a verified delegation file allows.
constexpr uint32_t token_capacity = 64;
constexpr uint32_t delegated_name_capacity = 1638;
struct TrustContext {
  char repository_identity[token_capacity + 1];
  char abi_digest[64 + 1];
  char delegated_names[delegated_name_capacity][token_capacity + 1];
  uint64_t epoch;
  uint64_t not_before;
  uint64_t not_after;
  uint32_t delegated_count;
};
extern TrustContext trust_context;
bool is_delegated_name(const char *name);
void verify_delegation(const char *path, uint64_t now);

// Repository index and the table its duplicate rule reads.
constexpr uint32_t package_capacity = 1024;
struct PackageEntry {
  char name[token_capacity + 1];
  char version[token_capacity + 1];
  uint64_t rank;
};
extern PackageEntry package_table[package_capacity];
extern uint32_t package_count;
bool is_valid_version(const char *text);
void check_dependency_field(const char *field, const char *row_name);
void verify_index(uint64_t now, const char *repo, const char *abi, const char *delegation_sha,
                  const char *delegation_path, const char *index_path);
