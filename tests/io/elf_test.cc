// "elf" and "elf2" on executables built field by field and on this machine's compiler's programs.
#include <elf.h>
#include <sys/mman.h>

#include "harness.h"

using namespace vesk::test;

const uint32_t base = 0x08048000;  // the loader at 0x900, the strings at 0xA00, dynamic at 0xB00

template <class T>
std::string bytes(const T &value) {
  return {(const char *)&value, sizeof value};
}
std::string entry(int tag, uint32_t value, int count = 1) {
  std::string entries;
  for (int i = 0; i < count; ++i) entries += bytes(Elf32_Dyn{tag, {value}});
  return entries;
}
std::string segment(uint32_t type, uint32_t offset, uint32_t address, uint32_t size) {
  return bytes(Elf32_Phdr{type, offset, address, address, size, size, 0, 0});
}
std::string put(std::string file, size_t offset, const std::string &part) {
  file.resize(std::max(file.size(), offset + part.size()));
  return file.replace(offset, part.size(), part);
}
const std::string libc = entry(DT_NEEDED, 1);

// Headers PT_INTERP, PT_DYNAMIC, a PT_LOAD of all, `more`; the dynamic section is DT_STRTAB,
// DT_STRSZ, `dynamic`. A size of 0 is that of the part.
struct Exe {
  unsigned char elf_class = ELFCLASS32;
  uint16_t type = ET_EXEC, phnum = 3;
  uint32_t phoff = 52, dynamic_size = 0, load_size = 0;
  std::string loader = "/lib/ld-musl-i386.so.1", library = "libc.so", dynamic = libc, more;
};
std::string image(const Exe &e) {
  const std::string strings = '\0' + e.library + '\0';
  const std::string dynamic =
      entry(DT_STRTAB, base + 0xA00) + entry(DT_STRSZ, strings.size()) + e.dynamic;
  const Elf32_Ehdr header{.e_ident = {0x7F, 'E', 'L', 'F', e.elf_class, ELFDATA2LSB},
                          .e_type = e.type,
                          .e_machine = EM_386,
                          .e_phoff = e.phoff,
                          .e_phentsize = 32,
                          .e_phnum = uint16_t(e.phnum + e.more.size() / 32)};
  const std::string file =
      bytes(header) + segment(PT_INTERP, 0x900, base + 0x900, 23) +
      segment(PT_DYNAMIC, 0xB00, base + 0xB00, e.dynamic_size ?: dynamic.size()) +
      segment(PT_LOAD, 0, base, e.load_size ?: 0xB00 + dynamic.size()) + e.more;
  return put(put(put(file, 0x900, e.loader), 0xA00, strings), 0xB00, dynamic);
}

TEST(Elf, FilesUnderBothFormats) {
  TempDir t;  // ROOT is 377 bytes: ROOT/usr/lib/ and a name of 125 bytes make 511 bytes
  const std::string root = t / std::string(200, 'd') + "/" + std::string(175 - t.path.size(), 'e');
  const std::string n125(125, 'n'), n126(126, 'n');
  sh("mkdir -p " + root + "/lib/libdir.so " + root + "/usr/lib && cd " + root +
     " && touch lib/libc.so lib/" + n126 + " usr/lib/" + n125 + " && echo 'int main() {}' >" +
     t / "m.c");
  auto cc = [&](const std::string &flags) {
    EXPECT_EQ(sh("cd " + t.path + " && gcc m.c " + flags).err, "") << flags;
    return read_file(t / "a.out");
  };
  // Page 0 of this process: the last load puts the strings at 4092, "lib" runs into the page end.
  write_file(t / "0", put(image({.dynamic = libc + entry(DT_STRSZ, 99),
                                 .more = segment(PT_LOAD, 0x5FC, base, 0x1000)}),
                          4092, {"\0lib", 4}));
  ASSERT_FALSE(
      mmap(0, 4096, PROT_READ, MAP_PRIVATE | MAP_FIXED, fileno(fopen((t / "0").c_str(), "r")), 0));
  sh("cd " + t.path + " && gcc -m32 -shared -nostdlib -Wl,-soname,libc.so -o libc.so m.c");
  const std::string musl =
      "-m32 -nostdlib -e main -Wl,--no-as-needed,-I,/lib/ld-musl-i386.so.1 " + t / "libc.so";
  const std::string inc = "incompatible ELF", inv = "invalid dynamic executable/interpreter",
                    table = "ELF string table/dependencies", name = "ELF dependency string",
                    forbidden = "ELF search path/textrel forbidden",
                    foreign = "foreign ELF dependency",
                    only = "format 1 supports only libc.so ELF dependencies",
                    missing = "ELF dependency missing from target root";
  const struct {
    std::string name, file, elf, elf2 = elf;
  } rows[] = {
      // file: an image or "/path"
      {"missing", t / "none", "ELF open"},
      {"directory", "/", "ELF read"},
      {"page end", "/proc/" + std::to_string(getpid()) + "/mem", "ELF read"},
      {"not ELF",
       "\x7F"
       "EL",
       ""},
      {"51 bytes", image({}).substr(0, 51), inc},
      {"64-bit", image({.elf_class = ELFCLASS64}), inc},
      {"object", image({.type = ET_REL}), inc},
      {"65 headers", image({.phnum = 65}), "ELF program headers"},
      {"headers at 2^31", image({.phoff = 0x80000000}), "ELF seek"},
      {"glibc loader", image({.loader = "/lib/ld-linux.so.2"}), "glibc/foreign interpreter"},
      {"no dynamic", image({.phnum = 1}), inv},
      {"dynamic 65537", image({.dynamic_size = 65537}), inv},
      {"65 needed", image({.dynamic = entry(DT_NEEDED, 1, 65)}), "ELF dependencies limit"},
      {"textrel", image({.dynamic = libc + entry(DT_TEXTREL, 0)}), forbidden},
      {"no needed", image({.dynamic = ""}), table},
      {"strings empty", image({.dynamic = libc + entry(DT_STRSZ, 0)}), table},
      {"load end past 2^32",
       image({.dynamic = libc + entry(DT_STRTAB, 0xFFFFFF00) + entry(DT_STRSZ, 0x200),
              .more = segment(PT_LOAD, 0, 0xFFFFF000, 0xFF0)}),
       table},
      // 64 headers, 64 needed, 65536 bytes of dynamic, the strings ending where a load ends.
      {"every limit",
       image({.phnum = 63,
              .load_size = 0xA08,
              .dynamic = entry(DT_NEEDED, 1, 64) + entry(30, 4, 8126),
              .more = segment(PT_LOAD, 0xA00, base + 0xA00, 9)}),
       ""},
      {"needed at 9", image({.dynamic = entry(DT_NEEDED, 9)}), "ELF dependency bounds"},
      {"needed at 8", image({.dynamic = entry(DT_NEEDED, 8)}), name},
      {"strings 7", image({.dynamic = libc + entry(DT_STRSZ, 7)}), only, missing},
      {"name 125 in usr/lib", image({.library = n125}), only, ""},
      {"name 126", image({.library = n126}), only, "library path length"},
      {"name 127", image({.library = n126 + "n"}), name},
      {"glibc", image({.library = "libc.so.6"}), only, foreign},
      {"ld-linux", image({.library = "ld-linux.so.2"}), only, foreign},
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
    const std::string file = row.file[0] == '/' ? row.file : t / "f";
    if (file != row.file) write_file(file, row.file);
    expect(sh("$IO elf " + file), failure(row.elf));
    expect(sh("$IO elf2 " + file + " " + root), failure(row.elf2));
  }
}
