// "parents", "prepare", "parents2" and "prepare2" on real trees.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"

using namespace vesk::test;

namespace {

void expect_result(const RunResult &r, const std::string &message) {
  EXPECT_EQ(r.out, "");
  if (message.empty()) {
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, io_failure(message));
  }
}

class Parents : public ::testing::Test {
 protected:
  TempDir root;
  void SetUp() override {
    make_dir(root / "usr");
    make_dir(root / "usr/local");
    make_dir(root / "usr/local/bin");
    make_dir(root / "usr/bin");
    write_file(root / "usr/local/bin/tool", "x", 0755);
    write_file(root / "usr/bin/tool", "x", 0755);
  }
  RunResult run(const std::string &command, const std::string &path,
                const RunOptions &options = {}) {
    return run_io({command, root.path(), path}, options);
  }
};

const std::vector<std::string> all_four = {"parents", "prepare", "parents2", "prepare2"};

TEST_F(Parents, FreeOrPlainLeafPasses) {
  for (const std::string command : {"parents", "prepare"}) {
    expect_result(run(command, "usr/local/bin/tool"), "");
    expect_result(run(command, "usr/local/bin/new"), "");
  }
  for (const std::string command : {"parents2", "prepare2"}) {
    expect_result(run(command, "usr/bin/tool"), "");
    expect_result(run(command, "usr/bin/new"), "");
  }
  EXPECT_FALSE(exists(root / "usr/local/bin/new"));
  EXPECT_FALSE(exists(root / "usr/bin/new"));
}

TEST_F(Parents, FormatDecidesThePrefix) {
  expect_result(run("parents", "usr/bin/tool"), "invalid managed path");
  expect_result(run("prepare", "usr/sbin/tool"), "invalid managed path");
  expect_result(run("parents2", "usr/local/bin/tool"), "invalid managed path");
  expect_result(run("prepare2", "usr/share/vesk/x"), "invalid managed path");
  expect_result(run("parents", "usr/local/bin/../bin/tool"), "invalid managed path");
  // The path is judged before the root is opened.
  expect_result(run_io({"prepare", root / "nowhere", "usr/bin/tool"}), "invalid managed path");
}

TEST_F(Parents, MissingDirectories) {
  expect_result(run("parents", "usr/local/share/doc/x/readme"), "");
  EXPECT_FALSE(exists(root / "usr/local/share"));
  expect_result(run("parents2", "usr/libexec/x/y"), "");
  EXPECT_FALSE(exists(root / "usr/libexec"));

  expect_result(run("prepare", "usr/local/share/doc/x/readme"), "");
  for (const std::string dir : {"usr/local/share", "usr/local/share/doc", "usr/local/share/doc/x"}) {
    struct stat status;
    ASSERT_EQ(lstat((root / dir).c_str(), &status), 0) << dir;
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(status.st_mode & 07777, 0755u) << dir;
    EXPECT_EQ(status.st_uid, 0u);
  }
  EXPECT_FALSE(exists(root / "usr/local/share/doc/x/readme"));
  expect_result(run("prepare2", "usr/libexec/x/y"), "");
  EXPECT_EQ(mode_of(root / "usr/libexec/x"), 0755u);
  EXPECT_FALSE(exists(root / "usr/libexec/x/y"));
}

