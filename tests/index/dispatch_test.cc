// The command line: two commands, NOW converted before any file is opened,
// and the files opened and read as a caller would pass them.
#include <gtest/gtest.h>

#include "repository_fixture.h"

using namespace vesk::test;

namespace {

const std::string missing = "/nonexistent/vesk";

TEST(Dispatch, CommandLinesThatFitNoCommand) {
  const std::string abi = abi_digest, sha = delegation_digest;
  const std::vector<std::string> lines[] = {
      {}, {"delegation", "500"}, {"delegation", "500", missing, missing},
      {"delegation", "500", "core", abi, sha, missing, missing}, {"Delegation", "500", missing},
      {"index", "500", missing}, {"index", "500", "core", abi, sha, missing},
      {"Index", "500", "core", abi, sha, missing, missing},
      {"index", "500", "core", abi, sha, missing, missing, missing},
      {"index", "x", missing}};  // a malformed NOW does not matter here
  for (const auto &line : lines)
    expect_index(run_index(line),
                 "delegation NOW FILE | index NOW REPO ABI DELEG_SHA DELEGATION INDEX");
}

// The files do not exist: NOW is refused before either is opened.
TEST(Dispatch, MalformedNowIsRefusedBeforeAnyFileIsOpened) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "integer length"}, {"10000000000", "integer length"}, {"00000000500", "integer length"},
      {"-1", "integer syntax"}, {" 500", "integer syntax"}, {"500 ", "integer syntax"},
      {"0x1f", "integer syntax"}, {"0000000500", "metadata open"}, {"9999999999", "metadata open"}};
  for (const auto &[now, message] : cases) {
    SCOPED_TRACE(now);
    expect_index(run_index({"delegation", now, missing}), message);
    expect_index(run_index({"index", now, "core", abi_digest, delegation_digest, missing, missing}),
                 message);
  }
}

// A directory opens for reading, and its first read fails.
TEST(Dispatch, MissingOrUnreadableFiles) {
  Repository repository;
  TempDir dir;
  write_file(dir / "delegation", repository.delegation_text());
  expect_index(run_index({"delegation", "500", dir.path()}), "metadata read error");
  std::vector<std::string> args = {"index", "500", "core", abi_digest, delegation_digest,
                                   dir / "delegation", dir.path()};
  expect_index(run_index(args), "metadata read error");
  args.back() = dir / "missing";
  expect_index(run_index(args), "metadata open");
}

// The bundled example is the fixture's repository, valid at NOW 500, and
// its tampered copy is refused.
TEST(Dispatch, BundledExample) {
  const std::string repo = std::string(VESK_SOURCE_DIR) + "/examples/repo/";
  Repository repository;
  EXPECT_EQ(read_file(repo + "delegation"), repository.delegation_text());
  EXPECT_EQ(read_file(repo + "index"), repository.index_text());
  EXPECT_EQ(shell("sha256sum '" + repo + "delegation'").out.substr(0, 64), delegation_digest);
  std::vector<std::string> args = {"index", "500", "core", abi_digest, delegation_digest,
                                   repo + "delegation", repo + "index"};
  expect_index(run_index(args), "");
  args.back() = repo + "index-undelegated";
  expect_index(run_index(args), "package name/version");
}

}  // namespace
