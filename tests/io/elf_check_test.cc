// "elf" and "elf2" on ELF32 files built here field by field.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "harness.h"

using namespace vesk::test;

namespace {

struct Phdr {
  uint32_t type, offset, vaddr, filesz;
};
struct Dyn {
  uint32_t tag, val;
};

constexpr uint32_t pt_load = 1, pt_dynamic = 2, pt_interp = 3, pt_note = 4;
constexpr uint32_t base = 0x08048000;
constexpr uint32_t interp_at = 0x100, strtab_at = 0x200;
const std::string musl = std::string("/lib/ld-musl-i386.so.1") + '\0';

std::string le(uint32_t value, int width) {
  std::string bytes;
  for (int i = 0; i < width; ++i) bytes += static_cast<char>(value >> (8 * i));
  return bytes;
}

void put(std::string &file, size_t at, const std::string &bytes) {
  if (file.size() < at + bytes.size()) file.resize(at + bytes.size(), '\0');
  file.replace(at, bytes.size(), bytes);
}

// An ELF32 file: the header fields the check reads, the program headers,
// and byte strings placed at file offsets.
struct ElfFile {
  uint8_t elf_class = 1, data = 1;
  uint16_t type = 2, machine = 3, phentsize = 32;
  int phnum = -1;  // -1: as many as there are headers
  uint32_t phoff = 52;
  std::vector<Phdr> phdrs;
  std::vector<std::pair<uint32_t, std::string>> pieces;

  std::string bytes() const {
    std::string file;
    put(file, 0, "\x7F" "ELF");
    put(file, 4, {static_cast<char>(elf_class), static_cast<char>(data), 1});
    put(file, 16, le(type, 2) + le(machine, 2) + le(1, 4) + le(0, 4) + le(phoff, 4));
    put(file, 40, le(52, 2) + le(phentsize, 2) +
                      le(phnum < 0 ? static_cast<uint32_t>(phdrs.size()) : phnum, 2) + le(0, 6));
    std::string table;
    // p_memsz reaches beyond the file image, as for a segment with .bss.
    for (const Phdr &p : phdrs)
      table += le(p.type, 4) + le(p.offset, 4) + le(p.vaddr, 4) + le(p.vaddr, 4) +
               le(p.filesz, 4) + le(p.filesz + 0x1000, 4) + le(5, 4) + le(0x1000, 4);
    if (phoff < 0x10000) put(file, phoff, table);
    for (const auto &[at, bytes] : pieces) put(file, at, bytes);
    return file;
  }
};

// A dynamic executable: interpreter at 0x100, string table at 0x200, the
// dynamic section after it, one PT_LOAD mapping the whole file at base.
struct Executable {
  std::string interpreter = musl;
  std::vector<std::string> needed = {"libc.so"};
  std::vector<Dyn> extra;     // after the DT_NEEDED entries
  std::vector<Dyn> trailing;  // after DT_NULL
  bool terminated = true;
  bool needed_entries = true;  // false: names in the table, no DT_NEEDED for them
  bool strtab_entry = true;
  int64_t strsz = -1;          // -1: the table as built
  uint32_t strtab_address = base + strtab_at;

