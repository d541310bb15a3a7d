// Package archive unpacker: one strict shape of ustar stream on standard
// input becomes "meta", "files" and the payload below "data/" in the
// current directory, which is the stage directory.
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "vesk_io.h"

namespace {

constexpr size_t block_size = 512;
constexpr size_t data_buffer_size = 4096;
constexpr uint32_t archive_limit = 34603008;
constexpr uint32_t end_marker_limit = 20;
constexpr uint32_t meta_size_limit = 4096;
constexpr uint32_t files_size_limit = 262144;
constexpr uint32_t member_file_mode = 0644;
constexpr size_t member_name_size = 100;
constexpr size_t meta_line_size = 16;
constexpr size_t input_buffer_size = 65536;

// Header fields of the ustar layout that are interpreted; every other byte
// counts only in the header sum.
struct TarField {
  size_t offset;
  size_t width;
};
constexpr TarField name_field{0, 100};
constexpr TarField mode_field{100, 8};
constexpr TarField uid_field{108, 8};
constexpr TarField gid_field{116, 8};
constexpr TarField size_field{124, 12};
constexpr TarField chksum_field{148, 8};
constexpr size_t typeflag_offset = 156;
constexpr size_t linkname_offset = 157;
constexpr TarField magic_field{257, 6};
constexpr TarField version_field{263, 2};
constexpr size_t prefix_offset = 345;

// Standard input's buffer. Left to itself stdio takes the block size, 4096
// bytes for a pipe or a file on the usual file systems: a read for every
// data chunk or every eight headers.
char input_buffer[input_buffer_size];

struct UnpackRun {
  int stage;
  uint32_t archive_total;
  uint32_t end_markers;
  uint32_t member_index;
};

struct MemberHeader {
  uint32_t size;
  uint32_t mode;
};

uint32_t parse_field(const unsigned char *block, TarField field) {
  return parse_tar_octal(block + field.offset, field.width);
}

bool is_zero_block(const unsigned char *block) {
  for (size_t i = 0; i < block_size; ++i)
    if (block[i] != 0) return false;
  return true;
}

// The sum counts the checksum field itself as eight spaces.
uint32_t header_sum(const unsigned char *block) {
  uint32_t sum = 0;
  for (size_t i = 0; i < block_size; ++i) {
    bool in_chksum = i >= chksum_field.offset && i < chksum_field.offset + chksum_field.width;
    sum += in_chksum ? ' ' : block[i];
  }
  return sum;
}

// Only plain regular-file members in the POSIX ustar form, with the whole
// name in the name field.
void check_header_form(const unsigned char *block) {
  require_or_abort(parse_field(block, chksum_field) == header_sum(block), "tar header checksum");
  require_or_abort(memcmp(block + magic_field.offset, "ustar", magic_field.width) == 0 &&
                       memcmp(block + version_field.offset, "00", version_field.width) == 0,
                   "ustar required");
  require_or_abort(block[typeflag_offset] == '0' && block[linkname_offset] == 0 &&
                       block[prefix_offset] == 0 &&
                       memchr(block + name_field.offset, 0, name_field.width) != nullptr,
                   "links/extensions/types forbidden");
}

MemberHeader read_member_numbers(const unsigned char *block) {
  MemberHeader header;
  header.size = parse_field(block, size_field);
  header.mode = parse_field(block, mode_field);
  uint32_t uid = parse_field(block, uid_field);
  uint32_t gid = uid == 0 ? parse_field(block, gid_field) : 0;
  require_or_abort(uid == 0 && gid == 0, "non-root archive owner");
  return header;
}

// The member that must come at this index, with its size and mode rules.
void select_expected_member(uint32_t member_index, MemberHeader header, char *expected) {
  if (member_index == 0) {
    require_or_abort(header.size <= meta_size_limit && header.mode == member_file_mode,
                     "meta limit/mode");
    snprintf(expected, member_name_size, "meta");
  } else if (member_index == 1) {
    require_or_abort(header.size <= files_size_limit && header.mode == member_file_mode,
                     "files limit/mode");
    snprintf(expected, member_name_size, "files");
  } else {
    uint32_t row_index = member_index - 2;
    require_or_abort(row_index < manifest_count, "extra payload");
    const ManifestEntry &row = manifest_table[row_index];
    require_or_abort(header.size == row.size && header.mode == row.mode,
                     "payload size/mode mismatch");
    snprintf(expected, member_name_size, "data/%s", row.path);
  }
}

// Created exclusively and never through a link: an entry already at the
// member's place is an error, not something to overwrite.
int create_member_file(int stage, const char *name) {
  char leaf[leaf_buffer_size];
  int parent = open_parent_chain(stage, 1, name, leaf);
  require_or_abort(parent >= 0, "payload parent");
  int file = openat(parent, leaf, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
  require_or_abort(file >= 0, "payload create");
  close(parent);
  return file;
}

bool is_metadata_byte(unsigned char c) { return (c >= 0x20 && c <= 0x7e) || c == '\n'; }

// Each chunk of "meta" is tested before any of it reaches the file.
void copy_member_data(int file, uint32_t size, bool is_meta) {
  unsigned char buffer[data_buffer_size];
  for (uint32_t remaining = size; remaining > 0;) {
    size_t chunk = remaining < data_buffer_size ? remaining : data_buffer_size;
    read_exact(stdin, chunk, buffer);
    if (is_meta)
      for (size_t i = 0; i < chunk; ++i)
        require_or_abort(is_metadata_byte(buffer[i]), "non-ASCII metadata");
    require_or_abort(write(file, buffer, chunk) == static_cast<ssize_t>(chunk), "payload write");
    remaining -= static_cast<uint32_t>(chunk);
  }
}

// Returns the padding length read.
uint32_t read_padding(uint32_t size) {
  uint32_t length = (block_size - size % block_size) % block_size;
  unsigned char padding[block_size];
  read_exact(stdin, length, padding);
  for (uint32_t i = 0; i < length; ++i) require_or_abort(padding[i] == 0, "nonzero padding");
  return length;
}

// The first line of "meta" chooses the package format.
void read_meta_format() {
  FILE *meta = fopen("meta", "r");
  char line[meta_line_size];
  require_or_abort(meta != nullptr && fgets(line, sizeof line, meta) != nullptr, "metadata format");
  format2_flag = strcmp(line, "format=2\n") == 0 ? 1 : 0;
  fclose(meta);
}

void unpack_member(UnpackRun *run, const unsigned char *block) {
  require_or_abort(run->end_markers == 0, "content after end marker");
  check_header_form(block);
  MemberHeader header = read_member_numbers(block);
  char expected[member_name_size];
  select_expected_member(run->member_index, header, expected);
  require_or_abort(strcmp(reinterpret_cast<const char *>(block + name_field.offset), expected) == 0,
                   "unexpected/unsafe archive path");

  int file = create_member_file(run->stage, expected);
  copy_member_data(file, header.size, run->member_index == 0);
  require_or_abort(fchmod(file, header.mode) == 0 && close(file) == 0, "payload close");
  uint32_t padding = read_padding(header.size);
  run->archive_total += header.size + padding;

  if (run->member_index == 0) read_meta_format();
  if (run->member_index == 1) load_package_manifest("files");
  run->member_index += 1;
}

// Reads one block; false at the end of input.
bool read_block(UnpackRun *run, unsigned char *block) {
  size_t count = fread(block, 1, block_size, stdin);
  if (count == 0) return false;
  require_or_abort(count == block_size, "truncated header");
  run->archive_total += block_size;
  require_or_abort(run->archive_total <= archive_limit, "archive limit");
  return true;
}

}  // namespace

void run_unpack() {
  setvbuf(stdin, input_buffer, _IOFBF, sizeof input_buffer);
  UnpackRun run{};
  run.stage = open(".", O_RDONLY | O_DIRECTORY);
  require_or_abort(run.stage >= 0, "stage open");

  unsigned char block[block_size];
  while (read_block(&run, block)) {
    if (is_zero_block(block)) {
      run.end_markers += 1;
      require_or_abort(run.end_markers <= end_marker_limit, "excess tar padding");
      continue;
    }
    unpack_member(&run, block);
  }

  require_or_abort(!ferror(stdin) && run.end_markers >= 2 && run.member_index == manifest_count + 2,
                   "incomplete archive");
  close(run.stage);
}
