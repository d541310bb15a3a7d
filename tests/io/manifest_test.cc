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

RunResult check(const std::string &command, const std::string &content) {
  TempDir dir;
  write_file(dir / "files", content);
  return run_io({command, dir / "files"});
}

struct ManifestCase {
  std::string name;
  std::string content;
  std::string message;  // empty: accepted
  std::string command = "manifest";
};

class Manifest : public ::testing::TestWithParam<ManifestCase> {};

TEST_P(Manifest, GivesItsMessage) {
  const ManifestCase &c = GetParam();
  RunResult r = check(c.command, c.content);
  EXPECT_EQ(r.out, "");
  if (c.message.empty()) {
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, io_failure(c.message));
  }
}

const std::string a = "usr/local/bin/a";
const std::string b = "usr/local/bin/b";
const std::string half = "16777216";

INSTANTIATE_TEST_SUITE_P(
    Cases, Manifest,
    ::testing::Values(
        ManifestCase{"OneLine", line(a)},
        ManifestCase{"Empty", "", "empty/invalid manifest"},
        ManifestCase{"LastLineWithoutLineFeed", line(a) + line(b).substr(0, line(b).size() - 1),
                     "manifest limit/newline"},
        ManifestCase{"NulBeforeLineFeed", std::string("f\t0644\t5\t") + '\0' + "\n",
                     "manifest limit/newline"},
        ManifestCase{"LineOf256Bytes", line(a) + std::string(255, ' ') + "\n",
                     "manifest limit/newline"},
        ManifestCase{"OverlongPathSpillsIntoASixthField",
                     line("usr/local/bin/" + std::string(90, 'x')), "manifest fields"},
        ManifestCase{"CarriageReturn", "f\t0644\t5\t" + digest + "\t" + a + "\r\n",
                     "noncanonical manifest"},
        ManifestCase{"SpacesForTabs", "f 0644 5 " + digest + " " + a + "\n",
                     "noncanonical manifest"},
        ManifestCase{"DoubleTab", "f\t\t0644\t5\t" + digest + "\t" + a + "\n",
                     "noncanonical manifest"},
        ManifestCase{"SpaceBeforeLineFeed", "f\t0644\t5\t" + digest + "\t" + a + " \n",
                     "noncanonical manifest"},
        ManifestCase{"BlankLine", "\n", "manifest fields"},
        ManifestCase{"SixthWord", "f\t0644\t5\t" + digest + "\t" + a + "\tx\n",
                     "manifest fields"},
        ManifestCase{"MissingPath", "f\t0644\t5\t" + digest + "\n", "manifest fields"},
        // Without a size the digest is cut across the size and digest fields.
        ManifestCase{"MissingSize", "f\t0644\t" + digest + "\t" + a + "\n", "manifest SHA256"},
        ManifestCase{"SizeZero", line(a, "0")},
        ManifestCase{"LeadingZeros", line(a, "00000007"), "noncanonical manifest"},
        ManifestCase{"NineDigits", line(a, "000000007"), "manifest size"},
        ManifestCase{"Plus", line(a, "+5"), "manifest size"},
        ManifestCase{"Minus", line(a, "-5"), "manifest size"},
        ManifestCase{"Suffix", line(a, "5k"), "manifest size"},
        ManifestCase{"LargestSize", line(a, "33554432")},
        ManifestCase{"OverLargest", line(a, "33554433"), "expanded size limit"},
        ManifestCase{"TwoHalves", line(a, half) + line(b, half)},
        ManifestCase{"TwoHalvesAndZero",
                     line(a, half) + line(b, half) + line("usr/local/bin/c", "0")},
        ManifestCase{"TwoHalvesAndOne",
                     line(a, half) + line(b, half) + line("usr/local/bin/c", "1"),
                     "expanded size limit"},
        ManifestCase{"Mode644", line(a, "5", "644"), "manifest type/mode/path"},
        ManifestCase{"Mode0600", line(a, "5", "0600"), "manifest type/mode/path"},
        ManifestCase{"Mode0775", line(a, "5", "0775"), "manifest type/mode/path"},
        ManifestCase{"Mode0755", line(a, "5", "0755")},
        ManifestCase{"TypeD", "d" + line(a).substr(1), "manifest type/mode/path"},
        ManifestCase{"UpperDigest", line(a, "5", "0644", std::string(64, 'A')),
                     "manifest SHA256"},
        ManifestCase{"Digest63", line(a, "5", "0644", std::string(63, 'a')), "manifest SHA256"},
        ManifestCase{"Digest65", line(a, "5", "0644", std::string(65, 'a')), "manifest SHA256"},
        ManifestCase{"Repeated", line(a) + line(a), "manifest not sorted/duplicate"},
        ManifestCase{"Descending", line(b) + line(a), "manifest not sorted/duplicate"},
        ManifestCase{"ByteOrder", line("usr/local/bin/a-b") + line("usr/local/bin/a.b") +
                                      line("usr/local/bin/a/b") + line("usr/local/bin/a0")},
        ManifestCase{"DirectoryOrderIsNotByteOrder",
                     line("usr/local/bin/a/b") + line("usr/local/bin/a.b"),
                     "manifest not sorted/duplicate"},
        // Checks run in order: the type/mode/path test comes before the digest.
        ManifestCase{"FirstFailingCheckDecides", line("usr/bin/x", "5k", "0644", "X"),
                     "manifest type/mode/path"},
        ManifestCase{"Format1PathUnderManifest2", line(a), "manifest type/mode/path",
                     "manifest2"},
        ManifestCase{"Format2PathUnderManifest", line("usr/bin/a"), "manifest type/mode/path"},
        ManifestCase{"Format2PathUnderManifest2", line("usr/bin/a"), "", "manifest2"}),
    [](const auto &info) { return info.param.name; });

std::string lines(size_t count, const std::string &size) {
  std::string text;
  char path[64];
  for (size_t i = 0; i < count; ++i) {
    snprintf(path, sizeof path, "usr/local/share/p%04zu", i);
    text += line(path, size);
  }
  return text;
}

TEST(ManifestLimits, ThousandTwentyFourLinesAtTheSizeLimit) {
  // 1024 × 32768 = 33554432: the most rows and the largest total together.
  RunResult r = check("manifest", lines(1024, "32768"));
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST(ManifestLimits, LineThousandTwentyFiveIsRefusedWhateverItHolds) {
  EXPECT_EQ(check("manifest", lines(1024, "1") + "garbage").err,
            io_failure("manifest limit/newline"));
  EXPECT_EQ(check("manifest", lines(1025, "1")).err, io_failure("manifest limit/newline"));
}

TEST(ManifestLimits, LongestValidLineIs172Bytes) {
  std::string longest = line("usr/local/share/" + std::string(74, 'x'), "33554432");
  ASSERT_EQ(longest.size(), 172u);
  EXPECT_EQ(check("manifest", longest).status, 0);
}

TEST(ManifestLimits, UnreadableFile) {
  TempDir dir;
  EXPECT_EQ(run_io({"manifest", dir.path()}).err, io_failure("empty/invalid manifest"));
}

}  // namespace
