// "observe" on real trees: what it prints for files and links, and what it
// refuses to look at.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <sstream>

#include "harness.h"

using namespace vesk::test;

namespace {

class Observe : public ::testing::Test {
 protected:
  TempDir root;
  void SetUp() override {
    make_dir(root / "usr");
    make_dir(root / "usr/bin");
    write_file(root / "usr/bin/plain", "hello", 0644);
    write_file(root / "usr/bin/setuid", "hello", 04755);
    write_file(root / "usr/bin/owned", "", 0600, 1234, 5678);
    write_file(root / "top", "x", 0640);
  }
  void link(const std::string &target, const std::string &path) {
    ASSERT_EQ(symlink(target.c_str(), (root / path).c_str()), 0) << path;
  }
  RunResult observe(const std::string &path, const RunOptions &options = {}) {
    return run_io({"observe", root.path(), path}, options);
  }
};

void expect_failure(const RunResult &r, const std::string &message) {
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, io_failure(message));
}

// The mode, owner, group and size that coreutils stat reports, in the
// form of the observation line.
std::string stat_fields(const std::string &path) {
  RunResult r = shell("stat -c '%a %u %g %s' '" + path + "'");
  EXPECT_EQ(r.status, 0);
  std::istringstream in(r.out);
  std::string mode, uid, gid, size;
  in >> mode >> uid >> gid >> size;
  char four[8];
  snprintf(four, sizeof four, "%04lo", std::stoul(mode, nullptr, 8));
  return std::string(four) + "\t" + uid + "\t" + gid + "\t" + size;
}

TEST_F(Observe, RegularFiles) {
  EXPECT_EQ(observe("usr/bin/plain").out, "f\t0644\t0\t0\t5\t-\n");
  EXPECT_EQ(observe("usr/bin/setuid").out, "f\t4755\t0\t0\t5\t-\n");
  EXPECT_EQ(observe("usr/bin/owned").out, "f\t0600\t1234\t5678\t0\t-\n");
  EXPECT_EQ(observe("top").out, "f\t0640\t0\t0\t1\t-\n");
  for (const std::string path : {"usr/bin/plain", "usr/bin/setuid", "usr/bin/owned", "top"}) {
    RunResult r = observe(path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "f\t" + stat_fields(root / path) + "\t-\n") << path;
  }
}

TEST_F(Observe, SparseFileOverFourGiB) {
  write_file(root / "usr/bin/big", "");
  ASSERT_EQ(truncate((root / "usr/bin/big").c_str(), 5368709123LL), 0);
  RunResult r = observe("usr/bin/big");
  EXPECT_EQ(r.out, "f\t0644\t0\t0\t5368709123\t-\n");
  EXPECT_EQ(r.out, "f\t" + stat_fields(root / "usr/bin/big") + "\t-\n");
}

TEST_F(Observe, HardLinkedFileIsObservedLikeAnyFile) {
  ASSERT_EQ(::link((root / "usr/bin/plain").c_str(), (root / "usr/bin/other").c_str()), 0);
  EXPECT_EQ(observe("usr/bin/other").out, "f\t0644\t0\t0\t5\t-\n");
}

TEST_F(Observe, SymbolicLinks) {
  std::string target254 = "/" + std::string(253, 't');
  link(target254, "usr/bin/long");
  link("../lib/libc.so", "usr/bin/lib");
  EXPECT_EQ(observe("usr/bin/long").out, "l\t0777\t0\t0\t254\t" + target254 + "\n");
  EXPECT_EQ(observe("usr/bin/lib").out, "l\t0777\t0\t0\t14\t../lib/libc.so\n");
  EXPECT_EQ(observe("usr/bin/lib").out, "l\t" + stat_fields(root / "usr/bin/lib") + "\t../lib/libc.so\n");
  // The link itself, never its target.
  link("plain", "usr/bin/to-plain");
  EXPECT_EQ(observe("usr/bin/to-plain").out, "l\t0777\t0\t0\t5\tplain\n");
}

TEST_F(Observe, RefusedLinks) {
  link(std::string(255, 't'), "usr/bin/l255");
  link(std::string(300, 't'), "usr/bin/l300");
  link("a b", "usr/bin/space");
  link("a\x7F", "usr/bin/delete");
  link("a\xC3\xA9", "usr/bin/high");
  expect_failure(observe("usr/bin/l255"), "observed link size");
  expect_failure(observe("usr/bin/l300"), "observed link size");
  expect_failure(observe("usr/bin/space"), "observed link byte");
  expect_failure(observe("usr/bin/delete"), "observed link byte");
  expect_failure(observe("usr/bin/high"), "observed link byte");
}

TEST_F(Observe, SpecialFilesAreNeverOpened) {
  ASSERT_EQ(mkfifo((root / "usr/bin/fifo").c_str(), 0644), 0);
  ASSERT_EQ(mknod((root / "usr/bin/null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  make_dir(root / "usr/bin/dir");
  for (const std::string path : {"usr/bin/fifo", "usr/bin/null", "usr/bin/dir", "usr"})
    expect_failure(observe(path), "observed special file rejected");
}

TEST_F(Observe, MissingAndUnsafePlaces) {
  expect_failure(observe("usr/bin/absent"), "observed file missing");
  expect_failure(observe("usr/sbin/tool"), "missing/unsafe observed parent");
  expect_failure(observe("usr/bin/plain/x"), "missing/unsafe observed parent");
  link("usr", "link-to-usr");
  expect_failure(observe("link-to-usr/bin/plain"), "missing/unsafe observed parent");
  expect_failure(observe("etc/shadow"), "unsafe observed path");
  expect_failure(run_io({"observe", root / "nowhere", "etc/shadow"}), "unsafe observed path");
  expect_failure(observe("usr/bin/../bin/plain"), "unsafe observed path");
}

TEST_F(Observe, Roots) {
  link(root.path(), "self");
  expect_failure(run_io({"observe", root / "self", "top"}), "observation root");
  expect_failure(run_io({"observe", root / "nowhere", "top"}), "observation root");
  expect_failure(run_io({"observe", root / "top", "top"}), "observation root");
  ASSERT_EQ(chmod(root.path().c_str(), 01777), 0);
  expect_failure(observe("top"), "unsafe root directory");
}

TEST_F(Observe, UntrustedParent) {
  ASSERT_EQ(chown((root / "usr/bin").c_str(), 0, 100), 0);
  ASSERT_EQ(chmod((root / "usr/bin").c_str(), 0775), 0);
  expect_failure(observe("usr/bin/plain"), "unsafe parent ownership/mode");
  ASSERT_EQ(chown((root / "usr/bin").c_str(), 0, 0), 0);
  EXPECT_EQ(observe("usr/bin/plain").status, 0);
}

TEST_F(Observe, LostOutputFails) {
  RunResult r = observe("usr/bin/plain", {.stdout_path = "/dev/full"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, io_failure("output write"));
}

}  // namespace
