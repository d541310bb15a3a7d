// Runs that meet a limit of the system on the way: no descriptor left for
// the walk, a file size limit in the middle of a payload, a stage the
// program may not open. Each ends with its one message; none passes.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <sstream>

#include "harness.h"
#include "tar_writer.h"

using namespace vesk::test;

namespace {

// A coverage build writes its counters at exit and, when it cannot (no
// descriptor left), says so on standard error; that note is not the
// program's.
std::string program_lines(const std::string &err) {
  std::istringstream lines(err);
  std::string kept;
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("profiling:", 0) != 0) kept += line + "\n";
  return kept;
}

// A sanitizer build's leak checker opens files at exit, which a run without
// descriptors cannot; the programs allocate nothing, so it is let off.
class LeakCheckOff {
 public:
  LeakCheckOff() {
    const char *options = getenv("ASAN_OPTIONS");
    if (options == nullptr) return;
    saved_ = options;
    setenv("ASAN_OPTIONS", (saved_ + ":detect_leaks=0").c_str(), 1);
  }
  ~LeakCheckOff() {
    if (!saved_.empty()) setenv("ASAN_OPTIONS", saved_.c_str(), 1);
  }

 private:
  std::string saved_;
};

TEST(HostileEnvironment, NoDescriptorLeftForTheWalk) {
  if (!emulator_words().empty()) GTEST_SKIP() << "an emulator needs descriptors of its own";
  LeakCheckOff leak_check_off;
  TempDir stage;
  RunOptions options;
  options.cwd = stage.path();
  options.stdin_data = Package().bytes();
  options.open_files_limit = 4;  // standard streams and the stage: the walk's copy fails
  RunResult r = run_io({"unpack"}, options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(program_lines(r.err), io_failure("dup"));
  EXPECT_FALSE(exists(stage / "meta"));
}

TEST(HostileEnvironment, FileSizeLimitInThePayload) {
  TempDir stage;
  RunOptions options;
  options.cwd = stage.path();
  Package package("format=1\n", {{"usr/local/share/big", "0644", std::string(8192, 'x')}});
  options.stdin_data = package.bytes();
  options.file_size_limit = 4096;  // the second chunk of the payload is refused
  RunResult r = run_io({"unpack"}, options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, io_failure("payload write"));
  // The cut file stays as it was written, never given its final mode.
  EXPECT_EQ(read_file(stage / "data/usr/local/share/big"), std::string(4096, 'x'));
  EXPECT_EQ(mode_of(stage / "data/usr/local/share/big"), 0600u);
}

TEST(HostileEnvironment, StageTheCallerMayNotRead) {
  TempDir base;
  make_dir(base / "stage", 0700);
  RunOptions options;
  options.cwd = base / "stage";
  options.uid = 1000;
  options.gid = 1000;
  options.stdin_data = Package().bytes();
  RunResult r = run_io({"unpack"}, options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, io_failure("stage open"));
  EXPECT_FALSE(exists(base / "stage/meta"));
}

}  // namespace
