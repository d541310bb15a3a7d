// "elf" and "elf2" on executables that this machine's compiler and linker
// make, each judged by what readelf shows in it.
#include <gtest/gtest.h>

#include "harness.h"

using namespace vesk::test;

namespace {

// Sources and build products live in one directory per test.
struct Build {
  TempDir dir;
  Build() {
    write_file(dir / "main.c", "int main(void) { return 0; }\n");
    write_file(dir / "lib.c", "int answer(void) { return 42; }\n");
    write_file(dir / "start.c",
               "int answer(void);\n"
               "void _start(void) { volatile int x = answer(); (void)x; for (;;) {} }\n");
    // A stand-in for the musl C library: only its name matters here.
    compile("libc.so", "gcc -m32 -shared -nostdlib -fPIC -Wl,-soname,libc.so lib.c");
  }
  std::string compile(const std::string &output, const std::string &command) {
    RunResult r = shell("cd '" + dir.path() + "' && " + command + " -o " + output + " 2>&1");
    EXPECT_EQ(r.status, 0) << command << "\n" << r.out;
    return dir / output;
  }
  // A program bound to the musl loader and linked against libc.so.
  std::string musl_program(const std::string &name, const std::string &flags = "") {
    return compile(name, "gcc -m32 -nostdlib -Wl,--dynamic-linker=/lib/ld-musl-i386.so.1 " +
                             flags + " start.c ./libc.so");
  }
};

std::string readelf(const std::string &options, const std::string &file) {
  RunResult r = shell("readelf " + options + " '" + file + "'");
  EXPECT_EQ(r.status, 0);
  return r.out;
}

bool shows(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

void expect_failure(const std::vector<std::string> &args, const std::string &message) {
  RunResult r = run_io(args);
  EXPECT_EQ(r.status, 1) << args[0];
  EXPECT_EQ(r.err, io_failure(message)) << args[0];
}

void expect_pass(const std::vector<std::string> &args) {
  RunResult r = run_io(args);
  EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
  EXPECT_EQ(r.out, "");
}

TEST(ElfPeers, SixtyFourBitProgram) {
  Build b;
  std::string program = b.compile("native", "gcc main.c");
  ASSERT_TRUE(shows(readelf("-h", program), "ELF64"));
  expect_failure({"elf", program}, "incompatible ELF");
  expect_failure({"elf2", program}, "incompatible ELF");
}

TEST(ElfPeers, GlibcDynamicProgram) {
  Build b;
  std::string program = b.compile("dynamic", "gcc -m32 main.c");
  std::string l = readelf("-l", program);
  ASSERT_TRUE(shows(readelf("-h", program), "ELF32"));
  // The glibc loader's name is 18 characters and a NUL, not 23 bytes.
  ASSERT_TRUE(shows(l, "[Requesting program interpreter: /lib/ld-linux.so.2]")) << l;
  expect_failure({"elf", program}, "ELF interpreter size");
  expect_failure({"elf2", program, b.dir.path()}, "ELF interpreter size");
}

TEST(ElfPeers, StaticProgram) {
  Build b;
  std::string program = b.compile("static", "gcc -m32 -static main.c");
  std::string l = readelf("-l", program);
  ASSERT_FALSE(shows(l, "INTERP")) << l;
  ASSERT_FALSE(shows(l, "DYNAMIC")) << l;
  expect_failure({"elf", program}, "invalid dynamic executable/interpreter");
  expect_pass({"elf2", program});
}

TEST(ElfPeers, StaticPositionIndependentProgramHasDynamicWithoutLoader) {
  Build b;
  std::string program = b.compile("static-pie", "gcc -m32 -static-pie main.c");
  std::string l = readelf("-l", program);
  ASSERT_FALSE(shows(l, "INTERP")) << l;
  ASSERT_TRUE(shows(l, "DYNAMIC")) << l;
  expect_failure({"elf", program}, "invalid dynamic executable/interpreter");
  expect_failure({"elf2", program}, "invalid dynamic executable/interpreter");
}

TEST(ElfPeers, MuslBoundProgram) {
  Build b;
  std::string program = b.musl_program("musl");
  std::string shown = readelf("-l -d", program);
  ASSERT_TRUE(shows(shown, "[Requesting program interpreter: /lib/ld-musl-i386.so.1]")) << shown;
  ASSERT_TRUE(shows(shown, "(NEEDED)") && shows(shown, "[libc.so]")) << shown;
  ASSERT_FALSE(shows(shown, "RPATH") || shows(shown, "RUNPATH") || shows(shown, "TEXTREL"));
  expect_pass({"elf", program});
  expect_pass({"elf", program, b.dir / "nowhere"});

  TempDir root;
  make_dir(root / "usr");
  make_dir(root / "usr/lib");
  expect_failure({"elf2", program, root.path()}, "ELF dependency missing from target root");
  write_file(root / "usr/lib/libc.so", "");
  expect_pass({"elf2", program, root.path()});
}

TEST(ElfPeers, SearchPathsAreForbidden) {
  Build b;
  std::string runpath = b.musl_program("runpath", "-Wl,--enable-new-dtags -Wl,-rpath,/opt/lib");
  ASSERT_TRUE(shows(readelf("-d", runpath), "(RUNPATH)"));
  std::string rpath = b.musl_program("rpath", "-Wl,--disable-new-dtags -Wl,-rpath,/opt/lib");
  ASSERT_TRUE(shows(readelf("-d", rpath), "(RPATH)"));
  for (const std::string &program : {runpath, rpath}) {
    expect_failure({"elf", program}, "ELF search path/textrel forbidden");
    expect_failure({"elf2", program, b.dir.path()}, "ELF search path/textrel forbidden");
  }
}

}  // namespace