  std::string strtab() const {
    std::string table(1, '\0');
    for (const std::string &name : needed) table += name + '\0';
    return table;
  }
  uint32_t strtab_size() const {
    return strsz < 0 ? static_cast<uint32_t>(strtab().size()) : static_cast<uint32_t>(strsz);
  }
  ElfFile file() const {
    std::vector<Dyn> entries = {{10, strtab_size()}};
    if (strtab_entry) entries.insert(entries.begin(), {5, strtab_address});
    uint32_t offset = 1;
    for (const std::string &name : needed) {
      if (needed_entries) entries.push_back({1, offset});
      offset += static_cast<uint32_t>(name.size()) + 1;
    }
    entries.insert(entries.end(), extra.begin(), extra.end());
    if (terminated) entries.push_back({0, 0});
    entries.insert(entries.end(), trailing.begin(), trailing.end());
    std::string dynamic;
    for (const Dyn &d : entries) dynamic += le(d.tag, 4) + le(d.val, 4);

    uint32_t dynamic_at = (strtab_at + static_cast<uint32_t>(strtab().size()) + 7) & ~7u;
    uint32_t end = dynamic_at + static_cast<uint32_t>(dynamic.size());
    ElfFile f;
    f.phdrs = {{pt_interp, interp_at, base + interp_at, static_cast<uint32_t>(interpreter.size())},
               {pt_dynamic, dynamic_at, base + dynamic_at, static_cast<uint32_t>(dynamic.size())},
               {pt_load, 0, base, end}};
    f.pieces = {{interp_at, interpreter}, {strtab_at, strtab()}, {dynamic_at, dynamic}};
    return f;
  }
};

std::string image(const std::function<void(Executable &)> &edit_executable,
                  const std::function<void(ElfFile &)> &edit_file = nullptr) {
  Executable e;
  if (edit_executable) edit_executable(e);
  ElfFile f = e.file();
  if (edit_file) edit_file(f);
  return f.bytes();
}

std::string file_image(const std::function<void(ElfFile &)> &edit_file) {
  return image(nullptr, edit_file);
}

// A target root with lib/libc.so, and whatever else a case adds.
struct TargetRoot {
  TempDir dir;
  TargetRoot() {
    make_dir(dir / "lib");
    make_dir(dir / "usr");
    make_dir(dir / "usr/lib");
    write_file(dir / "lib/libc.so", "");
  }
};

RunResult check(const std::string &command, const std::string &bytes, const std::string &root) {
  TempDir dir;
  write_file(dir / "a.out", bytes, 0755);
  std::vector<std::string> args = {command, dir / "a.out"};
  if (!root.empty()) args.push_back(root);
  return run_io(args);
}

void expect_result(const RunResult &r, const std::string &message) {
  EXPECT_EQ(r.out, "");
  if (message.empty()) {
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, io_failure(message));
  }
}

struct ElfCase {
  std::string name;
  std::string bytes;
  std::string elf;   // message under "elf"; empty: passes
  std::string elf2;  // message under "elf2" with a root holding lib/libc.so
};

void PrintTo(const ElfCase &c, std::ostream *out) { *out << c.name; }

class Elf : public ::testing::TestWithParam<ElfCase> {};

TEST_P(Elf, GivesItsMessageUnderBothFormats) {
  const ElfCase &c = GetParam();
  TargetRoot root;
  write_file(root.dir / "lib/" + std::string(126, 'n'), "");
  expect_result(check("elf", c.bytes, ""), c.elf);
  expect_result(check("elf", c.bytes, root.dir.path()), c.elf);
  expect_result(check("elf2", c.bytes, root.dir.path()), c.elf2);
}

const std::string incompatible = "incompatible ELF";
const std::string headers = "ELF program headers";
const std::string seek = "ELF seek";
const std::string truncated = "truncated input";
const std::string invalid = "invalid dynamic executable/interpreter";
const std::string forbidden = "ELF search path/textrel forbidden";
const std::string no_table = "ELF string table/dependencies";
const std::string bounds = "ELF dependency bounds";
const std::string string_rule = "ELF dependency string";
const std::string format1 = "format 1 supports only libc.so ELF dependencies";
const std::string foreign = "foreign ELF dependency";
const std::string missing = "ELF dependency missing from target root";

// Offset of the first name in the string table, and the end of the table.
constexpr uint32_t first_name = 1;
const uint32_t standard_strsz = static_cast<uint32_t>(Executable().strtab().size());

