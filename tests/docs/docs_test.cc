// The manual pages: lint-clean, DIAGNOSTICS as printed by the code, installed in place.
#include "harness.h"

using namespace vesk::test;

const std::string source = VESK_SOURCE_DIR, pages = "cd " + source + "/man && ";

TEST(Manual, LintCleanAndEveryMessageDocumented) {
  expect(sh(pages + "mandoc -Tlint -W warning * 2>&1"), "");
  // The message is the last argument of every check: a literal just before ");".
  const std::string messages = R"sh(tr '\n' ' ' |
    grep -oE '(require_or_abort|abort_with_message)\([^;]*"[^"]*"\) *;' |
    sed -E 's/.*"([^"]*)"\) *;$/\1/' | sort -u)sh";
  const std::string listed = R"sh(sed -nE '/^.Sh DIAG/,/^.Sh [^D]/s/^.It Li "?([^"]*)"?$/\1/p')sh";
  for (const std::string program : {"io", "index"}) {
    SCOPED_TRACE(program);
    const std::string code = sh("cat " + source + "/" + program + "/*.cc | " + messages).out;
    expect(sh(pages + listed + " vesk-" + program + ".1 | sort -u"), "", code);
  }
}

TEST(Install, ProgramsAndPagesUnderThePrefix) {
  TempDir d;
  const std::string tools = "bin/vesk-index bin/vesk-pack bin/vesk-publish sbin/vesk";
  expect(sh("DESTDIR=" + d.path + " cmake --install " VESK_BINARY_DIR " --prefix / >/dev/null && " +
            pages + "cmp " VESK_IO_PROGRAM " " + d / "bin/vesk-io && cd " + d.path +
            " && for tool in " + tools + "; do test -x $tool; done && cd - >/dev/null" +
            " && for page in *; do cmp $page " + d / "share/man/man${page##*.}/$page; done"),
         "");
}
