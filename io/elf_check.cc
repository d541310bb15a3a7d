// ELF dependency check: a file may be installed if it is not ELF at all, or
// if it is an i386 executable bound to the musl loader whose libraries the
// package format allows. Every read is a small one after an explicit seek;
// the file is never read whole, mapped or run.
#include <bit>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>

#include "vesk_io.h"

namespace {

constexpr size_t elf_header_size = 52;
constexpr size_t program_header_size = 32;
constexpr uint32_t program_header_limit = 64;
constexpr size_t dynamic_entry_size = 8;
constexpr uint32_t dynamic_size_limit = 65536;
constexpr uint32_t dependency_limit = 64;
constexpr size_t dependency_name_size = 128;
constexpr size_t library_path_size = 512;

constexpr char musl_loader[] = "/lib/ld-musl-i386.so.1";
constexpr const char *library_prefixes[] = {"", "usr/"};
constexpr uint32_t interpreter_size = sizeof musl_loader;  // the NUL counts
static_assert(interpreter_size == 23, "loader string with its NUL");

constexpr uint32_t pt_load = 1, pt_dynamic = 2, pt_interp = 3;
constexpr uint32_t dt_null = 0, dt_needed = 1, dt_strtab = 5, dt_strsz = 10;
// Tags 1 to 29 are allowed where their bit is set: clear are 15 (search
// path), 22 (text relocations) and 29 (run path).
constexpr uint32_t allowed_low_tags = 0xDFBF7FFF;
constexpr uint32_t first_unchecked_tag = 30;

uint16_t load_le16(const unsigned char *bytes) {
  uint16_t value;
  memcpy(&value, bytes, sizeof value);
  if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap16(value);
  return value;
}

uint32_t load_le32(const unsigned char *bytes) {
  uint32_t value;
  memcpy(&value, bytes, sizeof value);
  if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap32(value);
  return value;
}

struct ElfHeader {
  uint8_t elf_class;
  uint8_t data_encoding;
  uint16_t type;
  uint16_t machine;
  uint32_t program_header_offset;
  uint16_t program_header_entry_size;
  uint16_t program_header_count;
};

ElfHeader decode_elf_header(const unsigned char *bytes) {
  ElfHeader header;
  header.elf_class = bytes[4];
  header.data_encoding = bytes[5];
  header.type = load_le16(bytes + 16);
  header.machine = load_le16(bytes + 18);
  header.program_header_offset = load_le32(bytes + 28);
  header.program_header_entry_size = load_le16(bytes + 42);
  header.program_header_count = load_le16(bytes + 44);
  return header;
}

struct ProgramHeader {
  uint32_t type;
  uint32_t offset;
  uint32_t vaddr;
  uint32_t file_size;
};

ProgramHeader decode_program_header(const unsigned char *bytes) {
  return {load_le32(bytes), load_le32(bytes + 4), load_le32(bytes + 8), load_le32(bytes + 16)};
}

struct DynamicEntry {
  uint32_t tag;
  uint32_t value;
};

// Positions are 32-bit file offsets; a seek takes them as signed, so 2^31
// and above fail here on every host, whatever the width of long.
void seek_to(FILE *file, uint32_t position) {
  require_or_abort(position <= 0x7FFFFFFFu && fseek(file, static_cast<long>(position), SEEK_SET) == 0,
                   "ELF seek");
}

struct ProgramHeaderTable {
  unsigned char bytes[program_header_limit * program_header_size];
  uint32_t count;
  ProgramHeader at(uint32_t index) const {
    return decode_program_header(bytes + index * program_header_size);
  }
};

// What the program headers say about the loader and the dynamic section.
struct Linkage {
  uint32_t interpreter_count = 0;
  bool has_dynamic = false;
  ProgramHeader dynamic{};
};

struct DynamicSummary {
  uint32_t string_table_address = 0;
  uint32_t string_table_size = 0;
  uint32_t dependencies[dependency_limit];
  uint32_t dependency_count = 0;
};

// Returns false for a file that is not ELF; such a file passes untouched.
bool read_elf_header(FILE *file, ElfHeader *header) {
  unsigned char bytes[elf_header_size];
  size_t got = fread(bytes, 1, sizeof bytes, file);
  // A directory or an unreadable file must not pass as "not ELF".
  require_or_abort(!ferror(file), "ELF read");
  if (got < 4 || memcmp(bytes, "\x7F" "ELF", 4) != 0) return false;

  require_or_abort(got == elf_header_size, "incompatible ELF");
  *header = decode_elf_header(bytes);
  require_or_abort(header->elf_class == 1 && header->data_encoding == 1 && header->machine == 3 &&
                       (header->type == 2 || header->type == 3),
                   "incompatible ELF");
  return true;
}

void read_program_headers(FILE *file, const ElfHeader &header, ProgramHeaderTable *table) {
  require_or_abort(header.program_header_entry_size == program_header_size &&
                       header.program_header_count <= program_header_limit,
                   "ELF program headers");
  table->count = header.program_header_count;
  seek_to(file, header.program_header_offset);
  read_exact(file, table->count * program_header_size, table->bytes);
}

void check_interpreter(FILE *file, const ProgramHeader &interp) {
  char loader[64];
  memset(loader, 0, sizeof loader);
  require_or_abort(interp.file_size == interpreter_size, "ELF interpreter size");
  seek_to(file, interp.offset);
  read_exact(file, interpreter_size, loader);
  require_or_abort(strcmp(loader, musl_loader) == 0, "glibc/foreign interpreter");
}

Linkage read_linkage(FILE *file, const ProgramHeaderTable &table) {
  Linkage linkage;
  for (uint32_t i = 0; i < table.count; ++i) {
    ProgramHeader header = table.at(i);
    if (header.type == pt_interp) {
      check_interpreter(file, header);
      ++linkage.interpreter_count;
    } else if (header.type == pt_dynamic) {
      linkage.has_dynamic = true;
      linkage.dynamic = header;
    }
  }
  return linkage;
}

bool is_allowed_tag(uint32_t tag) {
  return tag >= first_unchecked_tag || ((allowed_low_tags >> tag) & 1u) != 0;
}

void note_dynamic_entry(const DynamicEntry &entry, DynamicSummary *summary) {
  if (entry.tag == dt_strtab) summary->string_table_address = entry.value;
  if (entry.tag == dt_strsz) summary->string_table_size = entry.value;
  if (entry.tag == dt_needed) {
    require_or_abort(summary->dependency_count < dependency_limit, "ELF dependencies limit");
    summary->dependencies[summary->dependency_count++] = entry.value;
  }
  require_or_abort(is_allowed_tag(entry.tag), "ELF search path/textrel forbidden");
}

// Entries after the first DT_NULL are never read.
void read_dynamic_section(FILE *file, const ProgramHeader &dynamic, DynamicSummary *summary) {
  seek_to(file, dynamic.offset);
  uint32_t entry_count = dynamic.file_size / dynamic_entry_size;
  for (uint32_t i = 0; i < entry_count; ++i) {
    unsigned char bytes[dynamic_entry_size];
    read_exact(file, sizeof bytes, bytes);
    DynamicEntry entry{load_le32(bytes), load_le32(bytes + 4)};
    if (entry.tag == dt_null) break;
    note_dynamic_entry(entry, summary);
  }
}

// The last PT_LOAD whose file image holds the whole string table decides
// its file position. The end is computed in 64 bits so it cannot wrap.
bool locate_string_table(const ProgramHeaderTable &table, const DynamicSummary &summary,
                         uint32_t *position) {
  bool found = false;
  uint64_t table_end = uint64_t{summary.string_table_address} + summary.string_table_size;
  for (uint32_t i = 0; i < table.count; ++i) {
    ProgramHeader header = table.at(i);
    if (header.type != pt_load || header.vaddr > summary.string_table_address) continue;
    if (table_end > uint64_t{header.vaddr} + header.file_size) continue;
    found = true;
    *position = summary.string_table_address - header.vaddr + header.offset;
  }
  return found;
}

// Reads up to the NUL, the end of file, the end of the string table or
// 127 bytes, whichever comes first.
size_t read_dependency_name(FILE *file, uint32_t bytes_left, char *name) {
  size_t length = 0;
  while (length < dependency_name_size - 1 && length < bytes_left) {
    int c = fgetc(file);
    if (c <= 0) {
      require_or_abort(!(c == EOF && ferror(file)), "ELF read");
      break;
    }
    name[length++] = static_cast<char>(c);
  }
  name[length] = '\0';
  return length;
}

// Both candidates are built and tested, so an over-long second path is
// refused even when the first one exists.
void find_library(const char *name) {
  bool found = false;
  for (const char *prefix : library_prefixes) {
    char path[library_path_size];
    int length = snprintf(path, sizeof path, "%s/%slib/%s", target_root, prefix, name);
    require_or_abort(length >= 1 && length <= static_cast<int>(library_path_size - 1),
                     "library path length");
    struct stat status;
    if (stat(path, &status) == 0 && S_ISREG(status.st_mode)) found = true;
  }
  require_or_abort(found, "ELF dependency missing from target root");
}

void check_dependency_name(const char *name) {
  if (format2_flag == 0) {
    require_or_abort(strcmp(name, "libc.so") == 0,
                     "format 1 supports only libc.so ELF dependencies");
    return;
  }
  require_or_abort(is_name_chars(name) && strcmp(name, "libc.so.6") != 0 &&
                       strncmp(name, "ld-linux", 8) != 0,
                   "foreign ELF dependency");
  find_library(name);
}

void check_dependencies(FILE *file, const DynamicSummary &summary, uint32_t table_position) {
  for (uint32_t i = 0; i < summary.dependency_count; ++i) {
    uint32_t offset = summary.dependencies[i];
    require_or_abort(offset < summary.string_table_size, "ELF dependency bounds");
    seek_to(file, table_position + offset);
    char name[dependency_name_size];
    size_t length = read_dependency_name(file, summary.string_table_size - offset, name);
    require_or_abort(length >= 1 && length <= dependency_name_size - 2, "ELF dependency string");
    check_dependency_name(name);
  }
}

}  // namespace

void run_elf_check(const char *file_path) {
  FILE *file = fopen(file_path, "rb");
  require_or_abort(file != nullptr, "ELF open");

  ElfHeader header;
  if (!read_elf_header(file, &header)) {
    fclose(file);
    return;
  }
  ProgramHeaderTable table;
  read_program_headers(file, header, &table);
  Linkage linkage = read_linkage(file, table);

  // Format 2 accepts static executables as they are.
  if (format2_flag == 1 && linkage.interpreter_count == 0 && !linkage.has_dynamic) {
    fclose(file);
    return;
  }
  require_or_abort(linkage.interpreter_count == 1 && linkage.has_dynamic &&
                       linkage.dynamic.file_size <= dynamic_size_limit,
                   "invalid dynamic executable/interpreter");

  DynamicSummary summary;
  read_dynamic_section(file, linkage.dynamic, &summary);
  uint32_t table_position = 0;
  bool found = locate_string_table(table, summary, &table_position);
  require_or_abort(summary.dependency_count >= 1 && summary.string_table_size != 0 && found,
                   "ELF string table/dependencies");
  check_dependencies(file, summary, table_position);
  fclose(file);
}