TEST_F(Parents, ForbiddenLeaves) {
  ASSERT_EQ(link((root / "usr/bin/tool").c_str(), (root / "usr/bin/hard").c_str()), 0);
  ASSERT_EQ(symlink("tool", (root / "usr/bin/soft").c_str()), 0);
  ASSERT_EQ(symlink("/nowhere", (root / "usr/bin/dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((root / "usr/bin/fifo").c_str(), 0644), 0);
  make_dir(root / "usr/bin/dir");
  for (const std::string command : {"parents2", "prepare2"})
    for (const std::string leaf : {"hard", "tool", "soft", "dangling", "fifo", "dir"})
      expect_result(run(command, "usr/bin/" + leaf), "target link/type forbidden");
}

TEST_F(Parents, UnsafeParents) {
  ASSERT_EQ(symlink("bin", (root / "usr/local/share").c_str()), 0);
  write_file(root / "usr/local/libexec", "");
  for (const std::string command : {"parents", "prepare"}) {
    expect_result(run(command, "usr/local/share/tool"), "unsafe parent");
    expect_result(run(command, "usr/local/libexec/tool"), "unsafe parent");
  }
  ASSERT_EQ(chmod((root / "usr/bin").c_str(), 0775), 0);
  expect_result(run("parents2", "usr/bin/new"), "");
  ASSERT_EQ(chown((root / "usr/bin").c_str(), 0, 100), 0);
  expect_result(run("parents2", "usr/bin/new"), "unsafe parent ownership/mode");
  ASSERT_EQ(chown((root / "usr/bin").c_str(), 1000, 0), 0);
  ASSERT_EQ(chmod((root / "usr/bin").c_str(), 0755), 0);
  expect_result(run("prepare2", "usr/bin/new"), "unsafe parent ownership/mode");
}

TEST_F(Parents, Roots) {
  ASSERT_EQ(symlink(root.path().c_str(), (root / "self").c_str()), 0);
  for (const std::string &command : all_four) {
    std::string path = command.back() == '2' ? "usr/bin/tool" : "usr/local/bin/tool";
    expect_result(run_io({command, root / "self", path}), "root open");
    expect_result(run_io({command, root / "nowhere", path}), "root open");
  }
  ASSERT_EQ(chmod(root.path().c_str(), 0777), 0);
  for (const std::string &command : all_four) {
    std::string path = command.back() == '2' ? "usr/bin/tool" : "usr/local/bin/tool";
    expect_result(run(command, path), "unsafe root directory");
  }
  expect_result(run("parents", "usr/bin/tool"), "invalid managed path");
}

// A caller without root rights: a trusted directory it may read but not
// search, and one it may not write to.
TEST_F(Parents, FailuresOfAnUnprivilegedCaller) {
  const RunOptions nobody = {.uid = 65534, .gid = 65534};
  ASSERT_EQ(chmod((root / "usr/bin").c_str(), 0744), 0);
  expect_result(run("parents2", "usr/bin/tool", nobody), "target stat");
  expect_result(run("prepare", "usr/local/share/x", nobody), "mkdirat");
}

// A file system mounted below the root: the walk must not enter it.
TEST(AnotherFileSystem, IsNeverEntered) {
  TempDir root;
  make_dir(root / "usr");
  make_dir(root / "usr/local");
  make_dir(root / "usr/local/bin");
  RunResult mounted = shell("mount -t tmpfs -o mode=0755 vesk-test '" + root / "usr/local/bin" + "' 2>&1");
  ASSERT_EQ(mounted.status, 0) << "this test needs to mount a tmpfs: " << mounted.out;
  struct Unmount {
    std::string point;
    ~Unmount() { shell("umount '" + point + "'"); }
  } unmount{root / "usr/local/bin"};
  write_file(root / "usr/local/bin/tool", "x");
  ASSERT_EQ(mode_of(root / "usr/local/bin"), 0755u);

  expect_result(run_io({"parents", root.path(), "usr/local/bin/tool"}), "unsafe parent ownership/mode");
  expect_result(run_io({"prepare", root.path(), "usr/local/bin/x/y"}), "unsafe parent ownership/mode");
  expect_result(run_io({"observe", root.path(), "usr/local/bin/tool"}), "unsafe parent ownership/mode");
  // The mounted file system as a root of its own is fine.
  EXPECT_EQ(run_io({"observe", root / "usr/local/bin", "tool"}).out, "f\t0644\t0\t0\t1\t-\n");
}

}  // namespace
