// How the programs are linked, and what the target build holds: loader, instruction set, self-judgement, size.
#include "harness.h"

using namespace vesk::test;

// The build under test: the target build that VESK_TARGET_BUILD names, else this host build.
const char *const target = getenv("VESK_TARGET_BUILD");
const std::string dir = target ? target : VESK_BINARY_DIR;
const bool is_static = read_file(dir + "/CMakeCache.txt").find("\nVESK_STATIC:BOOL=ON\n") != std::string::npos;
const std::string programs[] = {dir + "/vesk-io", dir + "/vesk-index"};

TEST(Link, OnlyTheCLibraryNoCxxRuntimeNoHeap) {
  for (const std::string &p : programs) {
    SCOPED_TRACE(p);
    if (sh("nm " + p + " | grep -qE '__asan_init|__gcov_'").status == 0) GTEST_SKIP() << "instrumented build";
    EXPECT_EQ(sh("readelf -d " + p + " | sed -n 's/.*(NEEDED).*\\[\\(.*\\)\\]/\\1/p'").out,
              !target ? "libc.so.6\n" : is_static ? "" : "libc.so\n");
    std::string all = "(nm -D " + p + "; nm " + p + ") 2>&1 | grep ", imports = "(nm -Du " + p + "; nm -u " + p;
    EXPECT_EQ(sh(all + "-E '_Zn[wa]|__cxa_guard|_personality|_ZSt|GLIBCXX'; " + imports + ") 2>&1 | grep -wE "
                 "'malloc|calloc|realloc'").out, "");
  }
}

// Mnemonics (after any prefixes) beyond a Pentium MMX: P6, SSE and later, 3DNow!, long NOPs, endbr32.
const std::string later = "\t((lock|rep[a-z]*|data(16|32)|addr(16|32)|[c-gs]s|notrack|bnd) )*(cmov|fcmov|"
    "fu?comi|nop[wl]|nop +[^ ]|endbr|sysenter|syscall|fxsave|fxrstor|prefetch|[lsm]fence|(ld|st)mxcsr|clflush|"
    "movnt|maskmov|popcnt|lzcnt|movbe|crc32|pshuf|pmax|pmin|pavg|pextr|pinsr|pmovmsk|psadbw|pmulhuw|paddq|"
    "psubq|pmuludq|phadd|phsub|pmaddubsw|pmulhrsw|psign|palignr|pabs|femms|pf|pi2f|pswapd|fisttp)|%[xyz]mm";
// What FILE holds beyond a Pentium MMX, or "no code" if objdump finds hardly any instructions in it.
std::string scan(const std::string &file, const std::string &l) {
  return sh("objdump -dw --no-show-raw-insn " + file + " | grep ':\t' >" + l + "; test $(wc -l <" + l +
            ") -gt 5 || echo no code; grep -E '" + later + "' " + l).out;
}

TEST(Target, LoaderInstructionsJudgementSize) {
  if (!target) GTEST_SKIP() << "VESK_TARGET_BUILD names no target build";
  TempDir d;  // the scan itself: code for a P6 with SSE2 is caught, the same code for the target is not
  write_file(d / "later.c", "int p(int a, int b) { return a < b ? b : a; }\nint l(double a, double b) "
                            "{ return a < b; }\nint ll(long double a, long double b) { return a < b; }\n");
  ASSERT_EQ(sh("cd " + d.path + " && mkdir lib && touch lib/libc.so && gcc -m32 -O2 -c later.c -march=i686 "
               "-msse2 -mfpmath=sse -o p6.o && gcc -m32 -O2 -c later.c -march=pentium-mmx -fcf-protection=none "
               "-o mmx.o").status, 0);
  for (auto m : {"cmov", "%xmm", "comi"}) EXPECT_NE(scan(d / "p6.o", d / "s").find(m), std::string::npos) << m;
  EXPECT_EQ(scan(d / "mmx.o", d / "s"), "");
  for (const std::string &p : programs) {
    SCOPED_TRACE(p);
    std::string shown = sh("readelf -lWd " + p).out;
    EXPECT_EQ(shown.find("interpreter: /lib/ld-musl-i386.so.1]") == std::string::npos, is_static);
    for (const char *tag : {"(RPATH)", "(RUNPATH)", "TEXTREL"}) EXPECT_EQ(shown.find(tag), std::string::npos);
    EXPECT_EQ(scan(p, d / "s"), "");
    expect(sh("$IO elf " + p), is_static ? "vesk-io: invalid dynamic executable/interpreter" : "");
    expect(sh("$IO elf2 " + p + " " + d.path), "");  // a root that holds lib/libc.so
    if (is_static) EXPECT_LT(std::stoi(sh("strip -o " + d / "s " + p + " && wc -c <" + d / "s").out), 65536);
  }
}