std::vector<ElfCase> elf_cases() {
  std::string header_only = ElfFile().bytes();
  return {
      {"Empty", "", "", ""},
      {"ThreeBytesOfMagic", "\x7F" "EL", "", ""},
      {"ShellScript", "#!/bin/sh\necho hello\n", "", ""},
      {"MagicAndFortyBytes", std::string("\x7F" "ELF") + std::string(36, '\1'), incompatible,
       incompatible},
      {"HeaderOneByteShort", header_only.substr(0, 51), incompatible, incompatible},
      {"HeaderAloneNoProgramHeaders", header_only, invalid, ""},
      {"SixtyFourBit", file_image([](ElfFile &f) { f.elf_class = 2; }), incompatible, incompatible},
      {"BigEndian", file_image([](ElfFile &f) { f.data = 2; }), incompatible, incompatible},
      {"Arm", file_image([](ElfFile &f) { f.machine = 40; }), incompatible, incompatible},
      {"Relocatable", file_image([](ElfFile &f) { f.type = 1; }), incompatible, incompatible},
      {"Core", file_image([](ElfFile &f) { f.type = 4; }), incompatible, incompatible},
      {"PositionIndependent", file_image([](ElfFile &f) { f.type = 3; }), "", ""},
      {"Minimal", image(nullptr), "", ""},
      {"PhentsizeZero", file_image([](ElfFile &f) { f.phentsize = 0; }), headers, headers},
      {"PhentsizeZeroNoHeaders", ElfFile{.phentsize = 0}.bytes(), headers, headers},
      {"SixtyFourProgramHeaders",
       file_image([](ElfFile &f) { f.phdrs.resize(64, {pt_note, 0, 0, 0}); }), "", ""},
      {"SixtyFiveProgramHeaders",
       file_image([](ElfFile &f) { f.phdrs.resize(65, {pt_note, 0, 0, 0}); }), headers, headers},
      {"ProgramHeaderTableCut", image(nullptr).substr(0, 52 + 3 * 32 - 1), truncated, truncated},
      {"ProgramHeadersJustBelowTwoGiB", file_image([](ElfFile &f) { f.phoff = 0x7FFFFFFF; }),
       truncated, truncated},
      {"ProgramHeadersAtTwoGiB", file_image([](ElfFile &f) { f.phoff = 0x80000000; }), seek, seek},
      {"NoHeadersAtTwoGiBStillSeeks", ElfFile{.phoff = 0x80000000}.bytes(), seek, seek},
      {"GlibcLoader", image([](Executable &e) { e.interpreter = "/lib/ld-linux.so.2" + std::string(1, '\0'); }),
       "ELF interpreter size", "ELF interpreter size"},
      {"LoaderWithoutNul", image([](Executable &e) { e.interpreter.pop_back(); }),
       "ELF interpreter size", "ELF interpreter size"},
      {"Other23ByteLoader",
       image([](Executable &e) { e.interpreter = "/lib/ld-musl-i386.so.2" + std::string(1, '\0'); }),
       "glibc/foreign interpreter", "glibc/foreign interpreter"},
      {"LoaderWithByteForNul", image([](Executable &e) { e.interpreter.back() = 'X'; }),
       "glibc/foreign interpreter", "glibc/foreign interpreter"},
      {"LoaderAtTwoGiB", image(nullptr, [](ElfFile &f) { f.phdrs[0].offset = 0x80000000; }), seek,
       seek},
      {"LoaderCut",
       image(nullptr, [](ElfFile &f) {
         f.phdrs[0].offset = static_cast<uint32_t>(f.bytes().size()) - 22;
       }),
       truncated, truncated},
      {"TwoLoaders", image(nullptr, [](ElfFile &f) { f.phdrs.push_back(f.phdrs[0]); }), invalid,
       invalid},
      {"SecondLoaderTestedToo",
       image(nullptr,
             [](ElfFile &f) {
               f.phdrs.push_back(f.phdrs[0]);
               f.phdrs.back().filesz = 19;
             }),
       "ELF interpreter size", "ELF interpreter size"},
      {"LoaderWithoutDynamic", image(nullptr, [](ElfFile &f) { f.phdrs[1].type = pt_note; }),
       invalid, invalid},
      {"DynamicWithoutLoader", image(nullptr, [](ElfFile &f) { f.phdrs[0].type = pt_note; }),
       invalid, invalid},
      {"Static",
       image(nullptr, [](ElfFile &f) { f.phdrs[0].type = f.phdrs[1].type = pt_note; }), invalid,
       ""},
      {"Dynamic65536Bytes", image(nullptr, [](ElfFile &f) { f.phdrs[1].filesz = 65536; }), "", ""},
      {"Dynamic65537Bytes", image(nullptr, [](ElfFile &f) { f.phdrs[1].filesz = 65537; }), invalid,
       invalid},
      {"LastDynamicHeaderDecides",
       image(nullptr,
             [](ElfFile &f) {
               f.phdrs.insert(f.phdrs.begin() + 1, Phdr{pt_dynamic, 0, 0, 0x20000});
             }),
       "", ""},
      // 8192 entries and no DT_NULL: the walk ends at p_filesz / 8.
      {"FullDynamicSectionWithoutNull",
       image([](Executable &e) {
         e.terminated = false;
         e.extra.resize(8192 - 3, {30, 4});
       }),
       "", ""},
      {"DynamicSizeRemainderIgnored",
       image([](Executable &e) { e.terminated = false; },
             [](ElfFile &f) { f.phdrs[1].filesz += 7; }),
       "", ""},
      {"DynamicAtTwoGiB", image(nullptr, [](ElfFile &f) { f.phdrs[1].offset = 0x80000000; }), seek,
       seek},
      {"DynamicEntryCut", image([](Executable &e) { e.terminated = false; },
                               [](ElfFile &f) { f.phdrs[1].filesz += 8; }),
       truncated, truncated},
      {"SixtyFourDependencies",
       image([](Executable &e) { e.needed.assign(64, "libc.so"); }), "", ""},
      {"SixtyFiveDependencies",
       image([](Executable &e) { e.needed.assign(65, "libc.so"); }), "ELF dependencies limit",
       "ELF dependencies limit"},
      {"Rpath", image([](Executable &e) { e.extra = {{15, 1}}; }), forbidden, forbidden},
      {"Textrel", image([](Executable &e) { e.extra = {{22, 0}}; }), forbidden, forbidden},
      {"Runpath", image([](Executable &e) { e.extra = {{29, 1}}; }), forbidden, forbidden},
      {"ForbiddenAfterNull",
       image([](Executable &e) { e.trailing = {{15, 1}, {22, 0}, {29, 1}}; }), "", ""},
      {"ForbiddenTagAfterLimit",
       image([](Executable &e) { e.needed.assign(65, "libc.so"); e.extra = {{29, 1}}; }),
       "ELF dependencies limit", "ELF dependencies limit"},
      // Entries are judged in file order: a run path before the 65th name.
      {"ForbiddenTagBeforeLimit",
       image([](Executable &e) { e.needed.assign(66, "libc.so"); },
             [](ElfFile &f) { f.pieces.back().second.replace(16, 4, le(29, 4)); }),
       forbidden, forbidden},
      {"AllowedTags",
       image([](Executable &e) {
         e.extra = {{14, 1}, {16, 0}, {21, 0}, {23, 0}, {28, 0}, {30, 4}, {0x6FFFFFFB, 1},
                    {0x70000000, 0}, {0xFFFFFFFF, 0}};
       }),
       "", ""},
      {"NoNeeded", image([](Executable &e) { e.needed.clear(); }), no_table, no_table},
      {"StringTableSizeZero", image([](Executable &e) { e.strsz = 0; }), no_table, no_table},
      {"NoStringTableAddressUsesZero",
       image([](Executable &e) { e.strtab_entry = false; },
             [](ElfFile &f) { f.phdrs.push_back({pt_load, strtab_at, 0, 0x100}); }),
       "", ""},
      {"StringTableEndsAtFileImageEnd",
       image(nullptr, [](ElfFile &f) { f.phdrs[2].filesz = strtab_at + standard_strsz; }), "", ""},
      {"StringTableAcrossEveryFileImageEnd",
       image(nullptr,
             [](ElfFile &f) {
               f.phdrs[2].filesz = strtab_at + standard_strsz - 1;
               f.phdrs.push_back({pt_load, strtab_at, base + strtab_at, standard_strsz - 1});
             }),
       no_table, no_table},
      {"LoadAboveStringTableIgnored",
       image(nullptr,
             [](ElfFile &f) { f.phdrs.push_back({pt_load, 0x40, base + strtab_at + 1, 0x100}); }),
       "", ""},
      {"LastMatchingLoadDecides",
       image(nullptr, [](ElfFile &f) { f.phdrs.insert(f.phdrs.begin(), {pt_load, 0x40, base, 0x1000}); }),
       "", ""},
      {"LaterMatchingLoadOverrides",
       image(nullptr, [](ElfFile &f) { f.phdrs.push_back({pt_load, 0x40, base, 0x1000}); }),
       string_rule, string_rule},
      // 0xFFFFFF00 + 0x200 wraps in 32 bits; the containment test must not.
      {"StringTableEndBeyondFourGiB",
       image([](Executable &e) { e.strtab_address = 0xFFFFFF00; e.strsz = 0x200; },
             [](ElfFile &f) { f.phdrs.push_back({pt_load, 0, 0xFFFFF000, 0xFF0}); }),
       no_table, no_table},
      // 0x1200 + 0xFFFFF000 wraps to the table's real file offset 0x200.
      {"StringTablePositionWraps",
       image(nullptr,
             [](ElfFile &f) { f.phdrs[2] = {pt_load, 0xFFFFF000, base - 0x1000, 0x10000}; }),
       "", ""},
      // The table "starts" at 0xFFFFFF00; name offset 0x301 wraps to 0x201.
      {"NamePositionWraps",
       image([](Executable &e) { e.strsz = 0x400; e.extra = {{1, 0x301}}; e.needed_entries = false; },
             [](ElfFile &f) { f.phdrs[2] = {pt_load, 0xFFFFFD00, base, 0x10000}; }),
       "", ""},
      {"NameAtTwoGiB",
       image(nullptr, [](ElfFile &f) { f.phdrs[2] = {pt_load, 0x80000000 - strtab_at, base, 0x10000}; }),
       seek, seek},
      {"NameJustBelowTwoGiB",
       image(nullptr, [](ElfFile &f) { f.phdrs[2] = {pt_load, 0x7FFFFFFE - strtab_at, base, 0x10000}; }),
       string_rule, string_rule},
      {"OffsetAtTableSize",
       image([](Executable &e) { e.needed_entries = false; e.extra = {{1, standard_strsz}}; }),
       bounds, bounds},
      {"OffsetOnLastNul",
       image([](Executable &e) { e.needed_entries = false; e.extra = {{1, standard_strsz - 1}}; }),
       string_rule, string_rule},
      {"OffsetOnFirstNul", image([](Executable &e) { e.extra = {{1, 0}}; }), string_rule,
       string_rule},
      {"NameEndsAtTableEndWithoutNul", image([](Executable &e) { e.strsz = standard_strsz - 1; }),
       "", ""},
      {"NameCutByTableEnd", image([](Executable &e) { e.strsz = standard_strsz - 2; }), format1,
       missing},
      {"NameEndsAtEndOfFile",
       image([](Executable &e) { e.strsz = 0x100; },
             [](ElfFile &f) {
               uint32_t end = static_cast<uint32_t>(f.bytes().size());
               f.phdrs[2] = {pt_load, end - strtab_at, base, 0x10000};
               f.pieces.push_back({end, std::string(1, '\0') + "libc.so"});
             }),
       "", ""},
      {"Name126Bytes", image([](Executable &e) { e.needed = {std::string(126, 'n')}; }), format1,
       ""},
      {"Name127Bytes", image([](Executable &e) { e.needed = {std::string(127, 'n')}; }),
       string_rule, string_rule},
      {"HighByteIsPartOfName", image([](Executable &e) { e.needed = {"\xFF"}; }), format1, foreign},
      {"GlibcLibrary", image([](Executable &e) { e.needed = {"libc.so.6"}; }), format1, foreign},
      {"GlibcLoaderLibrary", image([](Executable &e) { e.needed = {"ld-linux.so.2"}; }), format1,
       foreign},
      {"NameWithSlash", image([](Executable &e) { e.needed = {"../lib/libc.so"}; }), format1,
       foreign},
      {"FirstBadNameDecides",
       image([](Executable &e) { e.needed = {"libc.so", "libz.so.1", "libc.so.6"}; }), format1,
       missing},
  };
}

