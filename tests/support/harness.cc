#include "harness.h"

#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vesk::test {

namespace {

void fail(const std::string &what) { throw std::runtime_error(what + ": " + strerror(errno)); }

// Tests make read-only and foreign-owned trees; root removes them all.
int remove_entry(const char *path, const struct stat *, int, struct FTW *) { return remove(path); }

[[noreturn]] void exec_child(const std::vector<std::string> &argv, const RunOptions &options,
                             const int fds[3]) {
  dup2(fds[0], 0);
  options.close_stdout ? close(1) : dup2(fds[1], 1);
  dup2(fds[2], 2);
  if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
  if (options.gid >= 0 && setgid(options.gid) != 0) _exit(126);
  if (options.uid >= 0 && setuid(options.uid) != 0) _exit(126);
  alarm(options.timeout_seconds);
  if (options.file_size_limit >= 0) {
    // A write past the limit then fails with EFBIG instead of killing the run.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit = {static_cast<rlim_t>(options.file_size_limit),
                    static_cast<rlim_t>(options.file_size_limit)};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  }
  if (options.open_files_limit >= 0) {
    // The limit counts from the standard streams alone, whatever the test
    // runner left open.
    closefrom(3);
    rlimit limit = {static_cast<rlim_t>(options.open_files_limit),
                    static_cast<rlim_t>(options.open_files_limit)};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(126);
  }
  std::vector<char *> args;
  for (const std::string &word : argv) args.push_back(const_cast<char *>(word.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

// With VESK_STDERR_LOG set, every run's standard error is appended to that
// file, so that a coverage run can tell which messages the suite produced.
void log_stderr(const std::string &err) {
  const char *log = getenv("VESK_STDERR_LOG");
  if (log == nullptr || err.empty()) return;
  int fd = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) fail(std::string("open ") + log);
  // One write per run: parallel test programs append whole blocks.
  if (write(fd, err.data(), err.size()) != static_cast<ssize_t>(err.size())) fail("write log");
  close(fd);
}

RunResult run_under_emulator(const std::string &program, const std::vector<std::string> &args,
                             const RunOptions &options) {
  std::vector<std::string> argv = emulator_words();
  argv.push_back(program);
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv, options);
}

void expect_outcome(const RunResult &r, const std::string &failure_line, const std::string &out) {
  EXPECT_EQ(r.status, failure_line.empty() ? 0 : 1) << r.err;
  EXPECT_EQ(r.err, failure_line);
  EXPECT_EQ(r.out, out);
}

}  // namespace

RunResult run_program(const std::vector<std::string> &argv, const RunOptions &options) {
  TempDir scratch;
  std::string in_path = options.stdin_path.empty() ? scratch / "stdin" : options.stdin_path;
  if (options.stdin_path.empty()) write_file(in_path, options.stdin_data, 0644, getuid(), getgid());
  std::string out_path = options.stdout_path.empty() ? scratch / "stdout" : options.stdout_path;
  const int fds[3] = {open(in_path.c_str(), O_RDONLY | O_CLOEXEC),
                      open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644),
                      open((scratch / "stderr").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)};
  if (fds[0] < 0 || fds[1] < 0 || fds[2] < 0) fail("run_program: open");
  pid_t child = fork();
  if (child < 0) fail("fork");
  if (child == 0) exec_child(argv, options, fds);
  for (int fd : fds) close(fd);
  int wait_status = 0;
  while (waitpid(child, &wait_status, 0) < 0)
    if (errno != EINTR) fail("waitpid");

  RunResult result;
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  if (options.stdout_path.empty()) result.out = read_file(out_path);
  result.err = read_file(scratch / "stderr");
  log_stderr(result.err);
  return result;
}

std::vector<std::string> emulator_words() {
  std::vector<std::string> words;
  std::istringstream in(VESK_EMULATOR);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}
std::string io_program() { return VESK_IO_PROGRAM; }
std::string index_program() { return VESK_INDEX_PROGRAM; }

RunResult run_io(const std::vector<std::string> &args, const RunOptions &options) {
  return run_under_emulator(io_program(), args, options);
}
RunResult run_index(const std::vector<std::string> &args, const RunOptions &options) {
  return run_under_emulator(index_program(), args, options);
}
RunResult run_io_on(const std::string &bytes, std::vector<std::string> args) {
  TempDir dir;
  write_file(dir / "file", bytes, 0755);
  args.insert(args.begin() + 1, dir / "file");
  return run_io(args);
}

std::string io_failure(const std::string &message) { return "vesk-io: " + message + "\n"; }
std::string index_failure(const std::string &message) { return "vesk-index: " + message + "\n"; }
void expect_io(const RunResult &r, const std::string &message, const std::string &out) {
  expect_outcome(r, message.empty() ? "" : io_failure(message), out);
}
void expect_index(const RunResult &r, const std::string &message, const std::string &out) {
  expect_outcome(r, message.empty() ? "" : index_failure(message), out);
}

TempDir::TempDir() {
  char pattern[] = "/tmp/vesk-test.XXXXXX";
  if (mkdtemp(pattern) == nullptr || chmod(pattern, 0755) != 0) fail("mkdtemp");
  path_ = pattern;
}
TempDir::~TempDir() { nftw(path_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT); }

TmpfsMount::TmpfsMount(const std::string &dir, unsigned long flags) : dir_(dir) {
  mounted_ = mount("tmpfs", dir.c_str(), "tmpfs", flags, "mode=0755") == 0;
  if (!mounted_)
    ADD_FAILURE() << "MOUNTING A TMPFS ON " << dir << " FAILED (" << strerror(errno)
                  << "): the device rule tests need root and mount(2)";
}
TmpfsMount::~TmpfsMount() {
  if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
}

void write_file(const std::string &path, const std::string &bytes, mode_t mode, uid_t uid,
                gid_t gid) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
  if (fd < 0) fail("open " + path);
  for (ssize_t done = 0, n; done < static_cast<ssize_t>(bytes.size()); done += n)
    if ((n = write(fd, bytes.data() + done, bytes.size() - done)) <= 0) fail("write " + path);
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
  if (mkdir(path.c_str(), 0700) != 0 || chown(path.c_str(), uid, gid) != 0 ||
      chmod(path.c_str(), mode) != 0)
    fail("mkdir " + path);
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

RunResult shell(const std::string &line) { return run_program({"/bin/sh", "-c", line}); }

size_t FailingFile::page_size() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

// The file offset of a byte in /proc/PID/mem is its address. The page is
// mapped from a file, so nothing stores through a null pointer.
FailingFile::FailingFile(const std::string &bytes) {
  if (bytes.size() > page_size()) throw std::runtime_error("FailingFile: more than a page");
  TempDir dir;
  write_file(dir / "page", bytes + std::string(page_size() - bytes.size(), '\0'));
  int fd = open((dir / "page").c_str(), O_RDONLY);
  page_ = mmap(nullptr, page_size(), PROT_READ, MAP_PRIVATE | MAP_FIXED, fd, 0);
  close(fd);
  if (page_ == MAP_FAILED) fail("FailingFile: mmap at address 0");
  mapped_ = true;
}
FailingFile::~FailingFile() {
  if (mapped_) munmap(page_, page_size());
}
std::string FailingFile::path() const { return "/proc/" + std::to_string(getpid()) + "/mem"; }

}  // namespace vesk::test
