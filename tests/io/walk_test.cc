// The safe directory walk: the trust and device rules as "unpack" meets
// them in real stage directories, and the two path guards no command can
// reach, called directly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "harness.h"
#include "tar_writer.h"
#include "vesk_io.h"

using namespace vesk::test;

namespace {

TEST(OpenParentChain, PathWithoutComponentsOrOver255BytesEndsTheRun) {
  TempDir root;
  int root_fd = open(root.path().c_str(), O_RDONLY | O_DIRECTORY);
  char leaf[leaf_buffer_size];
  std::string long_path;
  for (int i = 0; i < 128; ++i) long_path += "d/";
  for (const auto &[path, message] : {std::pair<std::string, std::string>{"", "empty path"},
                                      {"///", "empty path"}, {long_path, "long path"}})
    EXPECT_EXIT(open_parent_chain(root_fd, 1, path.c_str(), leaf), ::testing::ExitedWithCode(1),
                "^vesk-io: " + message + "\n$");
  // 255 bytes are still a path.
  long_path.resize(255);
  int parent = open_parent_chain(root_fd, 1, long_path.c_str(), leaf);
  EXPECT_GE(parent, 0);
  EXPECT_STREQ(leaf, "d");
  close(parent);
  close(root_fd);
}

// The stage directory and the ones below it, and who creates them.
TEST(StageTrust, UnpackJudgesEveryDirectoryOnTheWay) {
  const std::string bad_root = "unsafe root directory", bad_parent = "unsafe parent ownership/mode";
  const struct {
    std::string setup, message;
    int uid = -1, gid = -1;
  } cases[] = {
      {"chown 1000 .", bad_root},
      {"chmod 0775 . && chgrp 1000 .", bad_root},
      {"chmod 1777 .", bad_root},
      {"mkdir -m 0775 data && chgrp 1000 data", bad_parent},
      {"mkdir -p -m 1777 data/usr/local/share", bad_parent},
      {"mkdir -m 0775 data", ""},
      // An unprivileged run cannot be handed a stage it owns, and in a stage
      // it may write through gid 0 the first directory it makes is its own.
      {"chown 65534:65534 .", bad_root, 65534, 65534},
      {"chmod 0775 .", bad_parent, 65534, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.setup);
    TempDir dir;
    std::string stage = dir / "stage";
    make_dir(stage);
    ASSERT_EQ(shell("cd " + stage + " && " + c.setup).status, 0);
    RunOptions as = {.stdin_data = Package().bytes(), .cwd = stage, .uid = c.uid, .gid = c.gid};
    expect_io(run_io({"unpack"}, as), c.message);
  }
}

TEST(StageTrust, UnprivilegedRunLeavesItsOwnDirectoryBehind) {
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
  expect_io(run_io({"unpack"}, {.stdin_data = Package().bytes(), .cwd = stage.path()}),
            "unsafe parent ownership/mode");
}

TEST(StageDevice, StageOnItsOwnFileSystemIsAccepted) {
  TempDir dir;
  make_dir(dir / "stage");
  TmpfsMount tmpfs(dir / "stage");
  ASSERT_TRUE(tmpfs.mounted());
  expect_io(run_io({"unpack"}, {.stdin_data = Package().bytes(), .cwd = dir / "stage"}), "");
  EXPECT_EQ(read_file(dir / "stage/data/usr/local/bin/hello"), "hello\n");
}

}  // namespace