INSTANTIATE_TEST_SUITE_P(Cases, Elf, ::testing::ValuesIn(elf_cases()),
                         [](const auto &info) { return info.param.name; });

RunResult check_needing(const std::string &name, const std::string &root) {
  return check("elf2", image([&](Executable &e) { e.needed = {name}; }), root);
}

TEST(ElfLookup, LibraryOnlyInUsrLib) {
  TargetRoot root;
  write_file(root.dir / "usr/lib/libz.so.1", "");
  expect_result(check_needing("libz.so.1", root.dir.path()), "");
  expect_result(check_needing("libz.so.1", root.dir.path() + "/"), "");
}

TEST(ElfLookup, WhatCountsAsALibrary) {
  TargetRoot root;
  ASSERT_EQ(symlink("libc.so", (root.dir / "lib/libfile.so").c_str()), 0);
  ASSERT_EQ(symlink("/nonexistent", (root.dir / "lib/libdangling.so").c_str()), 0);
  ASSERT_EQ(symlink("../usr", (root.dir / "lib/libdirlink.so").c_str()), 0);
  make_dir(root.dir / "lib/libdir.so");
  expect_result(check_needing("libfile.so", root.dir.path()), "");
  expect_result(check_needing("libdangling.so", root.dir.path()), missing);
  expect_result(check_needing("libdirlink.so", root.dir.path()), missing);
  expect_result(check_needing("libdir.so", root.dir.path()), missing);
  expect_result(check_needing("libnone.so", root.dir.path()), missing);
}

