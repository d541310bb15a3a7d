// "elf" and "elf2" on ELF32 files built here field by field.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "harness.h"

using namespace vesk::test;

namespace {

struct Phdr { uint32_t type, offset, vaddr, filesz; };
struct Dyn { uint32_t tag, val; };

constexpr uint32_t pt_load = 1, pt_dynamic = 2, pt_interp = 3, pt_note = 4;
constexpr uint32_t base = 0x08048000, interp_at = 0x100, strtab_at = 0x200;
const std::string nul(1, '\0'), musl = "/lib/ld-musl-i386.so.1" + nul;

std::string le(uint64_t value, int width) {
  std::string bytes;
  // Wider fields (of 64-bit headers) are zero-extended.
  for (int i = 0; i < width; ++i) bytes += static_cast<char>(uint64_t{value} >> (8 * i));
  return bytes;
}
std::string dyn(Dyn d) { return le(d.tag, 4) + le(d.val, 4); }

// An ELF32 file: the header fields the check reads, the program headers,
// and byte strings placed at file offsets.
struct ElfFile {
  uint8_t elf_class = 1, data = 1;
  uint16_t type = 2, machine = 3, phentsize = 32;
  uint32_t phoff = 52;
  std::vector<Phdr> phdrs;
  std::vector<std::pair<uint32_t, std::string>> pieces;

