// The programs run on a bare system: the C library is their only
// dependency, and their code makes no use of the C++ run-time library.
#include <gtest/gtest.h>

#include <sstream>

#include "harness.h"

using namespace vesk::test;

namespace {

// A sanitizer or coverage build carries its own run-time in the programs.
const char *const instrumented_build =
    "sanitizer/coverage build links its run-time in; the plain builds check the link rules";

TEST(Link, CLibraryIsTheOnlyNeededEntry) {
  if (!VESK_LINK_CHECK) GTEST_SKIP() << instrumented_build;
  std::vector<std::string> expected = {VESK_EXPECTED_NEEDED};
  if (expected[0].empty()) expected.clear();  // a static build needs nothing
  for (const std::string &program : {io_program(), index_program()}) {
    RunResult r = shell("readelf -d '" + program + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> needed;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
      if (line.find("(NEEDED)") != std::string::npos)
        needed.push_back(line.substr(line.find('[') + 1, line.find(']') - line.find('[') - 1));
    EXPECT_EQ(needed, expected) << program;
  }
}

TEST(Link, NoCxxRuntimeSymbolsAndNoHeap) {
  if (!VESK_LINK_CHECK) GTEST_SKIP() << instrumented_build;
  for (const std::string &program : {io_program(), index_program()}) {
    RunResult r = shell("nm -D --undefined-only '" + program + "' 2>/dev/null; nm '" + program +
                        "' 2>/dev/null");
    for (const char *symbol : {"_Znw", "__cxa_guard", "__gxx_personality", "_ZSt", "GLIBCXX"})
      EXPECT_EQ(r.out.find(symbol), std::string::npos) << program << " uses " << symbol;
    // Only what the program imports: a static C library brings its own
    // allocator for fopen; the dynamic build of the same code shows calls.
    RunResult imports = shell("nm -D --undefined-only '" + program + "' 2>/dev/null; nm " +
                              "--undefined-only '" + program + "' 2>/dev/null");
    EXPECT_EQ(imports.out.find(" malloc"), std::string::npos) << program << " calls malloc";
  }
}

// What the loader is told: the musl loader for the dynamic target build,
// nothing at all for a static build, and never a search path or text
// relocations.
TEST(Link, LoaderAndDynamicTags) {
  const std::string expected_needed = VESK_EXPECTED_NEEDED;
  for (const std::string &program : {io_program(), index_program()}) {
    RunResult r = shell("readelf -W -l -d '" + program + "'");
    ASSERT_EQ(r.status, 0) << program;
    if (expected_needed.empty()) {
      EXPECT_NE(r.out.find("Elf file type is EXEC"), std::string::npos) << program;
      EXPECT_EQ(r.out.find("INTERP"), std::string::npos) << program;
      EXPECT_EQ(r.out.find("DYNAMIC"), std::string::npos) << program;
      EXPECT_NE(r.out.find("There is no dynamic section in this file."), std::string::npos)
          << program;
      continue;
    }
    for (const char *tag : {"(RPATH)", "(RUNPATH)", "TEXTREL"})
      EXPECT_EQ(r.out.find(tag), std::string::npos) << program << " has " << tag;
    if (expected_needed == "libc.so") {
      EXPECT_NE(r.out.find("Elf file type is DYN (Position-Independent"), std::string::npos)
          << program;
      const std::string loader = "[Requesting program interpreter: /lib/ld-musl-i386.so.1]";
      size_t at = r.out.find(loader);
      EXPECT_NE(at, std::string::npos) << program;
      EXPECT_EQ(r.out.find("Requesting program interpreter", at + loader.size()), std::string::npos)
          << program << " names two loaders";
    }
  }
}

}  // namespace
