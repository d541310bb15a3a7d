// The safe directory walk: open_parent_chain on its own, and the trust
// and device rules as "unpack" meets them in real stage directories.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"
#include "tar_writer.h"
#include "vesk_io.h"

using namespace vesk::test;

namespace {

// A tmpfs mounted for one test, unmounted before its directory goes.
class TmpfsMount {
 public:
  TmpfsMount(const std::string &dir, unsigned long flags = 0) : dir_(dir) {
    mounted_ = mount("tmpfs", dir.c_str(), "tmpfs", flags, "mode=0755") == 0;
    if (!mounted_)
      ADD_FAILURE() << "MOUNTING A TMPFS ON " << dir << " FAILED (" << strerror(errno)
                    << "): the tests of the device rule need root and mount(2)";
  }
  ~TmpfsMount() {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string dir_;
  bool mounted_;
};

int open_directory(const std::string &path) { return open(path.c_str(), O_RDONLY | O_DIRECTORY); }

ino_t inode_of_fd(int fd) {
  struct stat status;
  return fstat(fd, &status) == 0 ? status.st_ino : 0;
}

ino_t inode_of(const std::string &path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

struct ChainCase {
  std::string name;
  std::string setup;  // shell commands run in the root first
  int create;
  std::string path;
  std::string parent;  // directory expected back, relative to the root; or "-1", "-2"
  std::string leaf = "";
};

void PrintTo(const ChainCase &c, std::ostream *out) { *out << c.name; }

class OpenParentChain : public ::testing::TestWithParam<ChainCase> {};

TEST_P(OpenParentChain, ReturnsTheParentOrItsCode) {
  const ChainCase &c = GetParam();
  TempDir root;
  if (!c.setup.empty()) ASSERT_EQ(shell("cd " + root.path() + " && " + c.setup).status, 0);
  int root_fd = open_directory(root.path());
  char leaf[leaf_buffer_size] = "unchanged";
  int parent = open_parent_chain(root_fd, c.create, c.path.c_str(), leaf);
  if (c.parent == "-1" || c.parent == "-2") {
    EXPECT_EQ(parent, std::stoi(c.parent));
    EXPECT_STREQ(leaf, "unchanged");
  } else {
    ASSERT_GE(parent, 0);
    EXPECT_NE(parent, root_fd);
    EXPECT_EQ(inode_of_fd(parent), inode_of(root / c.parent));
    EXPECT_EQ(leaf, c.leaf);
    close(parent);
  }
  // Only the walk's own descriptors are closed: the root stays usable.
  EXPECT_EQ(fcntl(root_fd, F_GETFD), 0);
  close(root_fd);
}

// 127 directories "d" and the leaf "l": 255 bytes.
std::string deep_path() {
  std::string path;
  for (int i = 0; i < 127; ++i) path += "d/";
  return path + "l";
}

INSTANTIATE_TEST_SUITE_P(
    Results, OpenParentChain,
    ::testing::Values(
        ChainCase{"OneComponentIsTheRoot", "", 0, "meta", ".", "meta"},
        ChainCase{"ExtraSlashesMakeNoComponents", "mkdir a", 0, "/a//b/", "a", "b"},
        ChainCase{"LeafIsNotLookedAt", "mkdir a && ln -s /etc a/b", 0, "a/b", "a", "b"},
        ChainCase{"MissingWithoutCreate", "", 0, "a/b", "-2"},
        ChainCase{"MissingDeeperWithoutCreate", "mkdir a", 0, "a/b/c", "-2"},
        ChainCase{"MissingWithCreate", "", 1, "a/b/c", "a/b", "c"},
        ChainCase{"ExistingWithCreate", "mkdir -p a/b", 1, "a/b/c", "a/b", "c"},
        ChainCase{"SymlinkToGoodDirectory", "mkdir real && ln -s real a", 0, "a/b", "-1"},
        ChainCase{"SymlinkWithCreate", "mkdir real && ln -s real a", 1, "a/b", "-1"},
        ChainCase{"DanglingSymlinkWithCreate", "ln -s gone a", 1, "a/b", "-1"},
        ChainCase{"RegularFile", "touch a", 0, "a/b", "-1"},
        ChainCase{"RegularFileWithCreate", "touch a", 1, "a/b", "-1"},
        ChainCase{"Path255Bytes", "", 1, deep_path(), deep_path().substr(0, 253), "l"}),
    [](const auto &info) { return info.param.name; });

TEST(OpenParentChainCreate, MakesMissingDirectoriesWithMode0755) {
  TempDir root;
  int root_fd = open_directory(root.path());
  char leaf[leaf_buffer_size];
  mode_t old_mask = umask(0);
  int parent = open_parent_chain(root_fd, 1, "a/b/leaf", leaf);
  umask(old_mask);
  ASSERT_GE(parent, 0);
  EXPECT_EQ(mode_of(root / "a"), 0755u);
  EXPECT_EQ(mode_of(root / "a/b"), 0755u);
  EXPECT_FALSE(exists(root / "a/b/leaf"));
}

// Failures end the process: each runs in a forked child.
class OpenParentChainAbort : public ::testing::Test {
 protected:
  void expect_abort(int create, const std::string &path, const std::string &message) {
    int root_fd = open_directory(root.path());
    char leaf[leaf_buffer_size];
    EXPECT_EXIT(open_parent_chain(root_fd, create, path.c_str(), leaf),
                ::testing::ExitedWithCode(1), "^vesk-io: " + message + "\n$")
        << path;
    close(root_fd);
  }
  TempDir root;
};

TEST_F(OpenParentChainAbort, PathWithoutComponents) {
  for (const char *path : {"", "/", "///"}) expect_abort(1, path, "empty path");
}

TEST_F(OpenParentChainAbort, Path256Bytes) { expect_abort(1, "d/" + deep_path(), "long path"); }

TEST_F(OpenParentChainAbort, RootTestedFirstAndForOneComponent) {
  chmod(root.path().c_str(), 01777);
  expect_abort(0, "meta", "unsafe root directory");
  expect_abort(0, "d/" + deep_path(), "unsafe root directory");
}

TEST_F(OpenParentChainAbort, ForeignDirectoryOnTheWay) {
  make_dir(root / "a", 0755, 1000, 0);
  expect_abort(0, "a/b", "unsafe parent ownership/mode");
}

TEST_F(OpenParentChainAbort, MountPointOnTheWay) {
  make_dir(root / "m");
  TmpfsMount tmpfs(root / "m");
  ASSERT_TRUE(tmpfs.mounted());
  expect_abort(1, "m/x/leaf", "unsafe parent ownership/mode");
}

TEST_F(OpenParentChainAbort, DirectoryThatCannotBeMade) {
  TmpfsMount tmpfs(root.path(), MS_RDONLY);
  ASSERT_TRUE(tmpfs.mounted());
  expect_abort(1, "a/leaf", "mkdirat");
}

// The trust rule as the unpacker applies it to a stage directory and the
// directories below it, and the process identity that creates them.
struct TrustCase {
  std::string name;
  std::string setup;    // shell commands run in the stage directory first
  std::string message;  // empty: accepted
  int uid = -1;
  int gid = -1;
};

void PrintTo(const TrustCase &c, std::ostream *out) { *out << c.name; }

class StageTrust : public ::testing::TestWithParam<TrustCase> {};

TEST_P(StageTrust, GivesItsMessage) {
  const TrustCase &c = GetParam();
  TempDir dir;
  std::string stage = dir / "stage";
  make_dir(stage);
  ASSERT_EQ(shell("cd " + stage + " && " + c.setup).status, 0);
  RunResult r = run_io({"unpack"},
                       {.stdin_data = Package().bytes(), .cwd = stage, .uid = c.uid, .gid = c.gid});
  EXPECT_EQ(r.err, c.message.empty() ? "" : io_failure(c.message));
  EXPECT_EQ(r.status, c.message.empty() ? 0 : 1);
}

const std::string bad_root = "unsafe root directory";
const std::string bad_parent = "unsafe parent ownership/mode";

INSTANTIATE_TEST_SUITE_P(
    Stages, StageTrust,
    ::testing::Values(
        TrustCase{"RootOwned0755", "true", ""},
        TrustCase{"OwnedByOtherUser", "chown 1000 .", bad_root},
        TrustCase{"WorldWritable", "chmod 0777 .", bad_root},
        TrustCase{"WorldWritableSticky", "chmod 1777 .", bad_root},
        TrustCase{"GroupWritableRootGroup", "chmod 0775 .", ""},
        TrustCase{"GroupWritableOtherGroup", "chmod 0775 . && chgrp 1000 .", bad_root},
        TrustCase{"OtherGroupNotWritable", "chgrp 1000 .", ""},
        TrustCase{"SetIdAndStickyBitsDoNotCount", "chmod 7755 .", ""},
        TrustCase{"DataOwnedByOtherUser", "mkdir data && chown 1000 data", bad_parent},
        TrustCase{"DataGroupWritableRootGroup", "mkdir -m 0775 data", ""},
        TrustCase{"DataGroupWritableOtherGroup", "mkdir -m 0775 data && chgrp 1000 data",
                  bad_parent},
        TrustCase{"DeepDirectoryWorldWritable", "mkdir -p -m 1777 data/usr/local/share",
                  bad_parent},
        // An unprivileged run cannot be handed a stage it owns...
        TrustCase{"UnprivilegedOwnStage", "chown 65534:65534 .", bad_root, 65534, 65534},
        // ...and in a stage it may write through gid 0, the first directory
        // it makes is its own and fails the test.
        TrustCase{"UnprivilegedCreatesData", "chmod 0775 .", bad_parent, 65534, 0}),
    [](const auto &info) { return info.param.name; });

TEST(StageTrustLeftovers, UnprivilegedRunLeavesItsOwnDirectoryBehind) {
  TempDir dir;
  std::string stage = dir / "stage";
  make_dir(stage, 0775);
  run_io({"unpack"}, {.stdin_data = Package().bytes(), .cwd = stage, .uid = 65534, .gid = 0});
  EXPECT_EQ(shell("cd " + stage + " && stat -c '%n %u %a' meta files data").out,
            "meta 65534 644\nfiles 65534 644\ndata 65534 755\n");
  EXPECT_FALSE(exists(stage + "/data/usr"));
}

TEST(StageDevice, MountPointBelowTheStageIsRefused) {
  TempDir stage;
  make_dir(stage / "data");
  TmpfsMount tmpfs(stage / "data");
  ASSERT_TRUE(tmpfs.mounted());
  RunResult r = run_io({"unpack"}, {.stdin_data = Package().bytes(), .cwd = stage.path()});
  EXPECT_EQ(r.err, io_failure(bad_parent));
  EXPECT_EQ(r.status, 1);
}

TEST(StageDevice, StageOnItsOwnFileSystemIsAccepted) {
  TempDir dir;
  make_dir(dir / "stage");
  TmpfsMount tmpfs(dir / "stage");
  ASSERT_TRUE(tmpfs.mounted());
  RunResult r = run_io({"unpack"}, {.stdin_data = Package().bytes(), .cwd = dir / "stage"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir / "stage/data/usr/local/bin/hello"), "hello\n");
}

}  // namespace
