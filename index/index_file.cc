// Repository index: the packages one repository publishes, judged against
// the caller's expectations and the trust context of its delegation.
#include <stdio.h>
#include <string.h>

#include "vesk_index.h"

PackageEntry package_table[package_capacity];
uint32_t package_count = 0;

namespace {

// The hashes of each entry's name and version, beside the table.
struct PackageHashes {
  uint32_t name;
  uint32_t version;
};
PackageHashes package_hashes[package_capacity];

constexpr uint64_t longest_validity = 604800;
constexpr size_t longest_text_field = 512;

// What the caller passed, tested once and then read by every rule.
struct IndexExpectation {
  uint64_t now;
  const char *repo;
  const char *abi;
  const char *delegation_sha;
  uint64_t generated;
};

void verify_caller_arguments(const IndexExpectation &expected) {
  require_or_abort(is_name_token(expected.repo) && is_hex_digest(expected.abi) &&
                       is_hex_digest(expected.delegation_sha) &&
                       is_equal(expected.repo, trust_context.repository_identity) &&
                       is_equal(expected.abi, trust_context.abi_digest),
                   "trusted context");
}

void verify_index_header(MetadataReader *reader, IndexExpectation *expected) {
  char *columns[column_capacity] = {};
  int count = read_metadata_line(reader, columns);
  require_or_abort(count == 10 && is_equal(columns[0], "VESK-INDEX") && is_equal(columns[1], "2"),
                   "index header");
  require_or_abort(is_equal(columns[2], expected->repo) && is_equal(columns[4], expected->abi) &&
                       is_equal(columns[5], "0.1") &&
                       is_equal(columns[9], expected->delegation_sha),
                   "index identity/ABI/delegation");

  uint64_t serial = parse_decimal_u64(columns[3]);
  uint64_t generated = parse_decimal_u64(columns[6]);
  uint64_t expiry = parse_decimal_u64(columns[7]);
  // The epoch column is not even converted when the serial is out of range.
  require_or_abort(serial >= 1 && serial <= 999999999, "index serial/epoch");
  require_or_abort(parse_decimal_u64(columns[8]) == trust_context.epoch, "index serial/epoch");

  // generated <= now < expiry, so the difference cannot wrap.
  require_or_abort(generated >= trust_context.not_before && generated <= expected->now &&
                       expected->now < expiry && expiry <= trust_context.not_after &&
                       expiry - generated <= longest_validity,
                   "index validity");
  expected->generated = generated;
}

void check_package_file(const char *digest, const char *filename, const char *system) {
  require_or_abort(is_hex_digest(digest), "package digest");
  char expected_filename[64 + sizeof ".vesk"];
  snprintf(expected_filename, sizeof expected_filename, "%s.vesk", digest);
  require_or_abort(is_equal(filename, expected_filename) && is_equal(system, "0.1"),
                   "package filename/system");
}

void check_description_upstream_date(char *columns[column_capacity], uint64_t generated) {
  size_t description_length = strlen(columns[12]);
  size_t upstream_length = strlen(columns[13]);
  require_or_abort(description_length >= 1 && description_length <= longest_text_field &&
                       upstream_length <= longest_text_field &&
                       strncmp(columns[13], "https://", 8) == 0,
                   "description/upstream/date");
  require_or_abort(parse_decimal_u64(columns[14]) <= generated, "description/upstream/date");
}

// Two rows of one name must differ in version text and in rank value.
// An entry whose name hash differs has another name; one whose version hash
// and rank both differ passes the rule: only the rest need the texts.
void record_package(const char *name, const char *version, uint64_t rank) {
  PackageHashes hashes{text_hash(name), text_hash(version)};
  for (uint32_t i = 0; i < package_count; ++i) {
    const PackageEntry &earlier = package_table[i];
    if (package_hashes[i].name != hashes.name) continue;
    if (package_hashes[i].version != hashes.version && earlier.rank != rank) continue;
    if (!is_equal(earlier.name, name)) continue;
    require_or_abort(!is_equal(earlier.version, version) && earlier.rank != rank,
                     "duplicate version/rank");
  }
  require_or_abort(package_count < package_capacity, "package count");
  package_hashes[package_count] = hashes;
  PackageEntry &entry = package_table[package_count++];
  memcpy(entry.name, name, strlen(name) + 1);
  memcpy(entry.version, version, strlen(version) + 1);
  entry.rank = rank;
}

void verify_package_row(char *columns[column_capacity], int count,
                        const IndexExpectation &expected) {
  require_or_abort(count == 15, "package column count");
  const char *name = columns[0];
  const char *version = columns[1];
  require_or_abort(is_name_token(name) && is_delegated_name(name) && is_valid_version(version),
                   "package name/version");
  uint64_t rank = parse_decimal_u64(columns[2]);
  uint64_t size = parse_decimal_u64(columns[4]);
  require_or_abort(rank >= 1 && rank <= 99999999 && size >= 1 && size <= 35651584,
                   "package rank/size");
  check_package_file(columns[3], columns[5], columns[6]);
  check_dependency_field(columns[7], name);
  require_or_abort(is_equal(columns[8], "i586") && is_equal(columns[9], "musl") &&
                       is_equal(columns[10], expected.abi) &&
                       is_equal(columns[11], "pentium-mmx-audited"),
                   "package platform");
  check_description_upstream_date(columns, expected.generated);
  record_package(name, version, rank);
}

}  // namespace

void verify_index(uint64_t now, const char *repo, const char *abi, const char *delegation_sha,
                  const char *delegation_path, const char *index_path) {
  verify_delegation(delegation_path, now);
  MetadataReader reader = open_metadata_file(index_path, index_byte_limit);
  IndexExpectation expected{now, repo, abi, delegation_sha, 0};
  verify_caller_arguments(expected);
  verify_index_header(&reader, &expected);

  char *columns[column_capacity] = {};
  for (;;) {
    int count = read_metadata_line(&reader, columns);
    if (count == 0) break;
    verify_package_row(columns, count, expected);
  }
  fclose(reader.stream);
}