TEST(ElfLookup, EmptyRootMeansTheRunningSystem) {
  struct stat status;
  ASSERT_EQ(stat("/usr/lib/os-release", &status), 0);
  ASSERT_TRUE(S_ISREG(status.st_mode));
  expect_result(check("elf2", image([](Executable &e) { e.needed = {"os-release"}; }), ""), "");
  expect_result(check_needing("vesk-no-such-library.so", ""), missing);
}

// Builds ROOT so that ROOT/usr/lib/NAME is `length` bytes long.
std::string root_for_second_candidate(const TempDir &dir, const std::string &name, size_t length) {
  std::string root = dir.path();
  size_t fixed = std::string("/usr/lib/").size() + name.size();
  while (root.size() + 202 + fixed < length) {
    root += "/" + std::string(200, 'd');
    make_dir(root);
  }
  root += "/" + std::string(length - fixed - root.size() - 1, 'e');
  make_dir(root);
  make_dir(root + "/lib");
  make_dir(root + "/usr");
  make_dir(root + "/usr/lib");
  return root;
}

TEST(ElfLookup, CandidatePathOf511BytesFits) {
  TempDir dir;
  std::string root = root_for_second_candidate(dir, "libz.so", 511);
  write_file(root + "/usr/lib/libz.so", "");
  ASSERT_EQ((root + "/usr/lib/libz.so").size(), 511u);
  expect_result(check_needing("libz.so", root), "");
}

