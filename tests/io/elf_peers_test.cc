// "elf" and "elf2" on executables that this machine's compiler and linker
// make, each first shown by readelf to be what the case needs.
#include <gtest/gtest.h>

#include "harness.h"

using namespace vesk::test;

namespace {

TEST(ElfPeers, ProgramsOfThisMachinesCompiler) {
  TempDir dir, root;
  make_dir(root / "usr");
  make_dir(root / "usr/lib");
  write_file(dir / "main.c", "int main(void) { return 0; }\n");
  write_file(dir / "lib.c", "int answer(void) { return 42; }\n");
  write_file(dir / "start.c",
             "int answer(void);\nvoid _start(void) { answer(); for (;;) {} }\n");
  // Bound to the musl loader and linked against a stand-in for its C
  // library (the first case), of which only the name matters.
  const std::string musl =
      "gcc -m32 -nostdlib -Wl,--dynamic-linker=/lib/ld-musl-i386.so.1 start.c ./libc.so ";
  const std::string invalid = "invalid dynamic executable/interpreter";
  const std::string forbidden = "ELF search path/textrel forbidden";
  const struct {
    std::string command, readelf, part;
    bool shown;
    std::string elf, elf2;  // elf2 with a root that has no libc.so
  } cases[] = {
      {"gcc -m32 -shared -nostdlib -fPIC -Wl,-soname,libc.so lib.c -o libc.so", "-l", "INTERP", false, invalid, invalid},
      {"gcc main.c -o native", "-h", "ELF64", true, "incompatible ELF", "incompatible ELF"},
      // The glibc loader's name is 18 characters and a NUL, not 23 bytes.
      {"gcc -m32 main.c -o glibc", "-l", "interpreter: /lib/ld-linux.so.2]", true, "ELF interpreter size", "ELF interpreter size"},
      {"gcc -m32 -static main.c -o static", "-l", "DYNAMIC", false, invalid, ""},
      {"gcc -m32 -static-pie main.c -o static-pie", "-l", "INTERP", false, invalid, invalid},
      {musl + "-o musl", "-l", "interpreter: /lib/ld-musl-i386.so.1]", true, "", "ELF dependency missing from target root"},
      {musl + "-Wl,--enable-new-dtags -Wl,-rpath,/opt/lib -o runpath", "-d", "(RUNPATH)", true, forbidden, forbidden},
      {musl + "-Wl,--disable-new-dtags -Wl,-rpath,/opt/lib -o rpath", "-d", "(RPATH)", true, forbidden, forbidden},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.command);
    ASSERT_EQ(shell("cd '" + dir.path() + "' && " + c.command).status, 0);
    std::string program = dir / c.command.substr(c.command.rfind(' ') + 1);
    RunResult shown = shell("readelf " + c.readelf + " '" + program + "'");
    ASSERT_EQ(shown.out.find(c.part) != std::string::npos, c.shown) << shown.out;
    expect_io(run_io({"elf", program}), c.elf);
    expect_io(run_io({"elf2", program, root.path()}), c.elf2);
  }
  std::string program = dir / "musl";
  // One NEEDED entry, libc.so, and no search path or text relocations.
  const std::string shown = " | grep -o -e NEEDED -e '\\[.*\\]' -e PATH -e TEXTREL";
  EXPECT_EQ(shell("readelf -d " + program + shown).out, "NEEDED\n[libc.so]\n");
  expect_io(run_io({"elf", program, dir / "nowhere"}), "");
  write_file(root / "usr/lib/libc.so", "");
  expect_io(run_io({"elf2", program, root.path()}), "");
}

}  // namespace
