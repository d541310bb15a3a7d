// "elf" and "elf2" on ELF32 images built field by field and on programs of this machine's compiler.
#include <sys/mman.h>

#include "harness.h"

using namespace vesk::test;

const uint32_t B = 0x08048000;  // load address; interpreter at 0x900, strings at 0xA00, dynamic at 0xB00
std::string le(uint32_t v, int n = 4) { std::string s; while (n--) s += char(v), v >>= 8; return s; }
std::string D(uint32_t t, uint32_t v, int n = 1) { std::string s; while (n--) s += le(t) + le(v); return s; }
std::string ph(uint32_t t, uint32_t o, uint32_t v, uint32_t n) { return D(t, o) + D(v, v) + D(n, n) + D(0, 0); }
std::string put(std::string f, size_t at, const std::string &b) {
  return f.resize(std::max(f.size(), at + b.size())), f.replace(at, b.size(), b); }
const std::string musl("/lib/ld-musl-i386.so.1\0", 23), N = D(1, 1), n125(125, 'n'), n126(126, 'n');
// PT_INTERP, PT_DYNAMIC, PT_LOAD of all, `more`; DT_STRTAB, DT_STRSZ, `dyn` end the file (no DT_NULL).
struct Exe { std::string name = "libc.so", dyn = N, more; };
std::string exe(const Exe &e) {
  std::string strtab = '\0' + e.name + '\0', dyn = D(5, B + 0xA00) + D(10, strtab.size()) + e.dyn;
  std::string f = le(0x464C457F) + le(0x10101) + le(0, 8) + le(0x30002) + le(1) + le(0) + le(52) + le(0, 8) +
                  le(0x200034) + le(3 + e.more.size() / 32, 2) + le(0, 6) + ph(3, 0x900, B + 0x900, 23);
  f += ph(2, 0xB00, B + 0xB00, dyn.size()) + ph(1, 0, B, 0xB00 + dyn.size()) + e.more;
  return put(put(put(f, 0x900, musl), 0xA00, strtab), 0xB00, dyn);
}
const std::string E = exe({});  // P: E with the bytes b at offset at
std::string P(size_t at, const std::string &b) { return put(E, at, b); }
const std::string inc = "incompatible ELF", hdr = "ELF program headers", cut = "truncated input",
    seek = "ELF seek", size = "ELF interpreter size", ld = "glibc/foreign interpreter",
    inv = "invalid dynamic executable/interpreter", forb = "ELF search path/textrel forbidden",
    tab = "ELF string table/dependencies", str = "ELF dependency string", fdep = "foreign ELF dependency",
    only = "format 1 supports only libc.so ELF dependencies", miss = "ELF dependency missing from target root";

