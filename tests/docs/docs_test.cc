// The manual pages lint-clean, their DIAGNOSTICS as printed by the code; the install in a DESTDIR.
#include "harness.h"

using namespace vesk::test;

TEST(Manual, LintCleanEveryMessageDocumentedInstalled) {
  const string pages = "cd " VESK_SOURCE_DIR "/man && ";
  expect(sh(pages + "mandoc -Tlint -W warning * 2>&1"), "");
  // A message is the literal that ends a check (a call that may span lines).
  const string messages = R"sh(tr '\n' ' ' |
    grep -oE '(require_or_abort|abort_with_message)\([^;]*"[^"]*"\);' |
    sed -E 's/.*"([^"]*)"\);$/\1/' | sort -u)sh";
  const string listed = R"sh(sed -nE '/^.Sh DIAG/,/^.Sh [^D]/s/^.It Li "?([^"]*)"?$/\1/p')sh";
  for (const string program : {"io", "index"}) {
    SCOPED_TRACE(program);
    expect(sh(pages + listed + " vesk-" + program + ".1 | sort -u"), "",
           sh("cat " VESK_SOURCE_DIR "/" + program + "/*.cc | " + messages).out);
  }
  TempDir d;
  expect(sh("DESTDIR=" + d.path + " cmake --install " VESK_BINARY_DIR " --prefix / >/dev/null && " +
            pages + "for page in *; do cmp $page " +
            d / "share/man/man${page##*.}/$page; done && cd " + d.path +
            " && cmp " VESK_BINARY_DIR "/vesk-io bin/vesk-io && ls bin sbin"),
         "", "bin:\nvesk-index\nvesk-io\nvesk-pack\nvesk-publish\n\nsbin:\nvesk\n");
}
