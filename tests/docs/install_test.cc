// "cmake --install" of this build into a scratch DESTDIR puts both programs
// and every manual page where GNUInstallDirs says, and the installed
// programs run.
#include <gtest/gtest.h>

#include "harness.h"

using namespace vesk::test;

namespace {

// A prefix that exists nowhere, so an install that ignored DESTDIR shows.
const std::string prefix = "/opt/vesk-install-test";

RunResult run_installed(const std::string &program, const std::vector<std::string> &args) {
  std::vector<std::string> argv;
  if (VESK_INSTALLS_PROGRAMS_UNDER_TEST) argv = emulator_words();
  argv.push_back(program);
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv);
}

class Installed : public ::testing::Test {
 protected:
  void SetUp() override {
    RunResult r = shell("DESTDIR='" + destdir.path() + "' '" VESK_CMAKE_COMMAND "' --install '" +
                        VESK_BINARY_DIR + "' --prefix " + prefix + " >/dev/null");
    ASSERT_EQ(r.status, 0);
    ASSERT_FALSE(exists(prefix)) << "the install ignored DESTDIR";
  }
  std::string installed(const std::string &relative) { return destdir.path() + prefix + "/" + relative; }
  TempDir destdir;
};

TEST_F(Installed, PutsProgramsAndPagesInPlace) {
  for (const char *file : {"bin/vesk-io", "bin/vesk-index"}) {
    ASSERT_TRUE(exists(installed(file))) << file;
    EXPECT_EQ(mode_of(installed(file)), 0755u) << file;
  }
  for (const char *page : {"man1/vesk-io.1", "man1/vesk-index.1", "man5/vesk-archive.5",
                           "man5/vesk-delegation.5", "man5/vesk-index.5", "man5/vesk-manifest.5",
                           "man5/vesk-owned.5"}) {
    std::string path = installed(std::string("share/man/") + page);
    ASSERT_TRUE(exists(path)) << page;
    EXPECT_EQ(mode_of(path), 0644u) << page;
    EXPECT_EQ(read_file(path), read_file(std::string(VESK_SOURCE_DIR) + "/man/" +
                                         (page + 5)))
        << page;
  }
}

TEST_F(Installed, ProgramsRun) {
  const std::string io = installed("bin/vesk-io");
  const std::string index = installed("bin/vesk-index");
  const std::string examples = std::string(VESK_SOURCE_DIR) + "/examples/caller";

  RunResult r = run_installed(io, {});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, io_failure("usage: vesk-io unpack | elf FILE | manifest FILE | parents ROOT PATH"));
  r = run_installed(io, {"manifest", examples + "/package/files"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");

  r = run_installed(index, {});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, index_failure("delegation NOW FILE | index NOW REPO ABI DELEG_SHA DELEGATION INDEX"));
  r = run_installed(index, {"delegation", "500", examples + "/repo/delegation"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

}  // namespace
