// Parts of vesk-io rules that no other table reaches on its own: a manifest
// that cannot be read to its end, and a tar number field of spaces only.
#include <gtest/gtest.h>

#include "harness.h"
#include "tar_writer.h"

using namespace vesk::test;

namespace {

// A directory opens for reading but fails at the first read: a read error
// must not pass as a manifest that ended.
TEST(RuleParts, ManifestReadError) {
  TempDir dir;
  make_dir(dir / "files");
  expect_io(run_io({"manifest", dir / "files"}), "empty/invalid manifest");
}

TEST(RuleParts, TarNumberOfSpacesOnly) {
  TempDir stage;
  RunOptions options;
  options.cwd = stage.path();
  options.stdin_data = Package().set(0, &TarHeader::uid, "        ").bytes();
  expect_io(run_io({"unpack"}, options), "");
  EXPECT_TRUE(exists(stage / "data/usr/local/bin/hello"));
}

}  // namespace
