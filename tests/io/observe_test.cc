// "observe" on real trees: what it prints for files and links, and what it
// refuses to look at.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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
    write_file(root / "usr/bin/big", "");
    ASSERT_EQ(truncate((root / "usr/bin/big").c_str(), 5368709123LL), 0);
    write_file(root / "top", "x", 0640);
  }
  void link(const std::string &target, const std::string &path) {
    ASSERT_EQ(symlink(target.c_str(), (root / path).c_str()), 0) << path;
  }
  RunResult observe(const std::string &path, const RunOptions &options = {}) {
    return run_io({"observe", root.path(), path}, options);
  }
};

// The line coreutils stat implies for an entry with the link target given.
std::string stat_line(const std::string &path, const std::string &target) {
  RunResult r = shell("stat -c '%f %a %u %g %s' '" + path + "'");
  EXPECT_EQ(r.status, 0);
  unsigned long raw = 0, mode = 0, uid = 0, gid = 0;
  unsigned long long size = 0;
  sscanf(r.out.c_str(), "%lx %lo %lu %lu %llu", &raw, &mode, &uid, &gid, &size);
  char line[512];
  snprintf(line, sizeof line, "%c\t%04lo\t%lu\t%lu\t%llu\t%s\n", S_ISLNK(raw) ? 'l' : 'f', mode,
           uid, gid, size, target.c_str());
  return line;
}

TEST_F(Observe, FilesAndLinksAsCoreutilsStatSeesThem) {
  const std::string target254 = "/" + std::string(253, 't');
  link(target254, "usr/bin/long");
  link("plain", "usr/bin/to-plain");
  const std::pair<std::string, std::string> cases[] = {
      {"usr/bin/plain", "-"}, {"usr/bin/setuid", "-"}, {"usr/bin/owned", "-"}, {"usr/bin/big", "-"},
      {"top", "-"}, {"usr/bin/long", target254}, {"usr/bin/to-plain", "plain"}};
  for (const auto &[path, target] : cases)
    expect_io(observe(path), "", stat_line(root / path, target));
  EXPECT_EQ(observe("usr/bin/setuid").out, "f\t4755\t0\t0\t5\t-\n");
  // A lost line must not end with status 0.
  expect_io(observe("usr/bin/plain", {.stdout_path = "/dev/full"}), "output write");
}

TEST_F(Observe, Refusals) {
  link(std::string(255, 't'), "usr/bin/l255");
  link("a b", "usr/bin/space");
  link("a\x7F", "usr/bin/delete");
  link("usr", "link-to-usr");
  link(root.path(), "self");
  ASSERT_EQ(mkfifo((root / "usr/bin/fifo").c_str(), 0644), 0);
  ASSERT_EQ(mknod((root / "usr/bin/null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{root.path(), "usr/bin/l255"}, "observed link size"},
      {{root.path(), "usr/bin/space"}, "observed link byte"},
      {{root.path(), "usr/bin/delete"}, "observed link byte"},
      {{root.path(), "usr/bin/fifo"}, "observed special file rejected"},
      {{root.path(), "usr/bin/null"}, "observed special file rejected"},
      {{root.path(), "usr"}, "observed special file rejected"},
      {{root.path(), "usr/bin/absent"}, "observed file missing"},
      {{root.path(), "usr/sbin/tool"}, "missing/unsafe observed parent"},
      {{root.path(), "usr/bin/plain/x"}, "missing/unsafe observed parent"},
      {{root.path(), "link-to-usr/bin/plain"}, "missing/unsafe observed parent"},
      {{root / "nowhere", "etc/shadow"}, "unsafe observed path"},
      {{root.path(), "usr/bin/../bin/plain"}, "unsafe observed path"},
      {{root / "self", "top"}, "observation root"},
      {{root / "nowhere", "top"}, "observation root"},
      {{root / "top", "top"}, "observation root"}};
  for (const auto &[args, message] : cases) {
    SCOPED_TRACE(args[1]);
    expect_io(run_io({"observe", args[0], args[1]}), message);
  }
  ASSERT_EQ(chown((root / "usr/bin").c_str(), 0, 100), 0);
  ASSERT_EQ(chmod((root / "usr/bin").c_str(), 0775), 0);
  expect_io(observe("usr/bin/plain"), "unsafe parent ownership/mode");
  ASSERT_EQ(chmod(root.path().c_str(), 01777), 0);
  expect_io(observe("top"), "unsafe root directory");
}

}  // namespace