TEST(ElfLookup, SecondCandidateOf512BytesIsRefusedEvenIfFirstExists) {
  TempDir dir;
  std::string root = root_for_second_candidate(dir, "libz.so", 512);
  write_file(root + "/lib/libz.so", "");
  ASSERT_EQ((root + "/lib/libz.so").size(), 508u);
  expect_result(check_needing("libz.so", root), "library path length");
}

TEST(ElfFile, UnopenableAndUnreadable) {
  TempDir dir;
  expect_result(run_io({"elf", dir / "missing"}), "ELF open");
  expect_result(run_io({"elf", dir.path()}), "ELF read");
  expect_result(run_io({"elf2", dir.path(), dir.path()}), "ELF read");
}

// A read error inside a dependency name: the image ends at a page end in
// the middle of a name, and the next read fails instead of meeting EOF.
TEST(ElfFile, ReadErrorInsideDependencyName) {
  const uint32_t page = static_cast<uint32_t>(FailingFile::page_size());
  std::string bytes = image([](Executable &e) { e.strsz = 0x2000; },
                            [&](ElfFile &f) {
                              f.phdrs[2].filesz = 0x10000;
                              f.phdrs.push_back({pt_load, page - 4 - strtab_at, base, 0x10000});
                            });
  ASSERT_LE(bytes.size(), page - 4);
  bytes.resize(page - 4, '\0');
  FailingFile file(bytes + std::string("\0lib", 4));
  expect_result(run_io({"elf", file.path()}), "ELF read");
}

}  // namespace
