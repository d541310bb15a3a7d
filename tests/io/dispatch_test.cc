// Command lines that fit no command get the one usage line and touch nothing.
#include <gtest/gtest.h>

#include "harness.h"

using namespace vesk::test;

namespace {

TEST(Dispatch, CommandLinesThatFitNoCommand) {
  const std::vector<std::string> lines[] = {
      {}, {"a", "b", "c", "d", "e"}, {"stat", "-c", "%u", "x", "y"}, {"stat", "-c", "%u"},
      {"stat", "--format", "%u", "/"}, {"observe", "-c", "%u", "/"}, {"unpack", "x"},
      {"Unpack"}, {"elf"}, {"elf3", "x"}, {"observe", "/"}, {"owned", "a", "b"},
      {"owned2", "a"}, {"manifest3", "a"}, {"prepare", "/"}, {"parents3", "/", "usr/bin/x"},
      {"", "a", "b"}};
  for (const auto &line : lines) {
    SCOPED_TRACE(::testing::PrintToString(line));
    TempDir cwd;
    expect_io(run_io(line, {.cwd = cwd.path()}),
              "usage: vesk-io unpack | elf FILE | manifest FILE | parents ROOT PATH");
    EXPECT_EQ(shell("ls -A " + cwd.path()).out, "");
  }
}

}  // namespace
