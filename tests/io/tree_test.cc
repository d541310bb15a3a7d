// The directory races: while runs walk their path, another process keeps exchanging a directory
// on it with a decoy (the shell side is in trees.sh). The other tree cases are in tree_test.sh.
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include "harness.h"

using namespace vesk::test;

TEST(Race, DirectorySwappedMidRun) {
  // A walker that checks a name and then opens it was caught in 9 to 12 of these 12 cases
  // at 40 runs each (six tries; 12 in the last three), in all 12 at 100.
  const std::string runs = getenv("VESK_IO") ? "30" : "40";
  const std::string trees = ". " VESK_SOURCE_DIR "/tests/io/trees.sh && cd ";
  setenv("VESK_SOURCE_DIR", VESK_SOURCE_DIR, 1);
  TempDir packed;
  ASSERT_EQ(sh(trees + packed.path + " && package").status, 0);
  const std::pair<std::string, std::string> cases[] = {
      {"unpack", "data/usr/local"},
      {"prepare . usr/local/bin/new/x", "usr/local"},
      {"prepare2 . usr/bin/new/x", "usr"},
      {"observe . usr/local/bin/seen", "usr/local"}};
  for (const auto &[command, swapped] : cases)
    for (const std::string decoy : {"link", "owner", "mode"}) {
      SCOPED_TRACE(command + " / " + decoy);
      TempDir base;
      const std::string here = trees + base.path + " && ";
      const std::string setup = "cp " + packed / "package" + " . && race_trees ";
      ASSERT_EQ(sh(here + setup + swapped + " " + decoy).status, 0);
      const std::string outside = sh(here + "race_outside " + swapped).out;
      const std::string real = base / "r/" + swapped, decoy_path = real + ".d";
      const pid_t swapper = fork();
      if (swapper == 0)
        for (alarm(300);;)
          renameat2(AT_FDCWD, real.c_str(), AT_FDCWD, decoy_path.c_str(), RENAME_EXCHANGE);
      sh(here + "race_runs " + runs + " '" + command + "'");
      kill(swapper, SIGKILL);
      waitpid(swapper, nullptr, 0);
      EXPECT_EQ(sh(here + "race_after " + swapped).out, outside);
    }
}
