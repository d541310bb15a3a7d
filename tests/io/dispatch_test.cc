// The command table: every command line that fits no command is refused
// with the one usage line, before any file is touched.
#include <gtest/gtest.h>

#include "harness.h"

using namespace vesk::test;

namespace {

const std::string usage =
    io_failure("usage: vesk-io unpack | elf FILE | manifest FILE | parents ROOT PATH");

class UsageFailure : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(UsageFailure, PrintsTheUsageLineOnly) {
  TempDir cwd;
  RunResult r = run_io(GetParam(), {.cwd = cwd.path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, usage);
  EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, UsageFailure,
    ::testing::Values(
        std::vector<std::string>{}, std::vector<std::string>{"a", "b", "c", "d", "e"},
        std::vector<std::string>{"stat", "-c", "%u", "x", "y"},
        std::vector<std::string>{"stat"}, std::vector<std::string>{"stat", "-c", "%u"},
        std::vector<std::string>{"stat", "-C", "%u", "/"},
        std::vector<std::string>{"stat", "--format", "%u", "/"},
        std::vector<std::string>{"observe", "-c", "%u", "/"},
        std::vector<std::string>{"unpack", "x"}, std::vector<std::string>{"unpack2"},
        std::vector<std::string>{"Unpack"}, std::vector<std::string>{"elf"},
        std::vector<std::string>{"ELF", "x"}, std::vector<std::string>{"elf3", "x"},
        std::vector<std::string>{"observe", "/"},
        std::vector<std::string>{"owned", "a", "b"}, std::vector<std::string>{"owned2", "a"},
        std::vector<std::string>{"manifest", "a", "b"},
        std::vector<std::string>{"manifest3", "a"}, std::vector<std::string>{"Manifest", "a"},
        std::vector<std::string>{"parents", "/"}, std::vector<std::string>{"prepare", "/"},
        std::vector<std::string>{"parents3", "/", "usr/bin/x"},
        std::vector<std::string>{"", "a"}, std::vector<std::string>{"", "a", "b"}));

// A manifest file that does not exist: reaching "manifest open" proves the
// command line reached the manifest check rather than the usage failure.
TEST(Dispatch, ManifestCommandsReachTheManifestCheck) {
  TempDir cwd;
  for (const char *word : {"manifest", "manifest2"}) {
    RunResult r = run_io({word, "missing"}, {.cwd = cwd.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, io_failure("manifest open")) << word;
  }
}

// Every other listed command line reaches a command: whatever it reports,
// it is not the usage line.
TEST(Dispatch, ListedCommandLinesAreNotUsageFailures) {
  TempDir cwd;
  const std::vector<std::vector<std::string>> lines = {
      {"stat", "-c", "%u", "/"},           {"unpack"},
      {"elf", "/nonexistent"},             {"elf", "/nonexistent", "/"},
      {"elf2", "/nonexistent"},            {"elf2", "/nonexistent", "/"},
      {"owned", "/nonexistent"},           {"observe", "/", "x"},
      {"parents", "/", "usr/local/bin/x"}, {"prepare", "/", "x"},
      {"parents2", "/", "usr/bin/x"},      {"prepare2", "/", "x"}};
  for (const auto &line : lines) {
    RunResult r = run_io(line, {.cwd = cwd.path()});
    EXPECT_NE(r.err, usage) << line[0];
    EXPECT_EQ(r.err.rfind("vesk-io: ", 0) == 0, r.status == 1) << line[0];
  }
}

}  // namespace
