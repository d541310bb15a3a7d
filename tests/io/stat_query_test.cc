// "stat -c FORMAT PATH": the four printed answers agree with coreutils
// stat, the trust test, the refusals, and a lost answer never passing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "harness.h"

using namespace vesk::test;

namespace {

const std::vector<std::string> printed_formats = {"%u", "%a", "%s", "%u:%g"};

class StatQuery : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(dir / "plain", "hello\n", 0644);
    write_file(dir / "setuid", "x", 04755);
    write_file(dir / "no-bits", "", 0);
    write_file(dir / "foreign", "abc", 0640, 1234, 5678);
    ASSERT_EQ(symlink("plain", (dir / "link").c_str()), 0);
    make_dir(dir / "directory", 0755);
    // A sparse file past 4 GiB: its size needs all 64 bits.
    write_file(dir / "sparse", "", 0644);
    ASSERT_EQ(truncate((dir / "sparse").c_str(), 5LL * 1024 * 1024 * 1024 + 3), 0);
  }
  TempDir dir;
};

TEST_F(StatQuery, PrintedAnswersAgreeWithCoreutils) {
  for (const char *name :
       {"plain", "setuid", "no-bits", "foreign", "link", "directory", "sparse"}) {
    for (const std::string &format : printed_formats) {
      RunResult expected = shell("stat -c '" + format + "' " + dir / name);
      ASSERT_EQ(expected.status, 0);
      RunResult r = run_io({"stat", "-c", format, dir / name});
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.out, expected.out) << name << " " << format;
    }
  }
}

TEST_F(StatQuery, KnownValues) {
  EXPECT_EQ(run_io({"stat", "-c", "%a", dir / "setuid"}).out, "4755\n");
  EXPECT_EQ(run_io({"stat", "-c", "%a", dir / "no-bits"}).out, "0\n");
  EXPECT_EQ(run_io({"stat", "-c", "%a", dir / "link"}).out, "777\n");
  EXPECT_EQ(run_io({"stat", "-c", "%s", dir / "link"}).out, "5\n");
  EXPECT_EQ(run_io({"stat", "-c", "%s", dir / "sparse"}).out, "5368709123\n");
  EXPECT_EQ(run_io({"stat", "-c", "%u:%g", dir / "plain"}).out, "0:0\n");
  EXPECT_EQ(run_io({"stat", "-c", "%u:%g", dir / "foreign"}).out, "1234:5678\n");
}

struct SafeCase {
  std::string name;
  mode_t mode;
  uid_t uid;
  gid_t gid;
  bool trusted;
};

TEST(StatSafe, TrustRule) {
  const SafeCase cases[] = {{"root-0755", 0755, 0, 0, true},
                            {"group-root-0775", 0775, 0, 0, true},
                            {"set-id-and-sticky", 07755, 0, 0, true},
                            {"group-other-0775", 0775, 0, 1000, false},
                            {"group-other-0755", 0755, 0, 1000, true},
                            {"owner-other", 0755, 1000, 0, false},
                            {"owner-other-0700", 0700, 1000, 0, false},
                            {"world-0777", 0777, 0, 0, false},
                            {"sticky-1777", 01777, 0, 0, false},
                            {"world-only-0002", 0002, 0, 0, false}};
  TempDir dir;
  for (const SafeCase &c : cases) {
    make_dir(dir / c.name, c.mode, c.uid, c.gid);
    RunResult r = run_io({"stat", "-c", "safe", dir / c.name});
    EXPECT_EQ(r.status, c.trusted ? 0 : 1) << c.name;
    EXPECT_EQ(r.err, c.trusted ? "" : io_failure("untrusted directory owner/mode")) << c.name;
    EXPECT_EQ(r.out, "");
  }
  // The type is not tested: a root-owned 0644 file passes; a symbolic
  // link is judged by its own bits and fails.
  write_file(dir / "file", "", 0644);
  EXPECT_EQ(run_io({"stat", "-c", "safe", dir / "file"}).status, 0);
  ASSERT_EQ(symlink(dir.path().c_str(), (dir / "link").c_str()), 0);
  EXPECT_EQ(run_io({"stat", "-c", "safe", dir / "link"}).err,
            io_failure("untrusted directory owner/mode"));
}

TEST(StatRefusals, StatFailsBeforeTheFormatIsRead) {
  TempDir dir;
  for (const std::string &format : {"%u", "safe", "%g", ""})
    for (const std::string &path : {dir / "missing", dir / "missing/below", std::string()}) {
      RunResult r = run_io({"stat", "-c", format, path});
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, io_failure("stat failed")) << format << " " << path;
      EXPECT_EQ(r.out, "");
    }
}

TEST(StatRefusals, UnsupportedFormats) {
  TempDir dir;
  for (const std::string &format : {"%g", "%U", "%u ", "", "SAFE", "%u:%g\n", "%n", "%u%a"}) {
    RunResult r = run_io({"stat", "-c", format, dir.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, io_failure("unsupported stat format")) << format;
    EXPECT_EQ(r.out, "");
  }
}

// Exit status 0 must mean the caller got its line.
TEST(StatOutput, LostAnswerFails) {
  TempDir dir;
  for (const std::string &format : printed_formats) {
    RunResult full = run_io({"stat", "-c", format, dir.path()}, {.stdout_path = "/dev/full"});
    EXPECT_EQ(full.status, 1) << format;
    EXPECT_EQ(full.err, io_failure("output write"));
    RunResult closed = run_io({"stat", "-c", format, dir.path()}, {.close_stdout = true});
    EXPECT_EQ(closed.status, 1) << format;
    EXPECT_EQ(closed.err, io_failure("output write"));
  }
  // "safe" prints nothing, so it has nothing to lose.
  EXPECT_EQ(run_io({"stat", "-c", "safe", dir.path()}, {.stdout_path = "/dev/full"}).status, 0);
}

}  // namespace
