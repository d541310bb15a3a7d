// "elf" and "elf2" on executables built field by field and on this machine's compiler's programs.
#include <elf.h>

#include "harness.h"

using namespace vesk::test;

template <class T>
std::string bytes(const T &value) {
  return {(const char *)&value, sizeof value};
}
std::string entry(int tag, uint32_t value, int count = 1) {
  std::string entries;
  for (int i = 0; i < count; ++i) entries += bytes(Elf32_Dyn{tag, {value}});
  return entries;
}
std::string segment(uint32_t type, uint32_t offset, uint32_t size) {
  return bytes(Elf32_Phdr{type, offset, offset, offset, size, size, 0, 0});
}
std::string pad(std::string file, size_t size) {
  file.resize(size);
  return file;
}
const std::string libc = entry(DT_NEEDED, 1);

// Headers PT_INTERP, PT_DYNAMIC, a PT_LOAD of 8 KiB at 0; the loader at 0x900, the strings at
// 0xA00, the dynamic section at 0xB00: DT_STRTAB, DT_STRSZ, `dynamic`.
struct Exe {
  unsigned char elf_class = ELFCLASS32, data = ELFDATA2LSB;
  uint16_t type = ET_EXEC, machine = EM_386, phentsize = 32, phnum = 3;
  uint32_t phoff = 52, dynamic_size = 0;  // 0: that of the section
  std::string loader = "/lib/ld-musl-i386.so.1", library = "libc.so", dynamic = libc;
};
std::string image(const Exe &exe) {
  const std::string strings = '\0' + exe.library + '\0';
  const std::string dynamic =
      entry(DT_STRTAB, 0xA00) + entry(DT_STRSZ, strings.size()) + exe.dynamic;
  const Elf32_Ehdr header{.e_ident = {0x7F, 'E', 'L', 'F', exe.elf_class, exe.data},
                          .e_type = exe.type,
                          .e_machine = exe.machine,
                          .e_phoff = exe.phoff,
                          .e_phentsize = exe.phentsize,
                          .e_phnum = exe.phnum};
  const std::string headers = bytes(header) + segment(PT_INTERP, 0x900, 23) +
                              segment(PT_DYNAMIC, 0xB00, exe.dynamic_size ?: dynamic.size()) +
                              segment(PT_LOAD, 0, 0x2000);
  return pad(pad(pad(headers, 0x900) + exe.loader, 0xA00) + strings, 0xB00) + dynamic;
}

TEST(Elf, FilesUnderBothFormats) {
  TempDir dir;  // a ROOT of 377 bytes, slashes first: ROOT/usr/lib/ and 125 bytes make 511 bytes
  const std::string root = std::string(377 - dir.path.size(), '/') + dir.path;
  const std::string n125(125, 'n'), n126(126, 'n');
  sh("cd " + root + " && mkdir -p lib/libdir.so usr/lib && touch lib/libc.so lib/" + n126 +
     " usr/lib/" + n125 + " && echo 'int main() {}' >m.c");
  auto cc = [&](const std::string &flags) {
    EXPECT_EQ(sh("cd " + dir.path + " && gcc m.c " + flags).err, "") << flags;
    return read_file(dir / "a.out");
  };
  const std::string musl =
      "-m32 -nostdlib -e main -Wl,--no-as-needed,-I,/lib/ld-musl-i386.so.1 libc.so";
  cc("-m32 -shared -nostdlib -Wl,-soname,libc.so -o libc.so");
  const std::string inc = "incompatible ELF", inv = "invalid dynamic executable/interpreter",
                    table = "ELF string table/dependencies", name = "ELF dependency string",
                    forbidden = "ELF search path/textrel forbidden",
                    foreign = "foreign ELF dependency",
                    only = "format 1 supports only libc.so ELF dependencies",
                    missing = "ELF dependency missing from target root";
  const struct {
    std::string name, file, elf, elf2 = elf;  // file: an image or "/path"
  } rows[] = {
      {"missing", dir / "none", "ELF open"},
      {"directory", "/", "ELF read"},
      {"not ELF", "\177EL", ""},
      {"51 bytes", image({}).substr(0, 51), inc},
      {"64-bit", image({.elf_class = ELFCLASS64}), inc},
      {"big-endian", image({.data = ELFDATA2MSB}), inc},
      {"ARM", image({.machine = EM_ARM}), inc},
      {"object", image({.type = ET_REL}), inc},
      {"header entries of 40 bytes", image({.phentsize = 40}), "ELF program headers"},
      {"65 headers", image({.phnum = 65}), "ELF program headers"},
      {"headers at 2^31", image({.phoff = 0x80000000}), "ELF seek"},
      {"glibc loader", image({.loader = "/lib/ld-linux.so.2"}), "glibc/foreign interpreter"},
      {"no dynamic", image({.phnum = 1}), inv},
      {"dynamic 65537", image({.dynamic_size = 65537}), inv},
      {"65 needed", image({.dynamic = entry(DT_NEEDED, 1, 65)}), "ELF dependencies limit"},
      {"no needed", image({.dynamic = ""}), table},
      {"strings empty", image({.dynamic = libc + entry(DT_STRSZ, 0)}), table},
      {"strings end past 2^32", image({.dynamic = libc + entry(DT_STRTAB, 0xFFFFFFF8)}), table},
      {"strings past the file end", image({.dynamic = libc + entry(DT_STRTAB, 0x1FF0)}), name},
      {"needed at 9", image({.dynamic = entry(DT_NEEDED, 9)}), "ELF dependency bounds"},
      {"strings 7", image({.dynamic = libc + entry(DT_STRSZ, 7)}), only, missing},
      {"name 125 in usr/lib", image({.library = n125}), only, ""},
      {"name 126, in lib/ too", image({.library = n126}), only, "library path length"},
      {"name 127", image({.library = n126 + "n"}), name},
      {"glibc", image({.library = "libc.so.6"}), only, foreign},
      {"ld-linux", image({.library = "ld-linux.so.2"}), only, foreign},
      {"a path", image({.library = "x/libc.so"}), only, foreign},
      {"library a directory", image({.library = "libdir.so"}), only, missing},
      {"gcc native", cc(""), inc},
      {"gcc glibc", cc("-m32"), "ELF interpreter size"},
      {"gcc static", cc("-m32 -static"), inv, ""},
      {"gcc static-pie", cc("-m32 -static-pie"), inv},
      {"gcc musl", cc(musl), ""},
      {"gcc rpath", cc(musl + " -Wl,--disable-new-dtags,-rpath,/x"), forbidden},
      {"gcc runpath", cc(musl + " -Wl,--enable-new-dtags,-rpath,/x"), forbidden}};
  auto failure = [](const std::string &message) {
    return message.empty() ? "" : "vesk-io: " + message;
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    const std::string file = row.file[0] == '/' ? row.file : dir / "f";
    if (file != row.file) write_file(file, row.file);
    expect(sh("$IO elf " + file), failure(row.elf));
    expect(sh("$IO elf2 " + file + " " + root), failure(row.elf2));
  }
}
