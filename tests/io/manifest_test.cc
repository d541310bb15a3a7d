// Package manifests through "manifest" and "manifest2".
#include <gtest/gtest.h>

#include "harness.h"

using namespace vesk::test;

namespace {

const std::string digest(64, 'a');

std::string line(const std::string &path, const std::string &size = "5",
                 const std::string &mode = "0644", const std::string &hash = digest) {
  return "f\t" + mode + "\t" + size + "\t" + hash + "\t" + path + "\n";
}

// `count` lines of `size` bytes each.
std::string lines(size_t count, const std::string &size) {
  std::string text;
  char path[64];
  for (size_t i = 0; i < count; ++i) {
    snprintf(path, sizeof path, "usr/local/share/p%04zu", i);
    text += line(path, size);
  }
  return text;
}

TEST(Manifest, EachFileGivesItsMessage) {
  const std::string a = "usr/local/bin/a", b = "usr/local/bin/b", c = "usr/local/bin/c";
  const std::string half = "16777216", noncanonical = "noncanonical manifest";
  const std::string limit = "manifest limit/newline", refused = "manifest type/mode/path";
  const struct {
    const char *name;
    std::string content, message, command = "manifest";
  } cases[] = {
      {"OneLine", line(a), ""},
      {"Empty", "", "empty/invalid manifest"},
      {"LastLineWithoutLineFeed", line(a) + line(b).substr(0, line(b).size() - 1), limit},
      {"NulBeforeLineFeed", std::string("f\t0644\t5\t") + '\0' + "\n", limit},
      {"LineOf256Bytes", line(a) + std::string(255, ' ') + "\n", limit},
      {"Lines1024", lines(1024, "1"), ""},
      {"Lines1025", lines(1025, "1"), limit},
      {"CarriageReturn", "f\t0644\t5\t" + digest + "\t" + a + "\r\n", noncanonical},
      {"SpacesForTabs", "f 0644 5 " + digest + " " + a + "\n", noncanonical},
      {"LeadingZeros", line(a, "00000007"), noncanonical},
      {"SixthWord", "f\t0644\t5\t" + digest + "\t" + a + "\tx\n", "manifest fields"},
      {"MissingPath", "f\t0644\t5\t" + digest + "\n", "manifest fields"},
      {"NineDigits", line(a, "000000007"), "manifest size"},
      {"Plus", line(a, "+5"), "manifest size"},
      {"LargestSize", line(a, "33554432"), ""},
      {"OverLargest", line(a, "33554433"), "expanded size limit"},
      {"TwoHalves", line(a, half) + line(b, half), ""},
      {"TwoHalvesAndOne", line(a, half) + line(b, half) + line(c, "1"), "expanded size limit"},
      {"Rows1024OfTheLargestTotal", lines(1024, "32768"), ""},
      {"Mode0600", line(a, "5", "0600"), refused},
      {"Mode0755", line(a, "5", "0755"), ""},
      {"TypeD", "d" + line(a).substr(1), refused},
      {"UpperDigest", line(a, "5", "0644", std::string(64, 'A')), "manifest SHA256"},
      {"Digest63", line(a, "5", "0644", std::string(63, 'a')), "manifest SHA256"},
      {"Repeated", line(a) + line(a), "manifest not sorted/duplicate"},
      {"Descending", line(b) + line(a), "manifest not sorted/duplicate"},
      {"ByteOrder", line(a + "-b") + line(a + ".b") + line(a + "/b") + line(a + "0"), ""},
      {"Format1PathUnderManifest2", line(a), refused, "manifest2"},
      {"Format2PathUnderManifest2", line("usr/bin/a"), "", "manifest2"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    expect_io(run_io_on(c.content, {c.command}), c.message);
  }
  expect_io(run_io({"manifest2", "/nonexistent/files"}), "manifest open");
}

}  // namespace