  std::string bytes() const {
    std::string table;
    // p_memsz reaches beyond the file image, as for a segment with .bss.
    for (const Phdr &p : phdrs)
      table += le(p.type, 4) + le(p.offset, 4) + le(p.vaddr, 4) + le(p.vaddr, 4) + le(p.filesz, 4) +
               le(p.filesz + 0x1000, 4) + le(5, 4) + le(0x1000, 4);
    std::string file = "\x7F" "ELF" + std::string{char(elf_class), char(data), 1} + le(0, 8) +
                       le(0, 1) + le(type, 2) + le(machine, 2) + le(1, 4) + le(0, 4) +
                       le(phoff, 4) + le(0, 8) + le(52, 2) + le(phentsize, 2) +
                       le(phdrs.size(), 2) + le(0, 6);
    std::vector<std::pair<uint32_t, std::string>> all = pieces;
    if (phoff < 0x10000) all.insert(all.begin(), {phoff, table});
    for (const auto &[at, piece] : all) {
      if (file.size() < at + piece.size()) file.resize(at + piece.size(), '\0');
      file.replace(at, piece.size(), piece);
    }
    return file;
  }
};

// A dynamic executable: the interpreter at 0x100, the string table at
// 0x200, the dynamic section after it, one PT_LOAD mapping the whole file.
struct Executable {
  std::string interpreter = musl;
  std::vector<std::string> needed = {"libc.so"};
  std::vector<Dyn> extra, trailing;  // after the DT_NEEDED entries, after DT_NULL
  bool terminated = true;
  int64_t strsz = -1;  // -1: the table as built
  uint32_t strtab_address = base + strtab_at;
};
const uint32_t built_strsz = 9;  // "\0libc.so\0"

std::string image(const Executable &e, const std::function<void(ElfFile &)> &edit = nullptr) {
  std::string strtab = nul;
  std::string dynamic = dyn({5, e.strtab_address});
  for (const std::string &name : e.needed) {
    dynamic += dyn({1, static_cast<uint32_t>(strtab.size())});
    strtab += name + nul;
  }
  dynamic.insert(0, dyn({10, static_cast<uint32_t>(e.strsz < 0 ? strtab.size() : e.strsz)}));
  for (Dyn d : e.extra) dynamic += dyn(d);
  if (e.terminated) dynamic += dyn({0, 0});
  for (Dyn d : e.trailing) dynamic += dyn(d);
  uint32_t dynamic_at = (strtab_at + static_cast<uint32_t>(strtab.size()) + 7) & ~7u;
  uint32_t size = static_cast<uint32_t>(dynamic.size());
  ElfFile f;
  f.phdrs = {{pt_interp, interp_at, base + interp_at, static_cast<uint32_t>(e.interpreter.size())},
             {pt_dynamic, dynamic_at, base + dynamic_at, size},
             {pt_load, 0, base, dynamic_at + size}};
  f.pieces = {{interp_at, e.interpreter}, {strtab_at, strtab}, {dynamic_at, dynamic}};
  if (edit) edit(f);
  return f.bytes();
}

std::string with(const std::function<void(ElfFile &)> &edit) { return image({}, edit); }

// A target root with lib/libc.so, lib/ and usr/lib/.
void make_target_root(const TempDir &root) {
  for (const char *dir : {"lib", "usr", "usr/lib"}) make_dir(root / dir);
  write_file(root / "lib/libc.so", "");
}

const std::string missing = "ELF dependency missing from target root";

// Each file under "elf", and under "elf2" with a root holding lib/libc.so
// and a library of a 126-byte name.
TEST(Elf, EachFileGivesItsMessageUnderBothFormats) {
  const std::string incompatible = "incompatible ELF", headers = "ELF program headers";
  const std::string seek = "ELF seek", truncated = "truncated input";
  const std::string loader_size = "ELF interpreter size", loader = "glibc/foreign interpreter";
  const std::string invalid = "invalid dynamic executable/interpreter";
  const std::string forbidden = "ELF search path/textrel forbidden";
  const std::string limit = "ELF dependencies limit";
  const std::string no_table = "ELF string table/dependencies", name_rule = "ELF dependency string";
  const std::string format1 = "format 1 supports only libc.so ELF dependencies";
  const std::string foreign = "foreign ELF dependency", n126(126, 'n');
  using Names = std::vector<std::string>;
  const struct {
    const char *name;
    std::string bytes, elf, elf2;  // the messages; empty: passes
  } cases[] = {
      {"ThreeBytesOfMagic", "\x7F" "EL", "", ""},
      {"HeaderOneByteShort", ElfFile().bytes().substr(0, 51), incompatible, incompatible},
      {"BigEndian", with([](ElfFile &f) { f.data = 2; }), incompatible, incompatible},
      {"Arm", with([](ElfFile &f) { f.machine = 40; }), incompatible, incompatible},
      {"Relocatable", with([](ElfFile &f) { f.type = 1; }), incompatible, incompatible},
      {"PositionIndependent", with([](ElfFile &f) { f.type = 3; }), "", ""},
      {"PhentsizeZero", with([](ElfFile &f) { f.phentsize = 0; }), headers, headers},
      {"SixtyFourProgramHeaders", with([](ElfFile &f) { f.phdrs.resize(64, {pt_note, 0, 0, 0}); }), "", ""},
      {"SixtyFiveProgramHeaders", with([](ElfFile &f) { f.phdrs.resize(65, {pt_note, 0, 0, 0}); }), headers, headers},
      {"ProgramHeaderTableCut", image({}).substr(0, 52 + 3 * 32 - 1), truncated, truncated},
      {"ProgramHeadersJustBelowTwoGiB", with([](ElfFile &f) { f.phoff = 0x7FFFFFFF; }), truncated, truncated},
      {"ProgramHeadersAtTwoGiB", with([](ElfFile &f) { f.phoff = 0x80000000; }), seek, seek},
      {"LoaderWithoutNul", image({.interpreter = musl.substr(0, 22)}), loader_size, loader_size},
      {"Other23ByteLoader", image({.interpreter = "/lib/ld-musl-i386.so.2" + nul}), loader, loader},
      {"LoaderWithByteForNul", image({.interpreter = musl.substr(0, 22) + "X"}), loader, loader},
      {"TwoLoaders", with([](ElfFile &f) { f.phdrs.push_back(f.phdrs[0]); }), invalid, invalid},
      {"LoaderWithoutDynamic", with([](ElfFile &f) { f.phdrs[1].type = pt_note; }), invalid, invalid},
      // 8192 entries and no DT_NULL: the walk ends at p_filesz / 8.
      {"Dynamic65536BytesWithoutNull", image({.extra = std::vector<Dyn>(8189, {30, 4}), .terminated = false}), "", ""},
      {"Dynamic65537Bytes", with([](ElfFile &f) { f.phdrs[1].filesz = 65537; }), invalid, invalid},
      {"SixtyFourDependencies", image({.needed = Names(64, "libc.so")}), "", ""},
      {"SixtyFiveDependencies", image({.needed = Names(65, "libc.so")}), limit, limit},
      {"Textrel", image({.extra = {{22, 0}}}), forbidden, forbidden},
      {"ForbiddenAfterNull", image({.trailing = {{15, 1}, {22, 0}, {29, 1}}}), "", ""},
      {"AllowedTags", image({.extra = {{14, 1}, {16, 0}, {21, 0}, {23, 0}, {28, 0}, {30, 4}, {0xFFFFFFFF, 0}}}), "", ""},
      {"NoNeeded", image({.needed = {}}), no_table, no_table},
      {"StringTableSizeZero", image({.strsz = 0}), no_table, no_table},
      {"StringTableEndsAtFileImageEnd", with([](ElfFile &f) { f.phdrs[2].filesz = strtab_at + built_strsz; }), "", ""},
      {"StringTableAcrossEveryFileImageEnd", with([](ElfFile &f) {
         f.phdrs[2].filesz = strtab_at + built_strsz - 1;
         f.phdrs.push_back({pt_load, strtab_at, base + strtab_at, built_strsz - 1}); }), no_table, no_table},
      {"LaterMatchingLoadOverrides", with([](ElfFile &f) { f.phdrs.push_back({pt_load, 0x40, base, 0x1000}); }), name_rule, name_rule},
      // 0xFFFFFF00 + 0x200 wraps in 32 bits; the containment test must not.
      {"StringTableEndBeyondFourGiB", image({.strsz = 0x200, .strtab_address = 0xFFFFFF00},
         [](ElfFile &f) { f.phdrs.push_back({pt_load, 0, 0xFFFFF000, 0xFF0}); }), no_table, no_table},
      {"NameAtTwoGiB", with([](ElfFile &f) { f.phdrs[2] = {pt_load, 0x80000000 - strtab_at, base, 0x10000}; }), seek, seek},
      {"NameJustBelowTwoGiB", with([](ElfFile &f) { f.phdrs[2] = {pt_load, 0x7FFFFFFE - strtab_at, base, 0x10000}; }), name_rule, name_rule},
      {"OffsetAtTableSize", image({.needed = {}, .extra = {{1, 1}}}), "ELF dependency bounds", "ELF dependency bounds"},
      {"OffsetOnLastNul", image({.needed = {}, .extra = {{1, 0}}}), name_rule, name_rule},
      {"NameEndsAtTableEndWithoutNul", image({.strsz = built_strsz - 1}), "", ""},
      {"NameCutByTableEnd", image({.strsz = built_strsz - 2}), format1, missing},
      {"Name126Bytes", image({.needed = {n126}}), format1, ""},
      {"Name127Bytes", image({.needed = {n126 + "n"}}), name_rule, name_rule},
      {"HighByteIsPartOfName", image({.needed = {"\xFF"}}), format1, foreign},
      {"GlibcLibrary", image({.needed = {"libc.so.6"}}), format1, foreign},
      {"GlibcLoaderLibrary", image({.needed = {"ld-linux.so.2"}}), format1, foreign},
      {"NameWithSlash", image({.needed = {"../lib/libc.so"}}), format1, foreign},
  };
  TempDir root;
  make_target_root(root);
  write_file(root / ("lib/" + n126), "");
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    expect_io(run_io_on(c.bytes, {"elf"}), c.elf);
    expect_io(run_io_on(c.bytes, {"elf2", root.path()}), c.elf2);
  }
}

