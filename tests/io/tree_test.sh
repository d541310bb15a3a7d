# shellcheck shell=sh source-path=SCRIPTDIR disable=SC2086,SC2162
. "${0%/*}/../support/lib.sh"
set -e
cd $TEST_TMP; mkdir -p p/data/usr/local/bin tree/usr/local tree/usr/bin tree/mnt/data
echo format=1 >p/meta; truncate -s 600 p/data/usr/local/bin/hello
mv "$(VESK_IO=$IO "$VESK_SOURCE_DIR/manager/vesk-pack" p .)" pkg
cd tree/usr/bin; echo hello >tool; ln -s '!tool~' soft; mkfifo fifo
truncate -s 5G odd; chown 1234:5678 odd; chmod 4755 odd
ln -s 'a b' space; ln -s "$(printf 'a\177')" del
ln -s "/$(printf %0253d 0)" l254; ln -s "$(printf %0255d 0)" l255
ln -s bin ../local/share; ln -s usr ../../to-usr; ln -s . ../../self
for name in odd soft l254; do
  expect "stat $name" "for format in %u %a %s %u:%g; do $IO stat -c \$format $name; done
    $IO observe ../.. usr/bin/$name" <<EOF
$(stat --printf '%u\n%a\n%s\n%u:%g\n%.1F\t%04a\t%u\t%g\t%s\t' $name | tr rs fl
readlink $name || echo -)
EOF
done
cd ../..; mount -o mode=755 -t tmpfs tmpfs mnt/data
io() { ${as-} $IO "$@" <$TEST_TMP/pkg; }
nobody() { as="setpriv --reuid=65534 --regid=$1 --clear-groups" io $2; }
observe() { io observe .. usr/bin/$1; }
fresh() { cd "$(mktemp -d -p .)" && chmod 755 .; }

# ERROR|RUN|...: each RUN fails with ERROR in a fresh directory, or is silent.
while IFS='|' read error runs; do
  printf %b "${error:+vesk-io: $error\n[status 1]\n}" >../want
  IFS='|'; set -- $runs; unset IFS
  for run; do expect "$run" "fresh && $run" <../want; done
done <<EOF
usage: vesk-io unpack \| elf FILE \| manifest FILE \| parents ROOT PATH|io|io stat --format %u .\
|io observe .|io owned . .
|umask 0; io prepare2 . usr/libexec/x/y && find usr/libexec/x usr ! -perm 755
|chmod 0775 .; io unpack
|chmod 07755 .; chgrp 1000 .; io stat -c safe .
target link/type forbidden|io parents2 .. usr/bin/soft
invalid managed path|io parents .. usr/bin/tool
root open|io prepare ../self usr/local/bin/x
unsafe parent|io prepare .. usr/local/share/x
observed link size|observe l255
observed link byte|observe space|observe del
observed special file rejected|observe fifo
observed file missing|observe absent
missing/unsafe observed parent|io observe .. to-usr/bin/tool
unsafe observed path|io observe .. etc/shadow
observation root|io observe ../self usr
output write|observe tool >/dev/full
unsupported stat format|io stat -c %g .
stat failed|io stat -c %u none
unsafe root directory|chmod 0775 .; chgrp 1000 .; io unpack
unsafe parent ownership/mode|cd ../mnt; io unpack|chmod 0775 .; nobody 0 unpack
stage open|chmod 0700 .; nobody 1000 unpack
payload write|trap '' XFSZ; ulimit -f 1; io unpack
target stat|mkdir -p -m 0744 usr/bin; : >usr/bin/t; nobody 1000 'parents2 . usr/bin/t'
mkdirat|nobody 1000 'prepare . usr/local/share/x'
untrusted directory owner/mode|chmod 1777 .; io stat -c safe .
EOF
umount mnt/data
[ "${VESK_IO-}" ] || expect 'no descriptor left' "fresh && (exec 3>&-; ulimit -n 4
  ASAN_OPTIONS=detect_leaks=0 exec $IO unpack) <../../pkg 2>&1 | grep -v ^profiling:" <<EOF
vesk-io: dup
EOF

# race DIR WORDS: what must not be, in 40 runs (30 emulated) while r/DIR and a decoy d trade
# places (HACKING.md).
look() (cd "$1" && find . -ls)
race() {
  mkdir -p o/bin "r/$1/bin" && echo OUTSIDE >o/bin/seen && cp -a o d && eval "$decoy"
  look d >before && mv d "r/$1.d" && cd r && echo hello >"$1/bin/seen" && dir=$1 && shift
  perl -e 'syscall(316, -100, $ARGV[0], -100, "$ARGV[0].d", 2) while 1' "$dir" &
  for _ in $(seq ${VESK_IO:+11} 40); do io "$@" 2>&1 || echo "= $?"; rm -f meta files; done |
    sed '/^vesk-io: /{N;/\n= 1$/d}; /^f\t0644\t0\t0\t6\t-$/d'
  kill $!; wait 2>/dev/null
  look "$dir" | cmp -s ../before - || look "$dir.d" | diff ../before -
}
for decoy in "rm -r d; ln -s \$PWD/o d" 'chown 1000 d' 'chmod 0777 d'; do
  for case in 'data/usr/local unpack' 'usr/local prepare . usr/local/bin/new/x' \
    'usr prepare2 . usr/bin/new/x' 'usr/local observe . usr/local/bin/seen'; do
    expect "$decoy / $case" "fresh && race $case" </dev/null
  done
done

finish
