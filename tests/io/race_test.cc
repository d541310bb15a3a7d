// Directory races: while "unpack", "prepare", "prepare2" and "observe" run,
// another process keeps exchanging a directory on the path with a decoy: a
// symbolic link to a directory outside the root, a directory of another
// user, or a world-writable directory. Whatever the interleaving, nothing
// outside the root (or inside the decoy) is created, changed or reported,
// and every run either succeeds or ends with one of the walk's messages.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <iostream>
#include <map>
#include <set>

#include "harness.h"
#include "tar_writer.h"

using namespace vesk::test;

namespace {

constexpr int runs_per_case = 300;

// --- the attacker -----------------------------------------------------------

// Exchanges two names as fast as it can, bounded in count and time, while
// it is running; between runs it is stopped, so the test can put things
// back and look.
class Swapper {
 public:
  Swapper(const std::string &a, const std::string &b) {
    int ready[2];
    if (pipe(ready) != 0) abort();
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      time_t end = time(nullptr) + 300;
      for (long i = 0; i < 500000000 && time(nullptr) < end; ++i) {
        bool exchanged = renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
        if (i == 0) {
          char answer = exchanged ? 'y' : 'n';
          if (write(ready[1], &answer, 1) != 1 || !exchanged) _exit(1);
          close(ready[1]);
        }
      }
      _exit(0);
    }
    close(ready[1]);
    char answer = 0;
    started_ = read(ready[0], &answer, 1) == 1 && answer == 'y';
    close(ready[0]);
    pause();
  }
  ~Swapper() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  Swapper(const Swapper &) = delete;
  Swapper &operator=(const Swapper &) = delete;

  bool started() const { return started_; }
  void resume() { kill(pid_, SIGCONT); }
  // Returns once the swapper has stopped, so no exchange is under way.
  void pause() {
    kill(pid_, SIGSTOP);
    int status = 0;
    waitpid(pid_, &status, WUNTRACED);
  }

 private:
  pid_t pid_ = -1;
  bool started_ = false;
};