RunResult check_needing(const std::string &name, const std::string &root) {
  return run_io_on(image({.needed = {name}}), {"elf2", root});
}

TEST(ElfLookup, WhatCountsAsALibrary) {
  TempDir root;
  make_target_root(root);
  write_file(root / "usr/lib/libz.so.1", "");
  ASSERT_EQ(symlink("libc.so", (root / "lib/libfile.so").c_str()), 0);
  ASSERT_EQ(symlink("/nonexistent", (root / "lib/libdangling.so").c_str()), 0);
  make_dir(root / "lib/libdir.so");
  for (const auto &[name, message] : {std::pair<std::string, std::string>{"libz.so.1", ""},
                                      {"libfile.so", ""}, {"libdangling.so", missing},
                                      {"libdir.so", missing}, {"libnone.so", missing}})
    expect_io(check_needing(name, root.path()), message);
  expect_io(check_needing("libz.so.1", root.path() + "/"), "");
}

// No root: this system's /usr/lib/os-release (a regular file) is found.
TEST(ElfLookup, EmptyRootMeansTheRunningSystem) {
  expect_io(run_io_on(image({.needed = {"os-release"}}), {"elf2"}), "");
  expect_io(run_io_on(image({.needed = {"vesk-no-such-library.so"}}), {"elf2"}), missing);
}

// A root whose ROOT/usr/lib/libz.so is `length` bytes long.
std::string root_for_second_candidate(const TempDir &dir, size_t length) {
  std::string root = dir.path();
  const size_t fixed = std::string("/usr/lib/libz.so").size();
  while (root.size() + 202 + fixed < length) make_dir(root += "/" + std::string(200, 'd'));
  make_dir(root += "/" + std::string(length - fixed - root.size() - 1, 'e'));
  for (const char *sub : {"/lib", "/usr", "/usr/lib"}) make_dir(root + sub);
  return root;
}

// Both candidates are built: one of 512 bytes is refused even when the
// first, shorter one exists.
TEST(ElfLookup, CandidatePathsOf511And512Bytes) {
  TempDir dir511, dir512;
  std::string fits = root_for_second_candidate(dir511, 511);
  write_file(fits + "/usr/lib/libz.so", "");
  ASSERT_EQ((fits + "/usr/lib/libz.so").size(), 511u);
  expect_io(check_needing("libz.so", fits), "");
  std::string too_long = root_for_second_candidate(dir512, 512);
  write_file(too_long + "/lib/libz.so", "");
  expect_io(check_needing("libz.so", too_long), "library path length");
}

// A directory must not pass as "not ELF". A read error inside a dependency
// name: the image ends at a page end in the middle of a name, and the next
// read fails instead of meeting EOF.
TEST(ElfFile, UnopenableAndUnreadable) {
  TempDir dir;
  expect_io(run_io({"elf", dir / "missing"}), "ELF open");
  expect_io(run_io({"elf", dir.path()}), "ELF read");
  expect_io(run_io({"elf2", dir.path(), dir.path()}), "ELF read");
  const uint32_t page = static_cast<uint32_t>(FailingFile::page_size());
  std::string bytes = image({.strsz = 0x2000}, [&](ElfFile &f) {
    f.phdrs[2].filesz = 0x10000;
    f.phdrs.push_back({pt_load, page - 4 - strtab_at, base, 0x10000});
  });
  ASSERT_LE(bytes.size(), page - 4);
  bytes.resize(page - 4, '\0');
  FailingFile failing(bytes + std::string("\0lib", 4));
  expect_io(run_io({"elf", failing.path()}), "ELF read");
}

}  // namespace
