// The programs run on a bare system: the C library is their only
// dependency, and their code makes no use of the C++ run-time library.
#include <gtest/gtest.h>

#include <sstream>

#include "harness.h"

using namespace vesk::test;

namespace {

TEST(Link, CLibraryIsTheOnlyNeededEntry) {
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
  for (const std::string &program : {io_program(), index_program()}) {
    RunResult r = shell("nm -D --undefined-only '" + program + "' 2>/dev/null; nm '" + program +
                        "' 2>/dev/null");
    for (const char *symbol :
         {"_Znw", "__cxa_guard", "__gxx_personality", "_ZSt", "GLIBCXX", " malloc"})
      EXPECT_EQ(r.out.find(symbol), std::string::npos) << program << " uses " << symbol;
  }
}

}  // namespace