ino_t inode_of(const std::string &path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

// Puts the real directory back under its own name after the attack.
void restore(const std::string &real, const std::string &decoy, ino_t real_inode) {
  if (inode_of(real) != real_inode)
    ASSERT_EQ(renameat2(AT_FDCWD, real.c_str(), AT_FDCWD, decoy.c_str(), RENAME_EXCHANGE), 0);
  ASSERT_EQ(inode_of(real), real_inode);
}

// Every entry below a directory with its kind, owner, mode and content.
void describe(const std::string &dir, const std::string &prefix, std::string &out) {
  DIR *stream = opendir(dir.c_str());
  if (stream == nullptr) return;
  std::set<std::string> names;
  while (dirent *entry = readdir(stream))
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
      names.insert(entry->d_name);
  closedir(stream);
  for (const std::string &name : names) {
    std::string path = dir + "/" + name;
    struct stat status;
    lstat(path.c_str(), &status);
    out += prefix + name + " " + std::to_string(status.st_mode) + " " +
           std::to_string(status.st_uid) + " " + std::to_string(status.st_size) + "\n";
    if (S_ISREG(status.st_mode)) out += read_file(path) + "\n";
    if (S_ISDIR(status.st_mode)) describe(path, prefix + name + "/", out);
  }
}

std::string snapshot(const std::string &dir) {
  std::string out;
  describe(dir, "", out);
  return out;
}

// --- fixtures ---------------------------------------------------------------

const std::string hello = "hello\n";

std::string hello_archive() {
  return Package("format=1\n", {{"usr/local/bin/hello", "0755", hello}}).bytes();
}

enum class Decoy { OutsideLink, ForeignDirectory, WorldWritableDirectory };

struct RaceCase {
  std::string name;
  std::vector<std::string> command;  // ROOT is put after the command word
  std::string swapped;               // the directory below the root that is exchanged
  std::set<std::string> refusals;    // the messages a run may end with
  bool unpack = false;  // the archive comes on standard input, the root is the cwd
};

void PrintTo(const RaceCase &c, std::ostream *os) { *os << c.name; }

struct Layout {
  TempDir base;
  std::string root = base / "root";
  std::string outside = base / "outside";
  std::string real, decoy;
  ino_t real_inode = 0;
};

// The root holds the swapped directory with a "bin" below it (and, for
// "observe", the file bin/hello); the decoy mirrors it, so that a followed
// decoy would show: a file created in it, or its own bin/hello reported.
void build_layout(Layout &l, const RaceCase &c, Decoy decoy) {
  make_dir(l.root);
  for (size_t slash = c.swapped.find('/'); slash != std::string::npos;
       slash = c.swapped.find('/', slash + 1))
    make_dir(l.root + "/" + c.swapped.substr(0, slash));
  l.real = l.root + "/" + c.swapped;
  l.decoy = l.real + ".swap";
  make_dir(l.real);
  make_dir(l.real + "/bin");
  bool observe = c.command[0] == "observe";
  if (observe) write_file(l.real + "/bin/hello", hello, 0644);
  l.real_inode = inode_of(l.real);

  std::string mirror = l.outside;
  make_dir(l.outside);
  if (decoy == Decoy::OutsideLink) {
    ASSERT_EQ(symlink(l.outside.c_str(), l.decoy.c_str()), 0);
  } else if (decoy == Decoy::ForeignDirectory) {
    make_dir(l.decoy, 0755, 1000, 1000);
    mirror = l.decoy;
  } else {
    make_dir(l.decoy, 0777);
    mirror = l.decoy;
  }
  make_dir(mirror + "/bin");
  if (observe) write_file(mirror + "/bin/hello", "OUTSIDE!", 0600, 4242, 4242);
}

// Takes away what a successful run made, so the next run starts alike.
void clear_results(const Layout &l, const RaceCase &c) {
  if (c.unpack) {
    unlink((l.root + "/meta").c_str());
    unlink((l.root + "/files").c_str());
    unlink((l.real + "/bin/hello").c_str());
  }
  rmdir((l.real + "/bin/new").c_str());
}

class Race : public ::testing::TestWithParam<RaceCase> {
 protected:
  void attack(Decoy decoy) {
    const RaceCase &c = GetParam();
    Layout l;
    build_layout(l, c, decoy);
    std::string watched = decoy == Decoy::OutsideLink ? l.outside : l.decoy;
    const std::string before = snapshot(watched);
    std::vector<std::string> args = c.command;
    RunOptions options;
    if (c.unpack) {
      options.cwd = l.root;
      options.stdin_data = hello_archive();
    } else {
      args.insert(args.begin() + 1, l.root);
    }

    Swapper swapper(l.real, l.decoy);
    ASSERT_TRUE(swapper.started()) << "the exchange of directories does not work here";
    std::map<std::string, int> outcomes;
    for (int run = 0; run < runs_per_case; ++run) {
      swapper.resume();
      RunResult r = run_io(args, options);
      swapper.pause();
      restore(l.real, l.decoy, l.real_inode);

      ASSERT_EQ(snapshot(watched), before) << "run " << run << " reached outside: " << r.err;
      if (r.status == 0) {
        ASSERT_EQ(r.err, "");
        if (c.unpack) EXPECT_EQ(read_file(l.real + "/bin/hello"), hello);
        if (c.command[0] == "observe") ASSERT_EQ(r.out, "f\t0644\t0\t0\t6\t-\n");
        if (c.command[0].rfind("prepare", 0) == 0) EXPECT_TRUE(exists(l.real + "/bin/new"));
        ++outcomes["success"];
      } else {
        ASSERT_EQ(r.status, 1) << r.err;
        ASSERT_EQ(r.out, "");
        std::string message = r.err.substr(0, r.err.size() - 1);
        ASSERT_EQ(r.err, io_failure(message.substr(strlen("vesk-io: "))));
        ASSERT_TRUE(c.refusals.count(message.substr(strlen("vesk-io: "))))
            << "unexpected: " << r.err;
        ++outcomes[message];
      }
      clear_results(l, c);
    }
    // The attack must have been seen at least once, or the test proved nothing.
    EXPECT_LT(outcomes["success"], runs_per_case) << "no run met the swapped decoy";
    std::string tally;
    for (const auto &[outcome, count] : outcomes) tally += outcome + ": " + std::to_string(count) + "; ";
    RecordProperty("outcomes", tally);
    std::cout << "  " << c.name << " outcomes: " << tally << "\n";
  }
};

TEST_P(Race, AgainstLinkToOutside) { attack(Decoy::OutsideLink); }
TEST_P(Race, AgainstForeignDirectory) { attack(Decoy::ForeignDirectory); }
TEST_P(Race, AgainstWorldWritableDirectory) { attack(Decoy::WorldWritableDirectory); }

const std::set<std::string> walk_refusals = {"unsafe parent", "unsafe parent ownership/mode"};

INSTANTIATE_TEST_SUITE_P(
    Commands, Race,
    ::testing::Values(
        RaceCase{"unpack", {"unpack"}, "data/usr/local",
                 {"payload parent", "unsafe parent ownership/mode"}, true},
        RaceCase{"prepare", {"prepare", "usr/local/bin/new/file"}, "usr/local", walk_refusals},
        RaceCase{"prepare2", {"prepare2", "usr/share/bin/new/file"}, "usr/share", walk_refusals},
        RaceCase{"observe", {"observe", "usr/local/bin/hello"}, "usr/local",
                 {"missing/unsafe observed parent", "unsafe parent ownership/mode"}}),
    [](const ::testing::TestParamInfo<RaceCase> &info) { return info.param.name; });

}  // namespace