TEST(Elf, FilesUnderBothFormats) {
  TempDir t;  // ROOT is 377 bytes: ROOT/usr/lib/ and a name of 125 bytes make 511 bytes, of 126 bytes 512
  const std::string r = t.path + "/" + std::string(200, 'd') + "/" + std::string(175 - t.path.size(), 'e');
  ASSERT_EQ(sh("mkdir -p " + r + "/lib/libdir.so " + r + "/usr/lib && cd " + r + " && touch lib/libc.so lib/" +
               n125 + " lib/" + n126 + " usr/lib/libz.so && ln -s libc.so lib/liblink.so && echo " +
               "'int main(void) { return 0; }' >" + t / "m.c").status, 0);
  auto cc = [&](std::string o, std::string c) { return sh("cd " + t.path + " && " + c + " -o " + o), t / o; };
  const std::string mcc = "gcc -m32 -nostdlib -e main -Wl,--no-as-needed,-I,/lib/ld-musl-i386.so.1 m.c libc.so";
  // Page 0 of this process: strings at 4092, whose name "lib" runs into the page end, past which reads fail.
  write_file(t / "0", put(exe({.dyn = N + D(10, 99), .more = ph(1, 0x5FC, B, 0x1000)}), 4092, {"\0lib", 4}));
  ASSERT_FALSE(mmap(0, 4096, PROT_READ, MAP_PRIVATE | MAP_FIXED, fileno(fopen((t / "0").c_str(), "r")), 0));
  const struct { std::string file, elf, elf2 = elf; } rows[] = {  // file: an image, or a path ("/...")
      {t / "none", "ELF open"}, {"/", "ELF read"}, {"/proc/" + std::to_string(getpid()) + "/mem", "ELF read"},
      {"\x7F" "EL", ""}, {"\x7F" "ELF", inc}, {E.substr(0, 51), inc}, {P(4, "\2"), inc}, {P(5, "\2"), inc},
      {P(18, "\x28"), inc}, {P(16, "\1"), inc}, {P(42, le(0, 2)), hdr}, {P(44, "\x40"), ""},
      {P(44, "\x41"), hdr}, {P(44, le(0, 2)), inv, ""}, {E.substr(0, 147), cut}, {P(28, le(0x7FFFFFFF)), cut},
      {P(28, le(0x80000000)), seek}, {P(68, "\x16"), size}, {P(0x915, "2"), ld}, {P(0x916, "X"), ld},
      {exe({.more = ph(3, 0x900, B + 0x900, 23)}), inv}, {P(84, "\4"), inv}, {P(52, "\4"), inv},
      {exe({.dyn = N + D(30, 4, 8189)}), ""}, {P(100, le(65537)), inv}, {exe({.dyn = D(1, 1, 64)}), ""},
      {exe({.dyn = D(1, 1, 65)}), "ELF dependencies limit"}, {exe({.dyn = N + D(15, 1)}), forb},
      {exe({.dyn = N + D(22, 0)}), forb}, {exe({.dyn = N + D(29, 1)}), forb},
      {exe({.dyn = N + D(14, 1) + D(16, 0) + D(21, 0) + D(23, 0) + D(28, 0) + D(30, 4) + D(~0u, 0)}), ""},
      {exe({.dyn = N + D(0, 0) + D(15, 1) + D(22, 0)}), ""}, {exe({.dyn = ""}), tab},
      {exe({.dyn = N + D(10, 0)}), tab}, {P(0xB08, "\x1E"), tab},
      {put(exe({.more = ph(1, 0xA00, 0, 9)}), 0xB00, "\x1E"), ""}, {P(132, le(0xA08)), tab},
      {put(exe({.more = ph(1, 0xA00, B + 0xA00, 9)}), 132, le(0xA08)), ""},  // vaddr and end are the table's
      {exe({.more = ph(1, 0x40, B, 0x1000)}), str},  // the last PT_LOAD decides: it maps a NUL there
      {exe({.dyn = N + D(5, 0xFFFFFF00) + D(10, 0x200), .more = ph(1, 0, 0xFFFFF000, 0xFF0)}), tab},
      {P(120, le(0x7FFFF5FE)), str}, {exe({.dyn = D(1, 9)}), "ELF dependency bounds"},
      {exe({.dyn = D(1, 8)}), str}, {exe({.dyn = N + D(10, 8)}), ""}, {exe({.dyn = N + D(10, 7)}), only, miss},
      {exe({.name = n125}), only, ""}, {exe({.name = n126 + "n"}), str},
      {exe({.name = n126}), only, "library path length"}, {exe({.name = "\xFF"}), only, fdep},
      {exe({.name = "libc.so.6"}), only, fdep}, {exe({.name = "ld-linux.so.2"}), only, fdep},
      {exe({.name = "ld-linu"}), only, miss}, {exe({.name = "libz.so"}), only, ""},
      {exe({.name = "liblink.so"}), only, ""}, {exe({.name = "libdir.so"}), only, miss},
      {cc("libc.so", "gcc -m32 -shared -nostdlib -Wl,-soname,libc.so m.c"), inv},
      {cc("native", "gcc m.c"), inc}, {cc("glibc", "gcc -m32 m.c"), size},
      {cc("static", "gcc -m32 -static m.c"), inv, ""}, {cc("musl", mcc), ""},
      {cc("static-pie", "gcc -m32 -static-pie m.c"), inv},
      {cc("rpath", mcc + " -Wl,--disable-new-dtags,-rpath,/x"), forb},
      {cc("runpath", mcc + " -Wl,--enable-new-dtags,-rpath,/x"), forb}};
  for (const auto &row : rows) {
    std::string f = row.file[0] == '/' ? row.file : (write_file(t / "f", row.file), t / "f");
    SCOPED_TRACE("row " + std::to_string(&row - rows));
    expect(sh("$IO elf " + f), row.elf.empty() ? "" : "vesk-io: " + row.elf);
    expect(sh("$IO elf2 " + f + " " + r), row.elf2.empty() ? "" : "vesk-io: " + row.elf2);
  }
}
