// Installed trees: observe, parents/prepare, stat, the trust rule on real directories, limits, races.
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include "harness.h"

using namespace vesk::test;

namespace {

const std::string io = "vesk-io: ";

// usr/local/bin/tool and usr/bin/tool, and one of every kind of entry beside them.
const char *const tree_script = R"sh(cd "$1" && mkdir -p usr/local/bin usr/bin/dir && cd usr/bin &&
  echo x >../local/bin/tool && echo hello >tool && ln tool hard && ln -s tool soft && mkfifo fifo &&
  mknod null c 1 3 && printf hello >setuid && chmod 4755 setuid && : >big && truncate -s 5G big &&
  : >foreign && chown 1234:5678 foreign && ln -s "/$(printf %0253d 0)" l254 &&
  ln -s "$(printf %0255d 0)" l255 && ln -s 'a b' space && ln -s "$(printf 'a\177')" del &&
  ln -s bin ../local/share && : >../local/libexec && ln -s usr ../../to-usr && ln -s "$1" ../../self)sh";

// A one-file package (usr/local/bin/hello, 600 bytes) packed by vesk-pack.
std::string package() {
  TempDir p;
  return sh("cd " + p.path + " && mkdir -p t/data/usr/local/bin o && echo format=1 >t/meta && head -c 600 "
            "/dev/zero >t/data/usr/local/bin/hello && chmod 755 t/data/usr/local/bin/hello && VESK_IO=\"$IO\" "
            "sh " VESK_SOURCE_DIR "/manager/vesk-pack t o >/dev/null && cat o/*.vesk").out;
}

TEST(Paths, ObserveParentsPrepareStat) {
  TempDir t;
  ASSERT_EQ(sh("set -- " + t.path + "\n" + tree_script).status, 0);
  const std::string forbidden = "target link/type forbidden", special = "observed special file rejected";
  const std::string parent = "missing/unsafe observed parent", write = "output write", format = "unsupported stat format";
  const std::string usage = "usage: vesk-io unpack | elf FILE | manifest FILE | parents ROOT PATH";
  const struct { std::string line, message, out; } rows[] = {
      {"", usage}, {"a b c d e", usage}, {"stat -c %u R x", usage}, {"stat --format %u R", usage},
      {"unpack x", usage}, {"elf3 R", usage}, {"observe R", usage}, {"owned R R", usage}, {"'' R R", usage},
      {"parents R usr/local/bin/tool", ""}, {"prepare R usr/local/bin/new", ""}, {"parents2 R usr/bin/new", ""},
      {"prepare2 R usr/bin/hard", forbidden}, {"parents2 R usr/bin/soft", forbidden},
      {"parents2 R usr/bin/fifo", forbidden}, {"prepare2 R usr/bin/dir", forbidden},
      {"parents R usr/bin/tool", "invalid managed path"}, {"parents2 R usr/local/bin/tool", "invalid managed path"},
      {"prepare R/nowhere usr/bin/x", "invalid managed path"}, {"prepare R/self usr/local/bin/x", "root open"},
      {"parents R usr/local/share/tool", "unsafe parent"}, {"prepare R usr/local/libexec/x", "unsafe parent"},
      {"observe R usr/bin/l255", "observed link size"}, {"observe R usr/bin/space", "observed link byte"},
      {"observe R usr/bin/del", "observed link byte"}, {"observe R usr/bin/fifo", special},
      {"observe R usr/bin/null", special}, {"observe R usr", special},
      {"observe R usr/bin/absent", "observed file missing"}, {"observe R usr/sbin/x", parent},
      {"observe R to-usr/bin/tool", parent}, {"observe R/nowhere etc/shadow", "unsafe observed path"},
      {"observe R/self usr", "observation root"}, {"observe R/usr/bin/tool tool", "observation root"},
      {"observe R usr/bin/tool >/dev/full", write}, {"stat -c %a R >/dev/full", write},
      {"stat -c %u:%g R >&-", write}, {"stat -c safe R >/dev/full", ""}, {"stat -c %g R", format},
      {"stat -c '%u ' R", format}, {"stat -c SAFE R", format}, {"stat -c %u%a R", format},
      {"stat -c %u R/none", "stat failed"}, {"stat -c safe ''", "stat failed"}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.line);
    std::string line = row.line;
    if (line.find(" R") != std::string::npos) line.replace(line.find(" R") + 1, 1, t.path);
    expect(sh("$IO " + line), row.message.empty() ? "" : io + row.message, row.out);
  }
  // "parents" creates nothing; "prepare" makes 0755 directories whatever the umask.
  EXPECT_EQ(sh("cd " + t.path + " && $IO parents . usr/local/bin/d/e/f && umask 0 && $IO prepare . usr/local/bin/d/e/f"
               " && $IO prepare2 . usr/libexec/x/y && find usr/local/bin usr/libexec -printf '%m %p\\n'").out,
            "755 usr/local/bin\n644 usr/local/bin/tool\n755 usr/local/bin/d\n755 usr/local/bin/d/e\n755 usr/libexec\n"
            "755 usr/libexec/x\n");
  // What observe and stat print is what coreutils stat sees.
  for (const char *name : {"tool", "setuid", "big", "foreign", "soft", "l254", "dir"}) {
    const std::string p = t / "usr/bin/" + name;
    for (const std::string format : {"%u", "%a", "%s", "%u:%g"})
      expect(sh("$IO stat -c " + format + " " + p), "", sh("stat -c " + format + " " + p).out);
    if (std::string(name) != "dir")
      expect(sh("$IO observe " + t.path + " usr/bin/" + name), "",
             sh("stat --printf '%.1F\\t%04a\\t%u\\t%g\\t%s\\t' " + p + " | tr rs fl; readlink " + p + " || echo -").out);
  }
}

