// Test plumbing: run a program as a caller would and look at what it left.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vesk::test {

struct RunOptions {
  std::string stdin_data;     // bytes on standard input (a regular file)
  std::string stdin_path;     // or a file to put on standard input instead
  std::string cwd;            // working directory; empty: unchanged
  std::string stdout_path;    // e.g. "/dev/full"; empty: captured
  bool close_stdout = false;  // run with standard output closed
  int uid = -1;               // run as this uid (and gid below) if >= 0
  int gid = -1;
  unsigned timeout_seconds = 60;
  long open_files_limit = -1;   // RLIMIT_NOFILE for the run if >= 0
  long file_size_limit = -1;    // RLIMIT_FSIZE in bytes if >= 0; writes past it fail
};

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out, err;
};

// argv[0] is a path, not searched. run_io and run_index go through the
// configured emulator, if any.
RunResult run_program(const std::vector<std::string> &argv, const RunOptions &options = {});
RunResult run_io(const std::vector<std::string> &args, const RunOptions &options = {});
RunResult run_index(const std::vector<std::string> &args, const RunOptions &options = {});
// vesk-io with a fresh file holding `bytes` put after the command word.
RunResult run_io_on(const std::string &bytes, std::vector<std::string> args);
std::string io_program();
std::string index_program();
std::vector<std::string> emulator_words();

// "vesk-io: MESSAGE\n" and "vesk-index: MESSAGE\n".
std::string io_failure(const std::string &message);
std::string index_failure(const std::string &message);
// An empty message: status 0, nothing on stderr. Otherwise status 1 and
// exactly that failure line. Standard output must be `out` either way.
void expect_io(const RunResult &r, const std::string &message, const std::string &out = "");
void expect_index(const RunResult &r, const std::string &message, const std::string &out = "");

// A fresh 0755 directory, removed with everything below it.
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

// A tmpfs mounted on `dir` while the object lives. Failing to mount is a
// test failure, never a skip.
class TmpfsMount {
 public:
  explicit TmpfsMount(const std::string &dir, unsigned long flags = 0);
  ~TmpfsMount();
  bool mounted() const { return mounted_; }

 private:
  std::string dir_;
  bool mounted_;
};

void write_file(const std::string &path, const std::string &bytes, mode_t mode = 0644,
                uid_t uid = 0, gid_t gid = 0);
std::string read_file(const std::string &path);
void make_dir(const std::string &path, mode_t mode = 0755, uid_t uid = 0, gid_t gid = 0);
bool exists(const std::string &path);     // lstat succeeds
mode_t mode_of(const std::string &path);  // permission, set-id and sticky bits (lstat)
RunResult shell(const std::string &command_line);

// A file that reads as `bytes` (at most a page) and then fails with an I/O
// error: this process's memory, the bytes mapped at address 0 and nothing
// after them. Needs root.
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
