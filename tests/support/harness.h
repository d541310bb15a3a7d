// Test plumbing: run the programs as a caller would, through the shell, and look at what they left.
// $IO and $INDEX in a command line run the programs under test; VESK_IO and VESK_INDEX in the
// environment point them at other builds (words before the path, e.g. an emulator, included).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <string>

namespace vesk::test {

inline std::string read_file(const std::string &path) {
  return (std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str();
}

inline void write_file(const std::string &path, const std::string &bytes, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary) << bytes;
  chmod(path.c_str(), mode);
}

// A fresh 0755 directory, removed with everything below it.
struct TempDir {
  std::string path = [] {
    char name[] = "/tmp/vesk-test.XXXXXX";
    return std::string(mkdtemp(name));
  }();
  TempDir() { chmod(path.c_str(), 0755); }
  ~TempDir() { (void)!system(("rm -rf '" + path + "'").c_str()); }
  TempDir(const TempDir &) = delete;
  std::string operator/(const std::string &relative) const { return path + "/" + relative; }
};

struct Run {
  int status;
  std::string out, err;
};

// Runs `command` with /bin/sh, `input` on standard input (a regular file).
inline Run sh(const std::string &command, const std::string &input = "") {
  static const char *io = getenv("VESK_IO"), *index = getenv("VESK_INDEX");
  static const bool named = setenv("IO", io ? io : VESK_IO_PROGRAM, 1) == 0 &&
                            setenv("INDEX", index ? index : VESK_INDEX_PROGRAM, 1) == 0;
  EXPECT_TRUE(named);
  TempDir t;
  write_file(t / "in", input);
  const int w =
      system(("exec <" + t / "in" + " >" + t / "out" + " 2>" + t / "err" + "\n" + command).c_str());
  Run r{WIFEXITED(w) ? WEXITSTATUS(w) : 128, read_file(t / "out"), read_file(t / "err")};
  // A coverage run collects every failure line to see which messages the suite produced.
  if (const char *log = getenv("VESK_STDERR_LOG")) std::ofstream(log, std::ios::app) << r.err;
  return r;
}

// Empty `failure`: status 0, nothing on stderr; else status 1 and exactly that line. Stdout: `out`.
inline void expect(const Run &r, const std::string &failure, const std::string &out = "") {
  EXPECT_EQ(r.status, failure.empty() ? 0 : 1);
  EXPECT_EQ(r.err, failure.empty() ? "" : failure + "\n");
  EXPECT_EQ(r.out, out);
}

}  // namespace vesk::test
