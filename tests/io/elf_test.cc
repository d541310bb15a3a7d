// "elf" and "elf2" on executables built field by field and on programs gcc builds here.
#include <elf.h>

#include "harness.h"

using namespace vesk::test;

string bytes(const auto &value) { return {(const char *)&value, sizeof value}; }
string entry(int tag, uint32_t value) { return bytes(Elf32_Dyn{tag, {value}}); }
string segment(uint32_t type, uint32_t at, uint32_t size) {
  return bytes(Elf32_Phdr{type, at, at, at, size, size, 0, 0});
}
string pad(string file, size_t size) { return file.append(size - file.size(), '\0'); }

// The loader at 0x900, the strings at 0xA00, the dynamic section at 0xB00; or `file`.
struct Exe {
  uint8_t elf_class = ELFCLASS32;
  uint16_t type = ET_EXEC, machine = EM_386, phentsize = 32, phnum = 3;
  uint32_t phoff = 52, dynamic_size = 0, needed = 1;  // dynamic_size 0: the section's
  string loader = "/lib/ld-musl-i386.so.1", library = "libc.so", dynamic, file;
  string image() const {
    if (!file.empty()) return file;
    string section = entry(DT_STRTAB, 0xA00) + entry(DT_STRSZ, library.size() + 2);
    for (uint32_t i = 0; i < needed; ++i) section += entry(DT_NEEDED, 1);
    section += dynamic;
    const Elf32_Ehdr header{.e_ident = {0x7F, 'E', 'L', 'F', elf_class, ELFDATA2LSB},
                            .e_type = type,
                            .e_machine = machine,
                            .e_phoff = phoff,
                            .e_phentsize = phentsize,
                            .e_phnum = phnum};
    const string headers = bytes(header) + segment(PT_INTERP, 0x900, 23) +
                           segment(PT_DYNAMIC, 0xB00, dynamic_size ?: section.size()) +
                           segment(PT_LOAD, 0, 0x2000);
    return pad(pad(pad(headers, 0x900) + loader, 0xA00) + '\0' + library, 0xB00) + section;
  }
};

TEST(Elf, FilesUnderBothFormats) {
  TempDir dir;  // ROOT/usr/lib/ and a name of 125 bytes make 511
  const string root = string(377 - dir.path.size(), '/') + dir.path;
  const string n125(125, 'n'), n126(126, 'n');
  sh("cd " + root + " && mkdir -p lib/libdir.so usr/lib && touch lib/libc.so lib/" + n126 +
     " usr/lib/" + n125 + " && echo 'int main() {}' >m.c");
  auto cc = [&](const string &flags) {
    EXPECT_EQ(sh("cd " + dir.path + " && gcc m.c " + flags).err, "") << flags;
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
      {"ELF open", {{"no file", {.file = dir / "none"}}}},
      {"ELF read", {{"a directory", {.file = "/"}}}},
      {"", {{"not ELF", {.file = "\177EL"}}, cc(musl)}},
      {"incompatible ELF",
       {{"64-bit", {.elf_class = ELFCLASS64}},
        {"ARM", {.machine = EM_ARM}},
        {"object", {.type = ET_REL}},
        cc("")}},
      {"ELF program headers", {{"phentsize 40", {.phentsize = 40}}, {"phnum 65", {.phnum = 65}}}},
      {"ELF seek", {{"phoff 2^31", {.phoff = 0x80000000}}}},
      {"glibc/foreign interpreter", {{"glibc loader", {.loader = "/lib/ld-linux.so.2"}}}},
      {"invalid dynamic executable/interpreter",
       {{"no dynamic", {.phnum = 1}},
        {"dynamic 65537", {.dynamic_size = 65537}},
        cc("-m32 -static-pie")}},
      {"invalid dynamic executable/interpreter", {cc("-m32 -static")}, ""},
      {"ELF interpreter size", {cc("-m32")}},
      {"ELF search path/textrel forbidden",
       {cc(musl + " -Wl,--disable-new-dtags,-rpath,/x"),
        cc(musl + " -Wl,--enable-new-dtags,-rpath,/x")}},
      {"ELF dependencies limit", {{"65 needed", {.needed = 65}}}},
      {"ELF string table/dependencies",
       {{"no needed", {.needed = 0}},
        {"strsz 0", {.dynamic = entry(DT_STRSZ, 0)}},
        {"strtab wraps", {.dynamic = entry(DT_STRTAB, 0xFFFFFFF8)}}}},
      {"ELF dependency string",
       {{"strtab past end", {.dynamic = entry(DT_STRTAB, 0x1FF0)}},
        {"name 127", {.library = n126 + "n"}}}},
      {"ELF dependency bounds", {{"needed at 9", {.needed = 0, .dynamic = entry(DT_NEEDED, 9)}}}},
      {only,
       {{"strsz 7", {.dynamic = entry(DT_STRSZ, 7)}},
        {"library a directory", {.library = "libdir.so"}}},
       "ELF dependency missing from target root"},
      {only, {{"name 125", {.library = n125}}}, ""},
      {only, {{"name 126", {.library = n126}}}, "library path length"},
      {only,
       {{"glibc", {.library = "libc.so.6"}},
        {"ld-linux", {.library = "ld-linux.so.2"}},
        {"a path", {.library = "x/libc.so"}}},
       "foreign ELF dependency"}};
  auto failure = [](const string &message) { return message.empty() ? "" : "vesk-io: " + message; };
  for (const auto &group : groups) {
    for (const auto &[name, exe] : group.rows) {
      SCOPED_TRACE(name);
      const string file = exe.file[0] == '/' ? exe.file : dir / "f";
      if (file != exe.file) write_file(file, exe.image());
      expect(sh("$IO elf " + file), failure(group.elf));
      expect(sh("$IO elf2 " + file + " " + root), failure(group.elf2));
    }
  }
}