// Owner 0, no other-write, group-write only with gid 0, one device: for the stage of "unpack", the
// roots and parents of the other commands, "stat safe"; and runs as other users or under a size limit.
TEST(Trust, RealDirectories) {
  const std::string root = "unsafe root directory", parent = "unsafe parent ownership/mode", safe = "stat -c safe .";
  const std::string untrusted = "untrusted directory owner/mode", tmpfs = "mount -o mode=755 -t tmpfs t ";
  const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ", archive = package();
  const struct { std::string setup, command, message; } rows[] = {
      {"chown 1000 .", "unpack", root}, {"chmod 0775 . && chgrp 1000 .", "unpack", root},
      {"chmod 0775 .", "unpack", ""}, {"mkdir -m 0775 data && chgrp 1000 data", "unpack", parent},
      {"mkdir -p -m 0777 data/usr/local", "unpack", parent}, {"mkdir data && " + tmpfs + "data", "unpack", parent},
      {"chown 65534:65534 .", nobody + "$IO unpack", root},
      {"chmod 0775 .", "setpriv --reuid=65534 --regid=0 --clear-groups $IO unpack", parent},
      {"chmod 0700 .", "setpriv --reuid=1000 --regid=1000 --clear-groups $IO unpack", "stage open"},
      {":", "trap '' XFSZ && ulimit -f 1 && $IO unpack", "payload write"},
      {"mkdir -p -m 0775 usr/bin && chgrp 100 usr/bin && : >usr/bin/t", "observe . usr/bin/t", parent},
      {"mkdir -p usr/bin && chmod 0777 .", "prepare2 . usr/bin/t", root},
      {"mkdir -p -m 0744 usr/bin && : >usr/bin/t", nobody + "$IO parents2 . usr/bin/t", "target stat"},
      {":", nobody + "$IO prepare . usr/local/share/x", "mkdirat"},
      {"mkdir -p usr/local && " + tmpfs + "usr/local", "prepare . usr/local/bin/x", parent},
      {tmpfs + "$PWD && : >$PWD/t", "observe . t", ""}, {"chmod 07755 . && chgrp 1000 .", safe, ""},
      {"chmod 0775 . && chgrp 1000 .", safe, untrusted}, {"chown 1000 .", safe, untrusted},
      {"chmod 0002 .", safe, untrusted}, {"ln -s / l", "stat -c safe l", untrusted}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.setup + " / " + row.command);
    TempDir d;
    const std::string cd = "cd " + d.path + "/s && ";
    ASSERT_EQ(sh("mkdir " + d / "s" + " && " + cd + row.setup).status, 0);
    expect(sh(cd + (row.command.find("$IO") == std::string::npos ? "$IO " : "") + row.command, archive),
           row.message.empty() ? "" : io + row.message,
           row.command[0] == 'o' && row.message.empty() ? "f\t0644\t0\t0\t0\t-\n" : "");
    sh("umount " + d / "s/data " + d / "s/usr/local " + d / "s 2>/dev/null");
  }
}

