// The command line: two commands, NOW converted before any file is opened,
// and the files opened and read as a caller would pass them.
#include <gtest/gtest.h>

#include "repository_fixture.h"

using namespace vesk::test;

namespace {

const std::string usage =
    index_failure("delegation NOW FILE | index NOW REPO ABI DELEG_SHA DELEGATION INDEX");

class UsageFailure : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(UsageFailure, PrintsTheUsageLineOnly) {
  RunResult r = run_index(GetParam());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, usage);
  EXPECT_EQ(r.out, "");
}

const std::string missing = "/nonexistent/vesk";

INSTANTIATE_TEST_SUITE_P(
    CommandLines, UsageFailure,
    ::testing::Values(
        std::vector<std::string>{}, std::vector<std::string>{"delegation"},
        std::vector<std::string>{"delegation", "500"},
        std::vector<std::string>{"delegation", "500", missing, missing},
        std::vector<std::string>{"delegation", "500", "core", abi_digest, delegation_digest,
                                 missing, missing},
        std::vector<std::string>{"Delegation", "500", missing},
        std::vector<std::string>{"DELEGATION", "500", missing},
        std::vector<std::string>{"index", "500", missing},
        std::vector<std::string>{"index", "500", "core", abi_digest, delegation_digest, missing},
        std::vector<std::string>{"Index", "500", "core", abi_digest, delegation_digest, missing,
                                 missing},
        std::vector<std::string>{"index", "500", "core", abi_digest, delegation_digest, missing,
                                 missing, missing},
        std::vector<std::string>{"", "500", missing},
        // A malformed NOW does not matter when the command line fits nothing.
        std::vector<std::string>{"index", "x", missing}));

struct NowCase {
  std::string now;
  std::string message;
};

class MalformedNow : public ::testing::TestWithParam<NowCase> {};

// The files do not exist: NOW is refused before either is opened.
TEST_P(MalformedNow, IsRefusedBeforeAnyFileIsOpened) {
  const NowCase &c = GetParam();
  RunResult delegation = run_index({"delegation", c.now, missing});
  EXPECT_EQ(delegation.status, 1);
  EXPECT_EQ(delegation.err, index_failure(c.message));
  RunResult index = run_index({"index", c.now, "core", abi_digest, delegation_digest, missing,
                               missing});
  EXPECT_EQ(index.status, 1);
  EXPECT_EQ(index.err, index_failure(c.message));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, MalformedNow,
    ::testing::Values(NowCase{"", "integer length"}, NowCase{"10000000000", "integer length"},
                      NowCase{"00000000500", "integer length"},
                      NowCase{"1a345678901", "integer length"}, NowCase{"-1", "integer syntax"},
                      NowCase{"+1", "integer syntax"}, NowCase{"1e3", "integer syntax"},
                      NowCase{" 500", "integer syntax"}, NowCase{"500 ", "integer syntax"},
                      NowCase{"5.0", "integer syntax"}, NowCase{"0x1f", "integer syntax"}));

TEST(Dispatch, WellFormedNowReachesTheFile) {
  for (const std::string now : {"0", "0000000500", "9999999999"}) {
    EXPECT_EQ(run_index({"delegation", now, missing}).err, index_failure("metadata open"));
  }
}

TEST(MetadataFiles, MissingDelegation) {
  Repository repository;
  TempDir dir;
  write_file(dir / "index", repository.index_text());
  RunResult r = run_index({"index", "500", "core", abi_digest, delegation_digest,
                           dir / "delegation", dir / "index"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, index_failure("metadata open"));
}

// The index is opened before the caller's REPO, ABI and DELEG_SHA are judged.
TEST(MetadataFiles, MissingIndexEvenWithWrongArguments) {
  Repository repository;
  TempDir dir;
  write_file(dir / "delegation", repository.delegation_text());
  for (const std::string repo : {"core", "other", "not a token"}) {
    RunResult r = run_index({"index", "500", repo, "ABI", "SHA", dir / "delegation",
                             dir / "index"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, index_failure("metadata open")) << repo;
  }
}

// A directory opens for reading, and its first read fails.
TEST(MetadataFiles, DirectoryIsAReadError) {
  Repository repository;
  TempDir dir;
  write_file(dir / "delegation", repository.delegation_text());
  EXPECT_EQ(run_index({"delegation", "500", dir.path()}).err,
            index_failure("metadata read error"));
  RunResult r = run_index({"index", "500", "core", abi_digest, delegation_digest,
                           dir / "delegation", dir.path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, index_failure("metadata read error"));
}

// The bundled example: the caller's digest of the delegation file is the
// one its index names, and it is valid at NOW 500.
TEST(BundledExample, IsTheWorkedExample) {
  const std::string repo = std::string(VESK_SOURCE_DIR) + "/examples/repo/";
  Repository repository;
  EXPECT_EQ(read_file(repo + "delegation"), repository.delegation_text());
  EXPECT_EQ(read_file(repo + "index"), repository.index_text());
  RunResult sum = shell("sha256sum '" + repo + "delegation'");
  EXPECT_EQ(sum.out.substr(0, 64), delegation_digest);
}

TEST(BundledExample, AcceptedAtFiveHundredAndTheTamperedCopyIsRefused) {
  const std::string repo = std::string(VESK_SOURCE_DIR) + "/examples/repo/";
  std::vector<std::string> args = {"index", "500", "core", abi_digest, delegation_digest,
                                   repo + "delegation", repo + "index"};
  expect_outcome(run_index(args), "");
  args.back() = repo + "index-undelegated";
  expect_outcome(run_index(args), "package name/version");
}

}  // namespace
