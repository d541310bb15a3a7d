// The manual pages render without a warning, each program's DIAGNOSTICS list
// exactly the messages its code prints, and the install puts it all in place.
#include "harness.h"

using namespace vesk::test;

const std::string source = VESK_SOURCE_DIR;

TEST(Manual, LintCleanAndEveryMessageDocumented) {
  expect(sh("cd " + source + "/man && mandoc -Tlint -W warning *.[15] 2>&1"), "");
  for (const char *program : {"io", "index"}) {
    // The message is the last argument of every check: a literal just before ");".
    const std::string code = sh("cat " + source + "/" + program + "/*.cc | tr '\\n' ' ' | grep -o "
                                "'\\(require_or_abort\\|abort_with_message\\)([^;]*\"[^\"]*\") *;' | "
                                "sed 's/.*\"\\([^\"]*\\)\") *;$/\\1/' | sort -u").out;
    EXPECT_GT(std::count(code.begin(), code.end(), '\n'), 30) << program;
    EXPECT_EQ(sh("sed -n '/^\\.Sh DIAGNOSTICS/,/^\\.Sh [^D]/s/^\\.It Li \"\\{0,1\\}\\([^\"]*\\)\"\\{0,1\\}$/\\1/p' " +
                 source + "/man/vesk-" + program + ".1 | sort -u").out, code) << program;
  }
}

TEST(Install, ProgramsAndPagesUnderThePrefix) {
  TempDir d;
  const std::string installed =
      "DESTDIR=" + d.path +
      " cmake --install " VESK_BINARY_DIR " --prefix /nowhere >/dev/null && cd " + d.path +
      "/nowhere && find . -type f -printf '%m %p\\n' | sort && "
      "cmp bin/vesk-io " VESK_IO_PROGRAM;
  const std::string pages = "cd " + source +
                            "/man && for n in 1 5 8; do ls *.$n | "
                            "sed \"s|^|644 ./share/man/man$n/|\"; done";
  const std::string programs =
      "755 ./bin/vesk-index\n755 ./bin/vesk-io\n755 ./bin/vesk-pack\n"
      "755 ./bin/vesk-publish\n755 ./sbin/vesk\n";
  EXPECT_EQ(sh(installed).out, sh(pages).out + programs);
}