TEST(Limits, NoDescriptorLeftForTheWalk) {
  if (getenv("VESK_IO")) GTEST_SKIP() << "an emulator needs descriptors of its own";
  TempDir stage;  // a coverage build adds a note of its own
  const std::string err = sh("cd " + stage.path + " && ASAN_OPTIONS=detect_leaks=0 && exec 3>&- && ulimit -n 4 && "
                             "exec $IO unpack", package()).err;
  EXPECT_EQ(err.substr(0, err.find("profiling:")), io + "dup\n");
}

// While runs walk their path, another process keeps exchanging a directory on it with a decoy: a link
// to a directory outside, a directory of another user, a world-writable one.
TEST(Race, DirectorySwappedMidRun) {
  // A walker that checks a name and then opens it was caught in 9 to 12 of these 12 cases
  // at 40 runs each (six tries; 12 in the last three), in all 12 at 100.
  const int runs = getenv("VESK_IO") ? 30 : 40;
  const std::string archive = package();
  const char *decoys[] = {"ln -s $o d", "cp -a $o d && chown 1000 d", "cp -a $o d && chmod 0777 d"};
  const std::pair<std::string, std::string> cases[] = {
      {"unpack", "data/usr/local"}, {"prepare . usr/local/bin/new/x", "usr/local"},
      {"prepare2 . usr/bin/new/x", "usr"}, {"observe . usr/local/bin/seen", "usr/local"}};
  for (const auto &[command, swapped] : cases)
    for (const char *decoy : decoys) {
      SCOPED_TRACE(command + " / " + decoy);
      TempDir base;
      const std::string real = base / "r/" + swapped, swap = real + ".d";
      write_file(base / "a", archive);
      ASSERT_EQ(sh("o=" + base / "o" + " && mkdir -p $o/bin " + real + "/bin && echo OUTSIDE >$o/bin/seen && "
                   "echo hello >" + real + "/bin/seen && cd " + real + "/.. && " + decoy + " && mv d " + swap).status, 0);
      const std::string look = "find " + base / "o " + swap + "/ -printf '%p %m %U %s\\n' | sort";
      const std::string before = sh(look).out;
      const pid_t swapper = fork();
      if (swapper == 0) for (alarm(300);;) renameat2(AT_FDCWD, real.c_str(), AT_FDCWD, swap.c_str(), RENAME_EXCHANGE);
      sh("cd " + base / "r" + " && for i in $(seq " + std::to_string(runs) + "); do $IO " + command +
         " <../a 2>>../err; echo \"= $?\"; rm -f meta files; done >../out");
      kill(swapper, SIGKILL);
      waitpid(swapper, nullptr, 0);
      // Real directory back: nothing outside changed, a failure line per failed run, observe saw the real file.
      EXPECT_EQ(sh("cd " + base.path + " && { ! grep -qs OUTSIDE " + real + "/bin/seen || { mv " + real + " x && mv " +
                   swap + " " + real + " && mv x " + swap + "; }; } && " + look + "; grep -v '^vesk-io: ' err; "
                   "[ $(grep -c '^= 1$' out) = $(wc -l <err) ] || echo counts differ; grep -v '^= [01]$' out | "
                   "grep -vx \"$(printf 'f\\t0644\\t0\\t0\\t6\\t-')\"").out, before);
    }
}

}  // namespace
