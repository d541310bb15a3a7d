# vesk-io on real trees: observe, parents, stat, the trust rule, the descriptor limit, races.
# shellcheck shell=sh source-path=SCRIPTDIR disable=SC2016,SC2059,SC2086
. "${0%/*}/../support/lib.sh"
set -e
cd "$TEST_TMP" && mkdir -p p/data/usr/local/bin tree/usr/local tree/usr/bin tree/mnt/data
echo format=1 >p/meta && head -c 600 /dev/zero >p/data/usr/local/bin/hello
VESK_IO=$IO sh "$VESK_SOURCE_DIR/manager/vesk-pack" p . >/dev/null && mv ./*.vesk package
cd tree/usr/bin
echo hello >tool && ln tool hard && ln -s '!tool~' soft && mkfifo fifo
truncate -s 5G odd && chown 1234:5678 odd && chmod 4755 odd
ln -s 'a b' space && ln -s "$(printf 'a\177')" del
ln -s "/$(printf %0253d 0)" l254 && ln -s "$(printf %0255d 0)" l255
ln -s bin ../local/share && ln -s usr ../../to-usr && ln -s . ../../self
cd ../.. && mount -o mode=755 -t tmpfs tmpfs mnt/data
# io WORDS: vesk-io with the package on its input; nobody GID 'WORDS': the same as uid 65534.
package=$TEST_TMP/package
io() { $IO "$@" <"$package"; }
nobody() { setpriv --reuid=65534 --regid="$1" --clear-groups $IO $2 <"$package"; }

# COMMANDS|MESSAGE: run in a fresh 0755 directory in the tree, silent or MESSAGE and status 1.
usage='usage: vesk-io unpack | elf FILE | manifest FILE | parents ROOT PATH'
while IFS='|' read -r commands message; do
  [ "$message" != usage ] || message=$usage
  printf "${message:+vesk-io: %s\n[status 1]\n}" "$message" >"$TEST_TMP/want"
  expect "$commands" "cd \$(mktemp -d -p .) && chmod 0755 . && $commands" <"$TEST_TMP/want"
done <<'EOF'
io|usage
io stat --format %u .|usage
io observe .|usage
io owned . .|usage
umask 0 && io prepare2 . usr/libexec/x/y && find usr/libexec/x usr ! -perm 755|
io prepare2 .. usr/bin/hard|target link/type forbidden
io parents2 .. usr/bin/soft|target link/type forbidden
io parents .. usr/bin/tool|invalid managed path
io prepare ../self usr/local/bin/x|root open
io prepare .. usr/local/share/x|unsafe parent
io observe .. usr/bin/l255|observed link size
io observe .. usr/bin/space|observed link byte
io observe .. usr/bin/del|observed link byte
io observe .. usr/bin/fifo|observed special file rejected
io observe .. usr/bin/absent|observed file missing
io observe .. to-usr/bin/tool|missing/unsafe observed parent
io observe .. etc/shadow|unsafe observed path
io observe ../self usr|observation root
io observe .. usr/bin/tool >/dev/full|output write
io stat -c %g .|unsupported stat format
io stat -c %u none|stat failed
chown 1000 . && io unpack|unsafe root directory
chmod 0775 . && chgrp 1000 . && io unpack|unsafe root directory
chmod 0775 . && io unpack|
mkdir -p -m 0777 data/usr/local && io unpack|unsafe parent ownership/mode
cd ../mnt && io unpack|unsafe parent ownership/mode
chmod 0775 . && nobody 0 unpack|unsafe parent ownership/mode
chmod 0700 . && nobody 1000 unpack|stage open
trap '' XFSZ && ulimit -f 1 && io unpack|payload write
mkdir -p -m 0744 usr/bin && : >usr/bin/t && nobody 1000 'parents2 . usr/bin/t'|target stat
nobody 1000 'prepare . usr/local/share/x'|mkdirat
chmod 07755 . && chgrp 1000 . && io stat -c safe .|
chmod 1777 . && io stat -c safe .|untrusted directory owner/mode
EOF
umount mnt/data
cd usr/bin
# Against coreutils stat: the four formats, then the observed line.
for name in odd soft l254; do
  { stat --printf '%u\n%a\n%s\n%u:%g\n%.1F\t%04a\t%u\t%g\t%s\t' "$name" | tr rs fl
    readlink "$name" || echo -; } >"$TEST_TMP/want"
  expect "stat, observe $name" "for format in %u %a %s %u:%g; do \$IO stat -c \$format $name; done
    \$IO observe ../.. usr/bin/$name" <"$TEST_TMP/want"
done

# The stage takes the last descriptor, none is left for the walk.
cd "$TEST_TMP"
[ -n "${VESK_IO:-}" ] || expect 'no descriptor for the walk' 'mkdir stage && cd stage &&
  (exec 3>&- && ulimit -n 4 && ASAN_OPTIONS=detect_leaks=0 exec $IO unpack) <"$package" 2>&1 |
  grep -v ^profiling:' <<'EOF'
vesk-io: dup
EOF

# Runs while a directory on their path is exchanged (renameat2, 316 on x86-64) with a decoy d: a
# link to o outside, a copy of o of uid 1000 or mode 0777. A walker that checks a name, then opens
# it, fails 9 to 12 of these 12. Printed: what must not be.
look() { find o "$1/" -printf '%P %m %U %s\n' | sort; }
race() { # DECOY-COMMANDS SWAPPED WORDS...
  mkdir -p o/bin "r/$2/bin" && echo OUTSIDE >o/bin/seen && echo hello >"r/$2/bin/seen"
  eval "$1" && look d >before && mv d "r/$2.d" && decoy=r/$2.d && real=r/$2 && shift 2
  perl -e '($a, $b) = @ARGV; syscall(316, -100, $a, -100, $b, 2) while 1' "$real" "$decoy" &
  for _ in $(seq "$runs"); do
    (cd r && $IO "$@" <"$package" 2>&1; echo "= $?"; rm -f meta files)
  done | sed '/^vesk-io: /{N;/\n= 1$/d}; /^= 0$/d; /^f\t0644\t0\t0\t6\t-$/d'
  kill $!
  wait $! 2>/dev/null || :
  if grep -qs OUTSIDE "$real/bin/seen"; then decoy=$real; fi
  look "$decoy" | diff before -
}
runs=40
[ -z "${VESK_IO:-}" ] || runs=30
for decoy in 'ln -s "$PWD/o" d' 'cp -a o d && chown 1000 d' 'cp -a o d && chmod 0777 d'; do
  for case in 'data/usr/local unpack' 'usr/local prepare . usr/local/bin/new/x' \
    'usr prepare2 . usr/bin/new/x' 'usr/local observe . usr/local/bin/seen'; do
    expect "$decoy / $case" "cd \$(mktemp -d -p .) && chmod 755 . && race '$decoy' $case" </dev/null
  done
done
finish
