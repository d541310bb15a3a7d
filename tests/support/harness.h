// Test plumbing: run the programs through the shell as a caller would.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>

namespace vesk::test {

using std::string;

inline string read_file(const string &path) {
  return (std::ostringstream() << std::ifstream(path).rdbuf()).str();
}

inline void write_file(const string &path, const string &bytes) { std::ofstream(path) << bytes; }

struct TempDir {
  string path = mkdtemp(string("/tmp/vesk-test.XXXXXX").data());
  ~TempDir() { (void)!system(("rm -rf " + path).c_str()); }
  string operator/(const string &relative) const { return path + "/" + relative; }
};

struct Run {
  int status;
  string out, err;
};

// $IO and $INDEX: this build's programs, or what VESK_IO and VESK_INDEX name.
inline Run sh(const string &command, const string &input = "") {
  TempDir t;
  write_file(t / "in", input);
  const int status =
      system(("export IO=\"${VESK_IO:-" VESK_BINARY_DIR
              "/vesk-io}\" INDEX=\"${VESK_INDEX:-" VESK_BINARY_DIR "/vesk-index}\"\nexec <" +
              t / "in" + " >" + t / "out" + " 2>" + t / "err" + "\n" + command)
                 .c_str());
  Run run{WIFEXITED(status) ? WEXITSTATUS(status) : 128, read_file(t / "out"),
          read_file(t / "err")};
  // The coverage run's message check reads every failure line.
  if (const char *log = getenv("VESK_STDERR_LOG")) std::ofstream(log, std::ios::app) << run.err;
  return run;
}

// Empty `failure`: status 0, no stderr; else status 1 and that line. Stdout: `out`.
inline void expect(const Run &run, const string &failure, const string &out = "") {
  EXPECT_EQ(run.status, failure.empty() ? 0 : 1);
  EXPECT_EQ(run.err, failure.empty() ? "" : failure + "\n");
  EXPECT_EQ(run.out, out);
}

}  // namespace vesk::test
