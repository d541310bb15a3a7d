// Test plumbing: run a program as a caller would and look at what it left.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vesk::test {

struct RunOptions {
  std::string stdin_data;       // bytes on standard input (a regular file)
  std::string stdin_path;       // or a file to put on standard input instead
  std::string cwd;              // working directory; empty: unchanged
  std::string stdout_path;      // e.g. "/dev/full"; empty: captured
  bool close_stdout = false;    // run with standard output closed
  int uid = -1;                 // run as this uid (and gid below) if >= 0
  int gid = -1;
  unsigned timeout_seconds = 60;
};

struct RunResult {
  int status = -1;     // exit status, or 128 + signal number
  std::string out;     // captured standard output
  std::string err;     // captured standard error
};

// Runs argv[0] with the given arguments; argv[0] is a path, not searched.
RunResult run_program(const std::vector<std::string> &argv, const RunOptions &options = {});

// Runs the programs under test, through the configured emulator if any.
RunResult run_io(const std::vector<std::string> &args, const RunOptions &options = {});
RunResult run_index(const std::vector<std::string> &args, const RunOptions &options = {});
std::string io_program();
std::string index_program();
std::vector<std::string> emulator_words();

// "vesk-io: MESSAGE\n" and "vesk-index: MESSAGE\n".
std::string io_failure(const std::string &message);
std::string index_failure(const std::string &message);

// A fresh directory, mode 0755, owned by the running user; removed with
// everything below it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

// Writes bytes to a new or truncated file, then sets mode and owner.
void write_file(const std::string &path, const std::string &bytes, mode_t mode = 0644,
                uid_t uid = 0, gid_t gid = 0);
std::string read_file(const std::string &path);
void make_dir(const std::string &path, mode_t mode = 0755, uid_t uid = 0, gid_t gid = 0);
bool exists(const std::string &path);  // lstat succeeds
mode_t mode_of(const std::string &path);  // permission bits and set-id/sticky, lstat

// Runs a shell command line; returns its exit status and captured stdout.
RunResult shell(const std::string &command_line);

// A file that reads as `bytes` (at most one page) and then fails with an
// I/O error: this process's memory with the bytes mapped at address 0 and
// nothing mapped after them. Needs root; throws if the mapping fails.
class FailingFile {
 public:
  explicit FailingFile(const std::string &bytes);
  ~FailingFile();
  FailingFile(const FailingFile &) = delete;
  FailingFile &operator=(const FailingFile &) = delete;
  std::string path() const;  // /proc/PID/mem
  static size_t page_size();

 private:
  void *page_ = nullptr;
  bool mapped_ = false;
};

}  // namespace vesk::test
