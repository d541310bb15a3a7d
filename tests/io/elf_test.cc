// "elf" and "elf2" on executables built field by field and on programs gcc builds here.
#include <elf.h>

#include "harness.h"

using namespace vesk::test;

template <class T>
string bytes(const T &value) {
  return {(const char *)&value, sizeof value};
}
string entry(int tag, uint32_t value, int count = 1) {
  string entries;
  while (count--) entries += bytes(Elf32_Dyn{tag, {value}});
  return entries;
}
string segment(uint32_t type, uint32_t offset, uint32_t size) {
  return bytes(Elf32_Phdr{type, offset, offset, offset, size, size, 0, 0});
}
string pad(string file, size_t size) {
  file.resize(size);
  return file;
}
const string libc = entry(DT_NEEDED, 1);

struct Exe {
  uint8_t elf_class = ELFCLASS32;
  uint16_t type = ET_EXEC, machine = EM_386, phentsize = 32, phnum = 3;
  uint32_t phoff = 52, dynamic_size = 0;  // 0: that of the section
  string loader = "/lib/ld-musl-i386.so.1", library = "libc.so", dynamic = libc;
};
// The loader at 0x900, the strings at 0xA00, the dynamic section at 0xB00.
string image(const Exe &exe) {
  const string strings = '\0' + exe.library + '\0';
  const string dynamic = entry(DT_STRTAB, 0xA00) + entry(DT_STRSZ, strings.size()) + exe.dynamic;
  const string headers =
      bytes(Elf32_Ehdr{.e_ident = {0x7F, 'E', 'L', 'F', exe.elf_class, ELFDATA2LSB},
                       .e_type = exe.type,
                       .e_machine = exe.machine,
                       .e_phoff = exe.phoff,
                       .e_phentsize = exe.phentsize,
                       .e_phnum = exe.phnum}) +
      segment(PT_INTERP, 0x900, 23) +
      segment(PT_DYNAMIC, 0xB00, exe.dynamic_size ?: dynamic.size()) + segment(PT_LOAD, 0, 0x2000);
  return pad(pad(pad(headers, 0x900) + exe.loader, 0xA00) + strings, 0xB00) + dynamic;
}
struct Row {
  string name;
  Exe exe;
  string file = image(exe);  // or "/path"
};

TEST(Elf, FilesUnderBothFormats) {
  TempDir dir;  // ROOT of 377 bytes, slashes first: ROOT/usr/lib/ and 125 bytes make 511
  const string root = string(377 - dir.path.size(), '/') + dir.path;
  const string n125(125, 'n'), n126(126, 'n');
  sh("cd " + root + " && mkdir -p lib/libdir.so usr/lib && touch lib/libc.so lib/" + n126 +
     " usr/lib/" + n125 + " && echo 'int main() {}' >m.c");
  auto cc = [&](const string &flags) {
    EXPECT_EQ(sh("cd " + dir.path + " && gcc m.c " + flags).err, "") << flags;
    return read_file(dir / "a.out");
  };
  const string musl = "-m32 -nostdlib -e main -Wl,--no-as-needed,-I,/lib/ld-musl-i386.so.1 libc.so";
  cc("-m32 -shared -nostdlib -Wl,-soname,libc.so -o libc.so");
  const string invalid = "invalid dynamic executable/interpreter",
               only = "format 1 supports only libc.so ELF dependencies";
  const struct {
    string elf;
    std::vector<Row> rows;
    string elf2 = elf;
  } groups[] = {
      {"ELF open", {{"missing", {}, dir / "none"}}},
      {"ELF read", {{"directory", {}, "/"}}},
      {"", {{"not ELF", {}, "\177EL"}, {"gcc musl", {}, cc(musl)}}},
      {"incompatible ELF",
       {{"64-bit", {.elf_class = ELFCLASS64}},
        {"ARM", {.machine = EM_ARM}},
        {"object", {.type = ET_REL}},
        {"gcc native", {}, cc("")}}},
      {"ELF program headers", {{"entries of 40", {.phentsize = 40}}, {"65", {.phnum = 65}}}},
      {"ELF seek", {{"headers at 2^31", {.phoff = 0x80000000}}}},
      {"glibc/foreign interpreter", {{"glibc loader", {.loader = "/lib/ld-linux.so.2"}}}},
      {invalid,
       {{"no dynamic", {.phnum = 1}},
        {"dynamic 65537", {.dynamic_size = 65537}},
        {"gcc static-pie", {}, cc("-m32 -static-pie")}}},
      {invalid, {{"gcc static", {}, cc("-m32 -static")}}, ""},
      {"ELF interpreter size", {{"gcc glibc", {}, cc("-m32")}}},
      {"ELF search path/textrel forbidden",
       {{"gcc rpath", {}, cc(musl + " -Wl,--disable-new-dtags,-rpath,/x")},
        {"gcc runpath", {}, cc(musl + " -Wl,--enable-new-dtags,-rpath,/x")}}},
      {"ELF dependencies limit", {{"65 needed", {.dynamic = entry(DT_NEEDED, 1, 65)}}}},
      {"ELF string table/dependencies",
       {{"no needed", {.dynamic = ""}},
        {"strings empty", {.dynamic = libc + entry(DT_STRSZ, 0)}},
        {"strings end past 2^32", {.dynamic = libc + entry(DT_STRTAB, 0xFFFFFFF8)}}}},
      {"ELF dependency string",
       {{"strings past the end", {.dynamic = libc + entry(DT_STRTAB, 0x1FF0)}},
        {"name 127", {.library = n126 + "n"}}}},
      {"ELF dependency bounds", {{"needed at 9", {.dynamic = entry(DT_NEEDED, 9)}}}},
      {only,
       {{"strings 7", {.dynamic = libc + entry(DT_STRSZ, 7)}},
        {"library a directory", {.library = "libdir.so"}}},
       "ELF dependency missing from target root"},
      {only, {{"name 125 in usr/lib", {.library = n125}}}, ""},
      {only, {{"name 126, in lib/ too", {.library = n126}}}, "library path length"},
      {only,
       {{"glibc", {.library = "libc.so.6"}},
        {"ld-linux", {.library = "ld-linux.so.2"}},
        {"a path", {.library = "x/libc.so"}}},
       "foreign ELF dependency"}};
  auto failure = [](const string &message) { return message.empty() ? "" : "vesk-io: " + message; };
  for (const auto &group : groups) {
    for (const Row &row : group.rows) {
      SCOPED_TRACE(row.name);
      const string file = row.file[0] == '/' ? row.file : dir / "f";
      if (file != row.file) write_file(file, row.file);
      expect(sh("$IO elf " + file), failure(group.elf));
      expect(sh("$IO elf2 " + file + " " + root), failure(group.elf2));
    }
  }
}
