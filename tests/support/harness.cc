#include "harness.h"

#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vesk::test {

namespace {

std::vector<std::string> split_words(const std::string &text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

void fail(const std::string &what) { throw std::runtime_error(what + ": " + strerror(errno)); }

int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
  // Tests make read-only and foreign-owned trees; root removes them all.
  return remove(path);
}

[[noreturn]] void exec_child(const std::vector<std::string> &argv, const RunOptions &options,
                             int in_fd, int out_fd, int err_fd) {
  dup2(in_fd, 0);
  if (options.close_stdout)
    close(1);
  else
    dup2(out_fd, 1);
  dup2(err_fd, 2);
  if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
  if (options.gid >= 0 && setgid(options.gid) != 0) _exit(126);
  if (options.uid >= 0 && setuid(options.uid) != 0) _exit(126);
  alarm(options.timeout_seconds);
  std::vector<char *> args;
  for (const std::string &word : argv) args.push_back(const_cast<char *>(word.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

}  // namespace

RunResult run_program(const std::vector<std::string> &argv, const RunOptions &options) {
  TempDir scratch;
  std::string in_path = options.stdin_path;
  if (in_path.empty()) {
    in_path = scratch / "stdin";
    write_file(in_path, options.stdin_data, 0644, getuid(), getgid());
  }
  std::string out_path = options.stdout_path.empty() ? scratch / "stdout" : options.stdout_path;
  std::string err_path = scratch / "stderr";

  int in_fd = open(in_path.c_str(), O_RDONLY | O_CLOEXEC);
  int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (in_fd < 0 || out_fd < 0 || err_fd < 0) fail("run_program: open");

  pid_t child = fork();
  if (child < 0) fail("fork");
  if (child == 0) exec_child(argv, options, in_fd, out_fd, err_fd);
  close(in_fd);
  close(out_fd);
  close(err_fd);

  int wait_status = 0;
  while (waitpid(child, &wait_status, 0) < 0)
    if (errno != EINTR) fail("waitpid");

  RunResult result;
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  if (options.stdout_path.empty()) result.out = read_file(out_path);
  result.err = read_file(err_path);
  return result;
}

std::vector<std::string> emulator_words() { return split_words(VESK_EMULATOR); }
std::string io_program() { return VESK_IO_PROGRAM; }
std::string index_program() { return VESK_INDEX_PROGRAM; }

static RunResult run_under_emulator(const std::string &program, const std::vector<std::string> &args,
                                    const RunOptions &options) {
  std::vector<std::string> argv = emulator_words();
  argv.push_back(program);
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv, options);
}

RunResult run_io(const std::vector<std::string> &args, const RunOptions &options) {
  return run_under_emulator(io_program(), args, options);
}

RunResult run_index(const std::vector<std::string> &args, const RunOptions &options) {
  return run_under_emulator(index_program(), args, options);
}

std::string io_failure(const std::string &message) { return "vesk-io: " + message + "\n"; }
std::string index_failure(const std::string &message) { return "vesk-index: " + message + "\n"; }

TempDir::TempDir() {
  char pattern[] = "/tmp/vesk-test.XXXXXX";
  if (mkdtemp(pattern) == nullptr) fail("mkdtemp");
  path_ = pattern;
  if (chmod(path_.c_str(), 0755) != 0) fail("chmod");
}

TempDir::~TempDir() { nftw(path_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT); }

void write_file(const std::string &path, const std::string &bytes, mode_t mode, uid_t uid,
                gid_t gid) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
  if (fd < 0) fail("open " + path);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) fail("write " + path);
    done += static_cast<size_t>(n);
  }
  if (fchown(fd, uid, gid) != 0 || fchmod(fd, mode) != 0) fail("chown/chmod " + path);
  close(fd);
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void make_dir(const std::string &path, mode_t mode, uid_t uid, gid_t gid) {
  if (mkdir(path.c_str(), 0700) != 0) fail("mkdir " + path);
  if (chown(path.c_str(), uid, gid) != 0 || chmod(path.c_str(), mode) != 0)
    fail("chown/chmod " + path);
}

bool exists(const std::string &path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

mode_t mode_of(const std::string &path) {
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) fail("lstat " + path);
  return status.st_mode & 07777;
}

RunResult shell(const std::string &command_line) {
  return run_program({"/bin/sh", "-c", command_line});
}

size_t FailingFile::page_size() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

FailingFile::FailingFile(const std::string &bytes) {
  if (bytes.size() > page_size()) throw std::runtime_error("FailingFile: more than a page");
  TempDir dir;
  std::string page = bytes;
  page.resize(page_size(), '\0');
  write_file(dir / "page", page);
  int fd = open((dir / "page").c_str(), O_RDONLY);
  if (fd < 0) fail("FailingFile: open");
  // Address 0 itself: the file offset of a byte in /proc/PID/mem is its
  // address. Mapped from a file, so no store through a null pointer.
  void *mapped = mmap(nullptr, page_size(), PROT_READ, MAP_PRIVATE | MAP_FIXED, fd, 0);
  close(fd);
  if (mapped == MAP_FAILED) fail("FailingFile: mmap at address 0");
  page_ = mapped;
  mapped_ = true;
}

FailingFile::~FailingFile() {
  if (mapped_) munmap(page_, page_size());
}

std::string FailingFile::path() const { return "/proc/" + std::to_string(getpid()) + "/mem"; }

}  // namespace vesk::test
