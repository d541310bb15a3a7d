// The target CPU is a Pentium MMX: no cmov, no P6 floating-point compares,
// no long NOPs, nothing of SSE or later. The emulator traps on most of these
// only when they run, and on long NOPs (endbr32 among them) never, so the
// whole disassembly of each target program is scanned, code the tests never
// reach included.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "harness.h"

using namespace vesk::test;

namespace {

const std::string target_cc = VESK_TARGET_CC;

// Whole mnemonics (as objdump spells them) that a Pentium MMX lacks.
const std::set<std::string> later_mnemonics = {
    // P6 and Pentium II
    "fcomi", "fcomip", "fucomi", "fucomip", "nopw", "nopl", "sysenter", "sysexit", "fxsave",
    "fxrstor", "endbr32", "endbr64",
    // SSE and later without an xmm operand
    "ldmxcsr", "stmxcsr", "sfence", "lfence", "mfence", "clflush", "clflushopt", "movnti",
    "popcnt", "lzcnt", "tzcnt", "movbe", "crc32", "rdrand", "rdseed", "rdtscp", "rdpid", "xgetbv",
    "xsave", "xrstor", "monitor", "mwait", "vzeroupper", "vzeroall", "andn", "bextr", "blsi",
    "blsmsk", "blsr", "bzhi", "mulx", "pdep", "pext", "rorx", "sarx", "shlx", "shrx", "adcx",
    "adox", "syscall", "sysret",
    // SSE, SSE2 and SSSE3 additions on the MMX registers; 3DNow!
    "pshufw", "pmaxsw", "pmaxub", "pminsw", "pminub", "pavgb", "pavgw", "pextrw", "pinsrw",
    "pmovmskb", "psadbw", "pmulhuw", "movntq", "maskmovq", "paddq", "psubq", "pmuludq", "pshufb",
    "phaddw", "phaddd", "phaddsw", "phsubw", "phsubd", "phsubsw", "pmaddubsw", "pmulhrsw",
    "psignb", "psignw", "psignd", "palignr", "pabsb", "pabsw", "pabsd", "femms", "pavgusb",
    "pmulhrw", "pswapd", "pi2fd", "pi2fw", "pf2id", "pf2iw"};

// Mnemonic beginnings: every condition of cmov and fcmov, every prefetch,
// every 3DNow! float operation, every variant of fisttp (SSE3).
const char *const later_prefixes[] = {"cmov", "fcmov", "prefetch", "pf", "fisttp"};

// Words objdump puts before the mnemonic.
const std::set<std::string> prefix_words = {
    "lock", "rep", "repz", "repnz", "repe", "repne", "data16", "data32", "addr16", "addr32",
    "cs", "ds", "es", "fs", "gs", "ss", "notrack", "bnd", "xacquire", "xrelease"};

bool is_beyond_pentium_mmx(const std::string &mnemonic, const std::string &operands) {
  if (later_mnemonics.count(mnemonic) != 0) return true;
  for (const char *prefix : later_prefixes)
    if (mnemonic.rfind(prefix, 0) == 0) return true;
  // The one-byte nop has no operand; "nop %eax" is a long NOP.
  if (mnemonic == "nop" && operands.find_first_not_of(" \t") != std::string::npos) return true;
  for (const char *wide_register : {"%xmm", "%ymm", "%zmm"})
    if (operands.find(wide_register) != std::string::npos) return true;
  return false;
}

struct Scan {
  size_t instructions = 0;
  std::vector<std::string> findings;  // "function: instruction"
};

Scan scan_disassembly(const std::string &file) {
  RunResult r = shell("objdump -d -w --no-show-raw-insn '" + file + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  Scan scan;
  std::string function;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.size() > 2 && line.back() == ':' && line.find(" <") != std::string::npos) {
      function = line.substr(line.find(" <") + 1);
      continue;
    }
    size_t tab = line.find(":\t");
    if (line.empty() || line[0] != ' ' || tab == std::string::npos) continue;
    std::istringstream words(line.substr(tab + 2));
    std::string mnemonic;
    while (words >> mnemonic && prefix_words.count(mnemonic) != 0) {
    }
    if (mnemonic.empty() || mnemonic == "(bad)") continue;
    std::string operands;
    std::getline(words, operands);
    ++scan.instructions;
    if (is_beyond_pentium_mmx(mnemonic, operands))
      scan.findings.push_back(function + " " + line.substr(tab + 2));
  }
  return scan;
}

std::string first_findings(const Scan &scan) {
  std::string text;
  for (size_t i = 0; i < scan.findings.size() && i < 20; ++i) text += scan.findings[i] + "\n";
  return text;
}

TEST(InstructionSet, ProgramsUseOnlyPentiumMmxInstructions) {
  for (const std::string &program : {io_program(), index_program()}) {
    Scan scan = scan_disassembly(program);
    EXPECT_GT(scan.instructions, 50u) << program << ": no code found to scan";
    EXPECT_EQ(scan.findings.size(), 0u) << program << ":\n" << first_findings(scan);
  }
}

// The scan itself: code built for a P6 with SSE2 is caught, the same code
// built with the target flags is not.
TEST(InstructionSet, ScanCatchesLaterInstructions) {
  TempDir dir;
  write_file(dir / "later.c",
             "int pick(int a, int b, int c) { return a < b ? c : a; }\n"
             "double half(double x) { return x * 0.5; }\n"
             "int less(long double a, long double b) { return a < b; }\n");
  std::string compile = "cd '" + dir.path() + "' && " + target_cc + " -O2 -c later.c -o ";
  RunResult p6 = shell(compile + "p6.o -march=i686 -msse2 -mfpmath=sse");
  ASSERT_EQ(p6.status, 0) << p6.err;
  Scan later = scan_disassembly(dir / "p6.o");
  std::string found = first_findings(later);
  EXPECT_NE(found.find("cmov"), std::string::npos) << found;
  EXPECT_NE(found.find("%xmm"), std::string::npos) << found;
  EXPECT_NE(found.find("comi"), std::string::npos) << found;  // fcomi or fucomi

  RunResult target = shell(compile + "target.o");
  ASSERT_EQ(target.status, 0) << target.err;
  Scan plain = scan_disassembly(dir / "target.o");
  EXPECT_GT(plain.instructions, 5u);
  EXPECT_EQ(plain.findings.size(), 0u) << first_findings(plain);
}

}  // namespace
