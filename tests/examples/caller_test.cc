// The example scripts through a package's life: packed, published, installed, upgraded, removed in a fresh
// root; every refusal stops at its step with its reason, leaving the root and its owned list as they were.
#include "harness.h"

using namespace vesk::test;

namespace {

// Shell functions over a scratch directory: keys, a pinned root, the hello tree (an i386 program, two texts).
std::string prelude(const TempDir &d) {
  return "cd " + d.path + " && E=" VESK_SOURCE_DIR "/examples\nexport VESK_IO=\"$IO\" VESK_INDEX=\"$INDEX\" "
         "VESK_NOW=2000 VESK_ROOT=$PWD/root\nabi=$(echo abi | sha256sum | cut -c1-64) doc=t/data/usr/share/doc/hello\n"
         "C() { (umask 077 && sh $E/vesk-caller.sh \"$@\"); }\n"
         "pack() { sh $E/pack.sh $5 repo > last && printf 'name=%s\\nversion=%s\\nrank=%s\\ndepends=%s\\ndescription=d"
         "\\nupstream=https://e.org\\ndate=9\\n' $1 $2 $3 $4 > repo/$(basename $(cat last) .vesk).desc; }\n"
         "pub() { sh $E/publish.sh core $abi 1 $1 1000 9999 root.key signer.key repo; }\n"
         "greet() { mkdir -p g/data/usr/share/greet && echo g > g/data/usr/share/greet/README &&"
         " echo format=2 > g/meta && pack greet 1 1 $1 g; }\n"
         "up() { echo 2 > $doc/NEWS && mv $doc/OLD $doc/NEW && pack hello 2 2 $1 t; }\n"
         "state() { cd root && $IO owned var/lib/vesk/owned && find usr -type f | sort > ../tree &&"
         " cut -f7 var/lib/vesk/owned | grep -v ^etc/ | cmp -s - ../tree || echo owned list differs;"
         " find usr -type d ! -perm 755; find usr -type f -printf '%p %m\\n' | sort | tr '\\n' ,;"
         " cat usr/share/doc/hello/NEWS; }\n"
         "snapshot() { tar -C root --sort=name --mtime=@0 --exclude=pending --exclude='*.vesk-tmp'"
         " -cf - . | sha256sum; }\n";
}

void make_world(const TempDir &d, bool install) {
  Run r = sh(prelude(d) +
             "mkdir -p -m 0755 root/etc/vesk repo t/data/usr/bin $doc && for k in root signer other;"
             " do ssh-keygen -q -t ed25519 -N '' -C $k -f $k.key; done &&"
             " printf 'vesk-root %s\\n' \"$(cat root.key.pub)\" > root/etc/vesk/allowed_signers &&"
             " echo \"core $abi\" > root/etc/vesk/repository && echo format=2 > t/meta &&"
             " echo 1 > $doc/NEWS && echo old > $doc/OLD && printf 'void _start(void){for(;;);}' |"
             " cc -m32 -static -nostdlib -x c - -o t/data/usr/bin/hello" +
             std::string(install ? " && pack hello 1 1 - t && pub 1 && cp repo/index.sig index1.sig"
                                   " && C install repo hello" : ""));
  ASSERT_EQ(r.status, 0) << r.err;
}

const std::string v2 = "usr/bin/hello 755,usr/share/doc/hello/NEW 644,usr/share/doc/hello/NEWS 644,"
                       "usr/share/greet/README 644,2\n";

TEST(Caller, PackPublishInstallUpgradeRemove) {
  TempDir d;
  make_world(d, false);
  struct { const char *command, *out; std::string tree; } steps[] = {
      {"pack hello 1 1 - t && pub 1 && C install repo hello", "installed hello 1\n",
       "usr/bin/hello 755,usr/share/doc/hello/NEWS 644,usr/share/doc/hello/OLD 644,1\n"},
      {"greet - && up greet=1 && pub 2 && C install repo hello && C install repo hello",
       "installed greet 1\ninstalled hello 2\ngreet 1 is installed\nhello 2 is installed\n", v2},
      {"C remove hello", "removed hello\n", "usr/share/greet/README 644,"},
  };
  for (const auto &s : steps) {
    expect(sh(prelude(d) + s.command), "", s.out);
    EXPECT_EQ(sh(prelude(d) + "state").out, s.tree) << s.command;
  }
}

TEST(Caller, RefusalsLeaveRootAndOwnedList) {
  struct { const char *setup, *err, *command = "C install repo hello"; } rows[] = {
      {"up - && pub 2 && printf x | dd of=repo/$(cat last) bs=1 seek=700 conv=notrunc",
       "refused at package: hello: SHA-256 differs from the index"},
      {"up - && pub 2 && rm repo/index.sig && ssh-keygen -q -Y sign -f other.key -n vesk repo/index",
       "refused at index signature: not signed by the delegation's signer"},
      {"up - && pub 2 && rm repo/delegation.sig && ssh-keygen -q -Y sign -f other.key -n vesk repo/delegation",
       "refused at delegation signature: not signed by the pinned root key"},
      {"up - && pub 2 && cp index1.sig repo/index.sig",
       "refused at index signature: not signed by the delegation's signer"},
      {"up greet=1 && pub 2", "refused at resolve: no greet version 1 in the index"},
      {"greet hello=2 && up greet=1 && pub 2", "refused at resolve: dependency cycle"},
      {"echo local >> root/usr/share/doc/hello/NEWS",
       "refused at remove: usr/share/doc/hello/NEWS changed since it was installed", "C remove hello"},
      // Killed between two files of the upgrade (silently); the next run cleans up and upgrades.
      {"greet - && up greet=1 && pub 2 && C install repo greet && mkdir bin && printf '#!/bin/sh\\n"
       "case $2 in *.vesk-tmp) [ ! -e seen ] || { kill -9 $PPID; exit 1; }; : > seen;; esac\\n"
       "exec /bin/cp \"$@\"\\n' > bin/cp && chmod +x bin/cp",
       "", "PATH=$PWD/bin:$PATH && { C install repo hello; } 2>/dev/null"},
  };
  for (const auto &row : rows) {
    TempDir d;
    make_world(d, true);
    auto before = sh(prelude(d) + "{ " + row.setup + "\n} >/dev/null && snapshot");
    auto r = sh(prelude(d) + row.command + " || exit 1");
    EXPECT_EQ(r.status, 1) << row.setup;
    EXPECT_EQ(r.err, *row.err ? std::string(row.err) + "\n" : "");
    EXPECT_EQ(sh(prelude(d) + "snapshot").out, before.out) << before.err;
    if (*row.err) continue;
    expect(sh(prelude(d) + "C install repo hello"), "",
           "removed the temporary files of an interrupted run\ngreet 1 is installed\ninstalled hello 2\n");
    EXPECT_EQ(sh(prelude(d) + "state").out, v2);
  }
}

}  // namespace
