// How the programs are linked; on a target build, loader, instructions, self-judgement, size.
#include "harness.h"

using namespace vesk::test;

// Mnemonics (after any prefixes) beyond a Pentium MMX that a compiler or libc could bring:
// P6, SSE and later, long NOPs.
const std::string later =
    "\t([a-z0-9]+ )*(cmov|fcmov|fu?comi|nop[wl]|nop +[^ ]|endbr|sysenter|syscall|fxsave|fxrstor|"
    "prefetch|[lsm]fence|(ld|st)mxcsr|clflush|movnt|maskmov|popcnt|lzcnt|movbe|crc32|fisttp)|%[xyz]"
    "mm";

TEST(Build, LinkLoaderInstructionsJudgementSize) {
  // VESK_TARGET_BUILD names a target build, else this host build is checked.
  const char *target = getenv("VESK_TARGET_BUILD");
  const std::string dir = target ? target : VESK_BINARY_DIR;
  const bool is_static =
      read_file(dir + "/CMakeCache.txt").find("VESK_STATIC:BOOL=ON") != std::string::npos;
  const std::string linked = !target ? "library: [libc.so.6]\n"
                             : is_static
                                 ? ""
                                 : "interpreter: /lib/ld-musl-i386.so.1]\nlibrary: [libc.so]\n";
  const std::string scan = "objdump -dw --no-show-raw-insn ", beyond = " | grep -E '" + later + "'";
  // The scan finds code for a P6 with SSE2; elf2 is given a root that holds lib/libc.so.
  const std::string p6 =
      "echo 'int less(double a, double b) { return a < b; }' | gcc -m32 -O2 "
      "-march=i686 -msse2 -mfpmath=sse -xc -c - -o p6.o && ";
  TempDir root;
  if (target)
    expect(sh("cd " + root.path + " && mkdir lib && touch lib/libc.so && " + p6 + scan + "p6.o" +
              beyond + " >/dev/null"),
           "");
  for (const std::string program : {"/vesk-io", "/vesk-index"}) {
    SCOPED_TRACE(program);
    const std::string p = dir + program;
    if (sh("nm " + p + " | grep -qE '__asan_init|__gcov_'").status == 0) GTEST_SKIP();
    EXPECT_EQ(sh("readelf -lWd " + p + " | grep -oE 'interpreter: /lib/ld-musl.*|library: .*|" +
                 "R(UN)?PATH|TEXTREL'")
                  .out,
              linked);
    // No C++ runtime (new, guards, exceptions), no heap.
    EXPECT_EQ(
        sh("(nm -D " + p + "; nm " + p + ") 2>&1 | grep -E '_Zn[wa]|__cxa_guard|_personality|" +
           "_ZSt|GLIBCXX| [Uw] (malloc|calloc|realloc)\\b'")
            .out,
        "");
    if (!target) continue;
    EXPECT_EQ(sh(scan + p + beyond).out, "");
    expect(sh("$IO elf " + p), is_static ? "vesk-io: invalid dynamic executable/interpreter" : "");
    expect(sh("$IO elf2 " + p + " " + root.path), "");
    if (is_static)
      expect(sh("strip -o " + root / "s " + p + " && [ $(wc -c <" + root / "s) -lt 65536 ]"), "");
  }
}
