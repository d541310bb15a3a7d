#include <elf.h>

#include "harness.h"

using namespace vesk::test;

string bytes(const auto &value) { return {(const char *)&value, sizeof value}; }
string entry(int tag, uint32_t value) { return bytes(Elf32_Dyn{tag, {value}}); }
string pad(string file, size_t size) { return file.append(size - file.size(), '\0'); }

struct Exe {
  uint16_t elf_class = ELFCLASS32, type = ET_EXEC, phnum = 3;
  uint32_t phoff = 52, dynamic_size = 0, needed = 1;
  string loader = "/lib/ld-musl-i386.so.1", library = "libc.so", dynamic{}, file{};
  string image() {
    string table = entry(DT_STRTAB, 0xA00) + entry(DT_STRSZ, library.size() + 2);
    for (auto i = needed; i > 0; --i) table += entry(DT_NEEDED, 1);
    Elf32_Ehdr header{.e_ident = {0x7F, 'E', 'L', 'F', uint8_t(elf_class), ELFDATA2LSB},
                      .e_type = type,
                      .e_machine = EM_386,
                      .e_phoff = phoff,
                      .e_phentsize = sizeof(Elf32_Phdr),
                      .e_phnum = phnum};
    uint32_t size = dynamic_size ?: table.size() + dynamic.size();
    Elf32_Phdr segments[] = {{PT_INTERP, 0x900, 0x900, 0x900, 23, 23, 0, 0},
                             {PT_DYNAMIC, 0xB00, 0xB00, 0xB00, size, size, 0, 0},
                             {PT_LOAD, 0, 0, 0, 0x2000, 0x2000, 0, 0}};
    string headers = bytes(header) + bytes(segments);
    return pad(pad(pad(headers, 0x900) + loader, 0xA00) + '\0' + library, 0xB00) + table + dynamic;
  }
};

#define ROW(...) std::pair<string, Exe>(#__VA_ARGS__, Exe{__VA_ARGS__})

TEST(Elf, FilesUnderBothFormats) {  // images built field by field, and gcc's programs
  TempDir dir;                      // ROOT/usr/lib/ and 125 bytes make 511
  const string root = string(377 - dir.path.size(), '/') + dir.path, n125(125, 'n'), n126(126, 'n');
  sh("cd " + root + " && mkdir -p lib/libdir.so usr/lib && touch lib/libc.so lib/" + n126 +
     " usr/lib/" + n125 + " && echo 'int main() {}' >m.c");
  auto cc = [&](string flags) {
    EXPECT_EQ(sh("cd " + dir.path + " && gcc m.c " + flags).err, "");
    return std::pair{"gcc " + flags, Exe{.file = read_file(dir / "a.out")}};
  };
  const string musl = "-m32 -nostdlib -e main -Wl,--no-as-needed,-I,/lib/ld-musl-i386.so.1 libc.so";
  cc("-m32 -shared -nostdlib -Wl,-soname,libc.so -o libc.so");
  const string only = "format 1 supports only libc.so ELF dependencies";
  const struct {
    string elf;
    std::vector<std::pair<string, Exe>> rows;
    string elf2 = elf;
  } groups[] = {
      {"ELF open", {ROW(.file = dir / "none")}},
      {"ELF read", {ROW(.file = "/")}},
      {"", {ROW(.file = "\177EL"), cc(musl)}},
      {"incompatible ELF", {ROW(.elf_class = ELFCLASS64), ROW(.type = ET_REL), cc("")}},
      {"ELF program headers", {ROW(.phnum = 65)}},
      {"ELF seek", {ROW(.phoff = 0x80000000)}},
      {"glibc/foreign interpreter", {ROW(.loader = "/lib/ld-linux.so.2")}},
      {"invalid dynamic executable/interpreter",
       {ROW(.phnum = 1), ROW(.dynamic_size = 65537), cc("-m32 -static-pie")}},
      {"invalid dynamic executable/interpreter", {cc("-m32 -static")}, ""},
      {"ELF interpreter size", {cc("-m32")}},
      {"ELF search path/textrel forbidden",
       {cc(musl + " -Wl,--disable-new-dtags,-rpath,/x"),
        cc(musl + " -Wl,--enable-new-dtags,-rpath,/x")}},
      {"ELF dependencies limit", {ROW(.needed = 65)}},
      {"ELF string table/dependencies",
       {ROW(.needed = 0), ROW(.dynamic = entry(DT_STRSZ, 0)),
        ROW(.dynamic = entry(DT_STRTAB, 0xFFFFFFF8))}},
      {"ELF dependency string",
       {ROW(.dynamic = entry(DT_STRTAB, 0x1FF0)), ROW(.library = n126 + "n")}},
      {"ELF dependency bounds", {ROW(.needed = 0, .dynamic = entry(DT_NEEDED, 9))}},
      {only,
       {ROW(.dynamic = entry(DT_STRSZ, 7)), ROW(.library = "libdir.so")},
       "ELF dependency missing from target root"},
      {only, {ROW(.library = n125)}, ""},
      {only, {ROW(.library = n126)}, "library path length"},
      {only,
       {ROW(.library = "libc.so.6"), ROW(.library = "ld-linux.so.2"), ROW(.library = "x/libc.so")},
       "foreign ELF dependency"}};
  auto failure = [](string message) { return message.empty() ? "" : "vesk-io: " + message; };
  for (const auto &group : groups)
    for (auto [name, exe] : group.rows) {
      SCOPED_TRACE(name);
      string file = exe.file[0] == '/' ? exe.file : dir / "f";
      if (file != exe.file) write_file(file, exe.file.empty() ? exe.image() : exe.file);
      expect(sh("$IO elf " + file), failure(group.elf));
      expect(sh("$IO elf2 " + file + " " + root), failure(group.elf2));
    }
}
