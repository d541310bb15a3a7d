// The programs run on a bare system: the C library is their only
// dependency, and their code makes no use of the C++ run-time library.
#include <gtest/gtest.h>

#include <sstream>

#include "harness.h"

using namespace vesk::test;

namespace {

std::vector<std::string> needed_entries(const std::string &program) {
  RunResult r = shell("readelf -d '" + program + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> entries;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("(NEEDED)") == std::string::npos) continue;
    size_t open = line.find('['), close = line.find(']');
    entries.push_back(line.substr(open + 1, close - open - 1));
  }
  return entries;
}

// A sanitizer or coverage build carries its own run-time in the programs.
const char *const instrumented_build =
    "sanitizer/coverage build links its run-time in; the plain builds check the link rules";

TEST(Link, CLibraryIsTheOnlyNeededEntry) {
  if (!VESK_LINK_CHECK) GTEST_SKIP() << instrumented_build;
  for (const std::string &program : {io_program(), index_program()}) {
    std::vector<std::string> expected = {VESK_EXPECTED_NEEDED};
    if (expected[0].empty()) expected.clear();  // a static build needs nothing
    EXPECT_EQ(needed_entries(program), expected) << program;
  }
}

TEST(Link, NoCxxRuntimeSymbols) {
  if (!VESK_LINK_CHECK) GTEST_SKIP() << instrumented_build;
  for (const std::string &program : {io_program(), index_program()}) {
    RunResult r = shell("nm -D --undefined-only '" + program + "' 2>/dev/null; nm '" + program +
                        "' 2>/dev/null");
    EXPECT_EQ(r.out.find("_Znw"), std::string::npos) << program << " uses operator new";
    EXPECT_EQ(r.out.find("__cxa_guard"), std::string::npos) << program;
    EXPECT_EQ(r.out.find("__gxx_personality"), std::string::npos) << program;
    EXPECT_EQ(r.out.find("_ZSt"), std::string::npos) << program;
    EXPECT_EQ(r.out.find("GLIBCXX"), std::string::npos) << program;
    EXPECT_EQ(r.out.find(" malloc"), std::string::npos) << program << " calls malloc";
  }
}

}  // namespace
