# Installed trees: observe, parents/prepare and stat on a tree of every kind of entry, their
# output beside coreutils stat, the trust rule on real directories, the descriptor limit.
# shellcheck shell=sh source-path=SCRIPTDIR disable=SC2016
. "${0%/*}/../support/lib.sh"
. "${0%/*}/trees.sh"
set -e

# TITLE COMMANDS [MESSAGE]: the commands print nothing, or end on MESSAGE of vesk-io.
check() {
  if [ $# = 2 ]; then : >"$TEST_TMP/want"; else
    printf 'vesk-io: %s\n[status 1]\n' "$3" >"$TEST_TMP/want"
  fi
  expect "$1" "$2" <"$TEST_TMP/want"
}
# COMMAND [MESSAGE]: the same for one run of vesk-io here.
io() { check "$1" "\$IO $1" ${2+"$2"}; }

# usr/local/bin/tool and usr/bin/tool, and one of every kind of entry beside them.
tree=$TEST_TMP/tree
mkdir -p "$tree/usr/local/bin" "$tree/usr/bin"
cd "$tree/usr/bin"
echo x >../local/bin/tool && echo hello >tool && ln tool hard && ln -s '!tool~' soft
printf hello >setuid && chmod 4755 setuid && truncate -s 5G big && mkfifo fifo
: >foreign && chown 1234:5678 foreign && ln -s 'a b' space
ln -s "/$(printf %0253d 0)" l254 && ln -s "$(printf %0255d 0)" l255
ln -s bin ../local/share && ln -s usr ../../to-usr && ln -s "$tree" ../../self
cd "$tree"

usage='usage: vesk-io unpack | elf FILE | manifest FILE | parents ROOT PATH'
check 'no command' '$IO' "$usage"
io 'a b c d' "$usage"
io 'stat --format %u .' "$usage"
io 'observe .' "$usage"
io 'owned . .' "$usage"

io 'parents . usr/local/bin/tool'
io 'prepare2 . usr/bin/hard' 'target link/type forbidden'
io 'parents2 . usr/bin/soft' 'target link/type forbidden'
io 'parents . usr/bin/tool' 'invalid managed path'
io 'parents2 . usr/local/bin/tool' 'invalid managed path'
io 'prepare self usr/local/bin/x' 'root open'
io 'prepare . usr/local/share/x' 'unsafe parent'
# "parents" makes nothing; "prepare" makes 0755 directories whatever the umask.
expect 'prepare makes the parents' '$IO parents . usr/local/bin/d/e/f && ! test -e usr/local/bin/d &&
  umask 0 && $IO prepare . usr/local/bin/d/e/f && $IO prepare2 . usr/libexec/x/y &&
  find usr/local/bin/d usr/libexec -printf "%m %p\n"' <<'EOF'
755 usr/local/bin/d
755 usr/local/bin/d/e
755 usr/libexec
755 usr/libexec/x
EOF

io 'observe . usr/bin/l255' 'observed link size'
io 'observe . usr/bin/space' 'observed link byte'
io 'observe . usr/bin/fifo' 'observed special file rejected'
io 'observe . usr/bin/absent' 'observed file missing'
io 'observe . to-usr/bin/tool' 'missing/unsafe observed parent'
io 'observe . etc/shadow' 'unsafe observed path'
io 'observe self usr' 'observation root'
io 'observe . usr/bin/tool >/dev/full' 'output write'
io 'stat -c %u:%g . >&-' 'output write'
io 'stat -c %g .' 'unsupported stat format'
io 'stat -c %u none' 'stat failed'

# What stat and observe print is what coreutils stat sees.
for name in tool setuid big foreign soft l254; do
  for format in %u %a %s %u:%g; do
    stat -c "$format" "usr/bin/$name" >"$TEST_TMP/want"
    expect "stat $format $name" "\$IO stat -c $format usr/bin/$name" <"$TEST_TMP/want"
  done
  stat --printf '%.1F\t%04a\t%u\t%g\t%s\t' "usr/bin/$name" | tr rs fl >"$TEST_TMP/want"
  readlink "usr/bin/$name" >>"$TEST_TMP/want" || echo - >>"$TEST_TMP/want"
  expect "observe $name" "\$IO observe . usr/bin/$name" <"$TEST_TMP/want"
done

# Trusted: owner 0, no write for others, group write only with gid 0, one device. SETUP
# COMMAND [MESSAGE] runs in a fresh directory, the stage of "unpack" or the others' root.
cd "$TEST_TMP" && package
unpack() { $IO unpack <"$TEST_TMP/package"; }
fresh() {
  check "$1 / $2" "cd \"\$(mktemp -d -p \"\$TEST_TMP\")\" && chmod 0755 . && $1 && $2" ${3+"$3"}
}
root='unsafe root directory' parent='unsafe parent ownership/mode'
untrusted='untrusted directory owner/mode' nobody='setpriv --reuid=65534 --clear-groups'
fresh 'chown 1000 .' unpack "$root"
fresh 'chmod 0775 . && chgrp 1000 .' unpack "$root"
fresh 'chmod 0775 .' unpack
fresh 'mkdir -m 0775 data && chgrp 1000 data' unpack "$parent"
fresh 'mkdir -p -m 0777 data/usr/local' unpack "$parent"
fresh 'chmod 0775 .' "$nobody --regid=0 \$IO unpack <../package" "$parent"
fresh 'chmod 0700 .' 'setpriv --reuid=1000 --regid=1000 --clear-groups $IO unpack' 'stage open'
fresh "trap '' XFSZ" 'ulimit -f 1 && unpack' 'payload write'
fresh 'mkdir -p -m 0744 usr/bin && : >usr/bin/t' "$nobody --regid=65534 \$IO parents2 . usr/bin/t" \
  'target stat'
fresh : "$nobody --regid=65534 \$IO prepare . usr/local/share/x" mkdirat
fresh 'chmod 07755 . && chgrp 1000 .' '$IO stat -c safe .'
fresh 'chmod 1777 .' '$IO stat -c safe .' "$untrusted"
fresh 'ln -s / link' '$IO stat -c safe link' "$untrusted"
mkdir -p mount/data && mount -o mode=755 -t tmpfs tmpfs mount/data
check 'stage on one device, data on another' 'cd mount && unpack' "$parent"
umount mount/data

# The stage takes the last descriptor: none is left to walk it.
[ -n "${VESK_IO:-}" ] || expect 'no descriptor for the walk' 'mkdir stage && cd stage && (exec 3>&- && ulimit -n 4 &&
  ASAN_OPTIONS=detect_leaks=0 exec $IO unpack) <../package 2>&1 | grep -v ^profiling:' <<'EOF'
vesk-io: dup
EOF
finish
