// Delegation file: which repository, for which ABI and epoch, valid when,
// signed by which key, and allowed to publish which package names.
#include <stdio.h>
#include <string.h>

#include "vesk_index.h"

TrustContext trust_context;

namespace {

// Where each delegated name stands in the table, by hash: open addressing
// with linear probing, a slot holding 1 + the position or 0 while free. More
// than twice the table's capacity, so a free slot always ends a probe run.
constexpr uint32_t name_slot_count = 4096;
static_assert(name_slot_count > 2 * delegated_name_capacity, "probe runs end");
uint16_t delegated_name_slots[name_slot_count];

uint32_t first_name_slot(const char *name) { return text_hash(name) & (name_slot_count - 1); }
uint32_t next_name_slot(uint32_t slot) { return (slot + 1) & (name_slot_count - 1); }

void remember_delegated_name(uint32_t position) {
  uint32_t slot = first_name_slot(trust_context.delegated_names[position]);
  while (delegated_name_slots[slot] != 0) slot = next_name_slot(slot);
  delegated_name_slots[slot] = static_cast<uint16_t>(position + 1);
}

constexpr size_t signer_key_length = 68;

// Both texts are name tokens or digests, so they fit their slots.
void copy_token(char *slot, const char *text) { memcpy(slot, text, strlen(text) + 1); }

void verify_delegation_header(MetadataReader *reader, uint64_t now) {
  char *columns[column_capacity] = {};
  int count = read_metadata_line(reader, columns);
  require_or_abort(
      count == 10 && is_equal(columns[0], "VESK-DELEGATION") && is_equal(columns[1], "1"),
      "delegation header");
  require_or_abort(is_name_token(columns[2]) && is_hex_digest(columns[6]),
                   "delegation identity/ABI");
  copy_token(trust_context.repository_identity, columns[2]);
  copy_token(trust_context.abi_digest, columns[6]);

  trust_context.epoch = parse_decimal_u64(columns[3]);
  trust_context.not_before = parse_decimal_u64(columns[4]);
  trust_context.not_after = parse_decimal_u64(columns[5]);
  require_or_abort(trust_context.not_before >= 1 && trust_context.not_before <= now &&
                       now < trust_context.not_after && trust_context.epoch >= 1 &&
                       trust_context.epoch <= 999999999,
                   "delegation time/epoch");
  require_or_abort(is_equal(columns[7], "i586") && is_equal(columns[8], "musl") &&
                       is_equal(columns[9], "pentium-mmx-audited"),
                   "delegation platform");
}

// The key is only held to the form of a base64 ssh-ed25519 public key.
void verify_signer_line(MetadataReader *reader) {
  char *columns[column_capacity] = {};
  int count = read_metadata_line(reader, columns);
  require_or_abort(count == 3 && is_equal(columns[0], "signer") &&
                       is_equal(columns[1], "ssh-ed25519") &&
                       strlen(columns[2]) == signer_key_length,
                   "signer");
  for (const char *c = columns[2]; *c != '\0'; ++c)
    require_or_abort(
        is_ascii_alnum(static_cast<unsigned char>(*c)) || *c == '+' || *c == '/' || *c == '=',
        "signer encoding");
}

void read_delegated_names(MetadataReader *reader) {
  char *columns[column_capacity] = {};
  for (;;) {
    int count = read_metadata_line(reader, columns);
    if (count == 0) return;
    require_or_abort(count == 2 && is_equal(columns[0], "package") && is_name_token(columns[1]) &&
                         !is_delegated_name(columns[1]),
                     "delegated package");
    require_or_abort(trust_context.delegated_count < delegated_name_capacity, "delegation count");
    copy_token(trust_context.delegated_names[trust_context.delegated_count], columns[1]);
    remember_delegated_name(trust_context.delegated_count);
    trust_context.delegated_count += 1;
  }
}

}  // namespace

// The same answer as a scan of the whole table, without the scan.
bool is_delegated_name(const char *name) {
  for (uint32_t slot = first_name_slot(name); delegated_name_slots[slot] != 0;
       slot = next_name_slot(slot))
    if (is_equal(trust_context.delegated_names[delegated_name_slots[slot] - 1], name)) return true;
  return false;
}

void verify_delegation(const char *path, uint64_t now) {
  MetadataReader reader = open_metadata_file(path, delegation_byte_limit);
  verify_delegation_header(&reader, now);
  verify_signer_line(&reader);
  read_delegated_names(&reader);
  require_or_abort(trust_context.delegated_count >= 1, "empty delegation");
  fclose(reader.stream);
}
