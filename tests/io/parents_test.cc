// "parents", "prepare", "parents2" and "prepare2" on real trees.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"

using namespace vesk::test;

namespace {

class Parents : public ::testing::Test {
 protected:
  TempDir root;
  void SetUp() override {
    for (const char *dir : {"usr", "usr/local", "usr/local/bin", "usr/bin"}) make_dir(root / dir);
    write_file(root / "usr/local/bin/tool", "x", 0755);
    write_file(root / "usr/bin/tool", "x", 0755);
  }
  RunResult run(const std::string &command, const std::string &path,
                const RunOptions &options = {}) {
    return run_io({command, root.path(), path}, options);
  }
};

TEST_F(Parents, PathsAndLeaves) {
  ASSERT_EQ(link((root / "usr/bin/tool").c_str(), (root / "usr/bin/hard").c_str()), 0);
  ASSERT_EQ(symlink("tool", (root / "usr/bin/soft").c_str()), 0);
  ASSERT_EQ(symlink("/nowhere", (root / "usr/bin/dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((root / "usr/bin/fifo").c_str(), 0644), 0);
  make_dir(root / "usr/bin/dir");
  ASSERT_EQ(symlink("bin", (root / "usr/local/share").c_str()), 0);
  write_file(root / "usr/local/libexec", "");
  const std::string forbidden = "target link/type forbidden";
  const struct {
    std::string command, path, message;
  } cases[] = {
      {"parents", "usr/local/bin/tool", ""}, {"prepare", "usr/local/bin/new", ""},
      {"parents2", "usr/bin/new", ""}, {"prepare2", "usr/bin/tool", forbidden},  // two links
      {"parents", "usr/bin/tool", "invalid managed path"},
      {"parents2", "usr/local/bin/tool", "invalid managed path"},
      {"prepare2", "usr/share/vesk/x", "invalid managed path"},
      {"parents2", "usr/bin/hard", forbidden}, {"prepare2", "usr/bin/soft", forbidden},
      {"parents2", "usr/bin/dangling", forbidden}, {"parents2", "usr/bin/fifo", forbidden},
      {"prepare2", "usr/bin/dir", forbidden},
      {"parents", "usr/local/share/tool", "unsafe parent"},
      {"prepare", "usr/local/libexec/tool", "unsafe parent"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.command + " " + c.path);
    expect_io(run(c.command, c.path), c.message);
  }
  EXPECT_FALSE(exists(root / "usr/local/bin/new"));
  EXPECT_FALSE(exists(root / "usr/bin/new"));
}

// "parents" passes below a missing directory and creates nothing;
// "prepare" makes the directories 0755 whatever the caller's umask.
TEST_F(Parents, MissingDirectories) {
  expect_io(run("parents", "usr/local/share/doc/x/readme"), "");
  expect_io(run("parents2", "usr/libexec/x/y"), "");
  EXPECT_FALSE(exists(root / "usr/local/share"));
  EXPECT_FALSE(exists(root / "usr/libexec"));
  mode_t old_mask = umask(0);
  expect_io(run("prepare", "usr/local/share/doc/x/readme"), "");
  expect_io(run("prepare2", "usr/libexec/x/y"), "");
  umask(old_mask);
  const std::string listing = " && find usr/local/share usr/libexec -printf '%y %m %U %p\\n'";
  EXPECT_EQ(shell("cd " + root.path() + listing).out,
            "d 755 0 usr/local/share\nd 755 0 usr/local/share/doc\nd 755 0 usr/local/share/doc/x\n"
            "d 755 0 usr/libexec\nd 755 0 usr/libexec/x\n");
}

TEST_F(Parents, UntrustedParentsAndRoots) {
  ASSERT_EQ(chmod((root / "usr/bin").c_str(), 0775), 0);
  expect_io(run("parents2", "usr/bin/new"), "");
  ASSERT_EQ(chown((root / "usr/bin").c_str(), 0, 100), 0);
  expect_io(run("parents2", "usr/bin/new"), "unsafe parent ownership/mode");
  ASSERT_EQ(symlink(root.path().c_str(), (root / "self").c_str()), 0);
  expect_io(run_io({"prepare", root / "self", "usr/local/bin/tool"}), "root open");
  expect_io(run_io({"parents2", root / "nowhere", "usr/bin/tool"}), "root open");
  // The path is judged before the root is opened.
  expect_io(run_io({"prepare", root / "nowhere", "usr/bin/tool"}), "invalid managed path");
  ASSERT_EQ(chmod(root.path().c_str(), 0777), 0);
  expect_io(run("prepare", "usr/local/bin/tool"), "unsafe root directory");
}

// A caller without root rights: a trusted directory it may read but not
// search, and one it may not write to.
TEST_F(Parents, FailuresOfAnUnprivilegedCaller) {
  const RunOptions nobody = {.uid = 65534, .gid = 65534};
  ASSERT_EQ(chmod((root / "usr/bin").c_str(), 0744), 0);
  expect_io(run("parents2", "usr/bin/tool", nobody), "target stat");
  expect_io(run("prepare", "usr/local/share/x", nobody), "mkdirat");
}

// A file system mounted below the root is never entered; as a root of
// its own it is fine.
TEST_F(Parents, AnotherFileSystemIsNeverEntered) {
  TmpfsMount tmpfs(root / "usr/local/bin");
  ASSERT_TRUE(tmpfs.mounted());
  write_file(root / "usr/local/bin/tool", "x");
  ASSERT_EQ(mode_of(root / "usr/local/bin"), 0755u);
  expect_io(run("parents", "usr/local/bin/tool"), "unsafe parent ownership/mode");
  expect_io(run("prepare", "usr/local/bin/x/y"), "unsafe parent ownership/mode");
  expect_io(run("observe", "usr/local/bin/tool"), "unsafe parent ownership/mode");
  expect_io(run_io({"observe", root / "usr/local/bin", "tool"}), "", "f\t0644\t0\t0\t1\t-\n");
}

}  // namespace
