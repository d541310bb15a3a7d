// "stat -c FORMAT PATH": the printed answers agree with coreutils stat, the
// trust test, the refusals, and a lost answer never passing.
#include <gtest/gtest.h>
#include <unistd.h>

#include "harness.h"

using namespace vesk::test;

namespace {

const std::vector<std::string> printed_formats = {"%u", "%a", "%s", "%u:%g"};

TEST(StatQuery, PrintedAnswersAgreeWithCoreutils) {
  TempDir dir;
  write_file(dir / "plain", "hello\n", 0644);
  write_file(dir / "setuid", "x", 04755);
  write_file(dir / "no-bits", "", 0);
  write_file(dir / "foreign", "abc", 0640, 1234, 5678);
  ASSERT_EQ(symlink("plain", (dir / "link").c_str()), 0);
  make_dir(dir / "directory", 0755);
  write_file(dir / "sparse", "", 0644);  // past 4 GiB: the size needs 64 bits
  ASSERT_EQ(truncate((dir / "sparse").c_str(), 5368709123LL), 0);
  for (const char *name :
       {"plain", "setuid", "no-bits", "foreign", "link", "directory", "sparse"}) {
    for (const std::string &format : printed_formats) {
      SCOPED_TRACE(name + (" " + format));
      RunResult expected = shell("stat -c '" + format + "' " + dir / name);
      ASSERT_EQ(expected.status, 0);
      expect_io(run_io({"stat", "-c", format, dir / name}), "", expected.out);
    }
  }
  EXPECT_EQ(run_io({"stat", "-c", "%s", dir / "sparse"}).out, "5368709123\n");
  EXPECT_EQ(run_io({"stat", "-c", "%u:%g", dir / "foreign"}).out, "1234:5678\n");
}

// Root-owned, and writable by no one else: group write only with group 0.
TEST(StatQuery, TrustRule) {
  const struct {
    const char *name;
    mode_t mode;
    uid_t uid;
    gid_t gid;
    bool trusted;
  } cases[] = {{"root-0755", 0755, 0, 0, true}, {"group-root-0775", 0775, 0, 0, true},
               {"set-id-and-sticky", 07755, 0, 0, true}, {"group-other-0775", 0775, 0, 1000, false},
               {"group-other-0755", 0755, 0, 1000, true}, {"owner-other", 0755, 1000, 0, false},
               {"world-0777", 0777, 0, 0, false}, {"sticky-1777", 01777, 0, 0, false},
               {"world-only-0002", 0002, 0, 0, false}};
  TempDir dir;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    make_dir(dir / c.name, c.mode, c.uid, c.gid);
    expect_io(run_io({"stat", "-c", "safe", dir / c.name}),
              c.trusted ? "" : "untrusted directory owner/mode");
  }
  // The type is not tested; a symbolic link is judged by its own bits.
  write_file(dir / "file", "", 0644);
  expect_io(run_io({"stat", "-c", "safe", dir / "file"}), "");
  ASSERT_EQ(symlink(dir.path().c_str(), (dir / "link").c_str()), 0);
  expect_io(run_io({"stat", "-c", "safe", dir / "link"}), "untrusted directory owner/mode");
}

TEST(StatQuery, Refusals) {
  TempDir dir;
  for (const char *format : {"%u", "safe", "%g"})
    for (const std::string &path : {dir / "missing", std::string()})
      expect_io(run_io({"stat", "-c", format, path}), "stat failed");
  for (const char *format : {"%g", "%U", "%u ", "", "SAFE", "%u:%g\n", "%u%a"})
    expect_io(run_io({"stat", "-c", format, dir.path()}), "unsupported stat format");
}

// Exit status 0 must mean the caller got its line.
TEST(StatQuery, LostAnswerFails) {
  TempDir dir;
  for (const std::string &format : printed_formats) {
    SCOPED_TRACE(format);
    expect_io(run_io({"stat", "-c", format, dir.path()}, {.stdout_path = "/dev/full"}),
              "output write");
    expect_io(run_io({"stat", "-c", format, dir.path()}, {.close_stdout = true}), "output write");
  }
  // "safe" prints nothing, so it has nothing to lose.
  expect_io(run_io({"stat", "-c", "safe", dir.path()}, {.stdout_path = "/dev/full"}), "");
}

}  // namespace
