#!/bin/sh
# shellcheck disable=SC2016 # commands run later
# The package manager over HTTP past a hostile first mirror (BusyBox alone), refusals, queries,
# kill points, hostile mirrors. Its world (w/, kept as base/): the walkthrough's, installed from
# this build, another key, the packages hello (a static i386 program, two texts) and greet.
. "$VESK_SOURCE_DIR/tests/support/lib.sh"
export VESK_IO="$IO" VESK_INDEX="$INDEX" VESK_NOW=2000 VESK_LOCK_WAIT=1
. "$VESK_SOURCE_DIR/tools/scratch.sh"
scratch_init "$TEST_TMP/w" "$VESK_BINARY_DIR" && cd "$TEST_TMP/w" || exit
doc=hello/data/usr/share/doc/hello shell=sh
vesk() { (umask 077 && $shell "$scratch/prefix/sbin/vesk" "$@"); }
package() { # NAME VERSION DEPENDS TREE; the .desc ends without a line feed
  file=$(printf '%s\n' "name=$1" "version=$2" "rank=$2" description=d upstream=https://e.org \
    date=9 "depends=$3" | head -c -1 | scratch_pack "$4")
}
publish() { scratch_publish "$1" && truncate -s 4096 repo/*.sig; } # SERIAL; .sig at its bound
hello() { # VERSION DEPENDS EXTRA [SERIAL]: NEWS holds VERSION; published as SERIAL (VERSION)
  rm -f "$doc"/* && echo "$1" > "$doc/NEWS" && echo x > "$doc/$3" &&
    package hello "$1" "$2" hello && publish "${4:-$1}"
}
fresh() { cd "$TEST_TMP" && rm -rf w && cp -a base w && cd w || exit; }
state() { # records, files, modes, leftovers; complains where the owned list errs
  (cd root && $IO owned var/lib/vesk/owned
    [ "$(find usr -type f | sort)" = "$(cut -f7 var/lib/vesk/owned | grep -v ^etc/)" ] ||
      echo owned list differs from the tree
    VESK_ROOT=. vesk verify
    find . -name '*.vesk-tmp' -o -name lock -o -name pending -o -name work -o -type d ! -perm 755
    (cd var/lib/vesk && echo *.owned *.row "$(cat serial)")
    find usr -type f -printf '%P:%m\n' | sort | xargs)
}

ssh-keygen -q -t ed25519 -N '' -f other.key
mkdir -p greet/data/usr/local/share/greet $doc hello/data/usr/bin
echo format=2 > hello/meta && echo format=1 > greet/meta
echo g > greet/data/usr/local/share/greet/README
printf 'void _start(void){for(;;);}' | cc -m32 -static -nostdlib -x c - -o hello/data/usr/bin/hello
hello 1 - OLD && size=$(wc -c < "repo/$file") && vesk update > /dev/null
package greet 1 - greet
cp -a . ../base

url=http://127.0.0.1:$((20000 + $$ % 20000)) && good=$url/w/repo
cd "$TEST_TMP" && mkdir cgi-bin bb || exit
printf '#!/bin/sh\necho\n[ "${0##*/}" = stall ] && sleep 3\nexec yes\n' > cgi-bin/endless
chmod +x cgi-bin/endless && ln -s endless cgi-bin/stall
busybox httpd -f -p "${url#http://}" -h . & server=$!
trap 'kill "$server"; rm -rf "$TEST_TMP"' EXIT
busybox --install -s bb
for program in ssh-keygen ${IO%% *}; do ln -sf "$(command -v "$program")" bb/; done
bad="mirror $url/cgi-bin/endless:" greeting=$(wc -c < "base/repo/$file")
shell="env PATH=$TEST_TMP/bb busybox sh"
fresh && rm -r root/var && printf '%s\n' "$url/cgi-bin/endless" "$good" > root/etc/vesk/mirrors
expect install 'vesk update && vesk install hello && state' <<EOF
$bad delegation: more than 16384 bytes
updated to epoch 1 serial 1 from $good
$bad hello: more than $size bytes
installed hello 1
hello.owned hello.row 1 1
bin/hello:755 share/doc/hello/NEWS:644 share/doc/hello/OLD:644
EOF
expect upgrade 'hello 2 greet=1 NEW && vesk update && vesk upgrade && state' <<EOF
$bad delegation: more than 16384 bytes
updated to epoch 1 serial 2 from $good
$bad greet: more than $greeting bytes
installed greet 1
installed hello 2
greet.owned hello.owned greet.row hello.row 1 2
bin/hello:755 local/share/greet/README:644 share/doc/hello/NEW:644 share/doc/hello/NEWS:644
EOF
expect remove 'vesk remove hello && state' <<'EOF'
removed hello
greet.owned greet.row 1 2
local/share/greet/README:644
EOF
shell='sh'

snapshot() { tar -C root --sort=name --mtime=@0 -cf - . | sha256sum; }
same() { # after a refusal: status 1, the root unchanged
  [ $? = 1 ] || echo status not 1
  [ "$(snapshot)" = "$before" ] || echo root changed
}
refused() { # TITLE SETUP COMMAND MESSAGE...
  fresh && vesk install hello > /dev/null && eval "$2" > /dev/null
  vesk update > /dev/null 2>&1; before=$(snapshot)
  expect "$1" "$3; same" <<EOF
$(shift 3 && printf 'refused at %s\n' "$@")
EOF
}
changed='usr/bin/hello changed since it was installed' needs='depends: beta needs hello=1'
refused 'expired index' : 'VESK_NOW=99999999 vesk install hello' \
  'index: vesk-index: delegation time/epoch'
refused 'missing dependency' 'hello 2 nil=1 NEW' 'vesk install hello' \
  'resolve: no nil version 1 in the index'
refused 'dependency cycle' 'package greet 1 hello=2 greet && hello 2 greet=1 NEW' \
  'vesk install hello' 'resolve: dependency cycle'
refused 'changed file' 'echo 3 >> root/usr/bin/hello && hello 2 - OLD' \
  'vesk upgrade; vesk remove hello' "upgrade: $changed" "remove: $changed"
refused 'file of no package' 'hello 2 - NEW && echo mine > root/usr/share/doc/hello/NEW' \
  'vesk install hello' "install: usr/share/doc/hello/NEW is not hello's"
refused 'one path, two packages' 'echo 2 >> greet/meta && package clash 1 - greet && publish 2' \
  'vesk install greet clash' \
  'install: usr/local/share/greet/README is shipped by both greet and clash'
refused 'run in progress' 'mkdir root/var/lib/vesk/lock && echo $$ > root/var/lib/vesk/lock/pid' \
  'vesk remove hello' "lock: run $$ is in progress"
refused 'dependent left behind' 'package beta 1 hello=1 greet && publish 2 && vesk update &&
  vesk install beta && hello 2 - NEW 3' 'vesk install hello; vesk remove hello' "$needs" "$needs"
expect 'dependent upgraded too' 'echo 2 >> greet/meta && package beta 2 hello=2 greet &&
  publish 4 && vesk update > /dev/null && vesk install hello beta' <<'EOF'
installed hello 2
installed beta 2
EOF

fresh  # a leak check cannot run under ptrace
expect 'flush order' 'ASAN_OPTIONS=${ASAN_OPTIONS:-}:detect_leaks=0 \
  strace -f -o trace -e "trace=/rename|sync" vesk install hello
  grep -o "rename\|sync" trace | uniq | xargs' <<'EOF'
installed hello 1
sync rename sync
EOF
expect 'queries' 'vesk list; vesk files hello; vesk owner /usr/bin/hello
  vesk info hello | grep dep; vesk search HEL; vesk owner etc' <<'EOF'
hello	1
usr/bin/hello
usr/share/doc/hello/NEWS
usr/share/doc/hello/OLD
hello
depends	-
hello	1	d
refused at owner: etc belongs to no package
[status 1]
EOF
expect 'verify: an edit, a removal, a mode' 'echo 3 >> root/usr/bin/hello &&
  (cd root/usr/share/doc/hello && rm OLD && chmod 600 NEWS) && vesk verify hello' <<'EOF'
usr/bin/hello	changed size digest
usr/share/doc/hello/NEWS	changed mode
usr/share/doc/hello/OLD	missing
[status 1]
EOF
[ -z "${VESK_TARGET_BUILD:-}" ] || { finish; exit; }

# A run killed at each mutating step in turn: the next recovers, says how, leaves old or new.
enumerate() { # SETUP COMMAND...; prints the number of kill points
  fresh && eval "$1" > /dev/null && shift && cp -a root old && old=$(state)
  vesk "$@" > /dev/null && new=$(state) point=1
  while rm -rf root && cp -a old root &&
    ! VESK_TEST_KILL_AT=$point setsid -w vesk "$@" > /dev/null 2>&1; do
    said=$(vesk recover | sed 's/run [0-9]*/run PID/')
    case $point:$(state) in
      "1:$old") how= ;;
      *":$old") how='rolled back' ;;
      *":$new") how=finished ;;
      *) how=neither ;;
    esac
    [ "$said" = "recovered the stale lock of run PID${how:+
$how an interrupted run}" ] || echo "killed at step $point of $*: $said"
    point=$((point + 1))
  done
  echo "$*: $((point - 1))"
}
expect 'kill points' '
  enumerate "publish 2 && vesk update && vesk install hello" install greet
  enumerate "vesk install hello && hello 2 greet=1 NEW && vesk update" upgrade
  enumerate "vesk install hello" remove hello
  enumerate "vesk install hello && publish 2" update' <<'EOF'
install greet: 16
upgrade: 22
remove hello: 9
update: 10
EOF
export VESK_TIMEOUT=2

hostile() { # MIRROR REASON [SETUP]: refused alone, dropped before the good mirror
  [ -e "../$1" ] || { cp -r repo "../$1" && (cd "../$1" && eval "${3:-}"); }
  echo "$url/$1" > root/etc/vesk/mirrors && before=$(snapshot)
  expect "$1" "vesk $run; same; echo $good >> root/etc/vesk/mirrors && vesk $run" <<EOF
mirror $url/$1: $2
refused at $refusal
mirror $url/$1: $2
$done
EOF
}
fresh && cp -r repo ../old && hello 2 - NEW && vesk update > /dev/null
refusal='update: no good mirror' done="updated to epoch 1 serial 2 from $good" run=update
hostile cgi-bin/stall 'delegation: not done in 2 seconds'
hostile old 'epoch 1 serial 1 is older than epoch 1 serial 2'
hostile delegation 'not signed by the pinned root key' 'truncate -s 16384 delegation'
hostile delegation-over 'delegation: more than 16384 bytes' 'truncate -s 16385 delegation'
hostile index "not signed by the delegation's signer" 'truncate -s 262144 index && rm index.sig &&
  ssh-keygen -q -Y sign -f ../w/other.key -n vesk index'
hostile index-over 'index: more than 262144 bytes' 'truncate -s 262145 index'
for sig in delegation.sig index.sig; do
  hostile "$sig" "$sig: more than 4096 bytes" "truncate -s 4097 $sig"
done
refusal='package: hello: no good mirror' done="installed hello 2
removed hello" run='install hello && vesk remove hello'
hostile truncated 'hello: size differs from the index' "truncate -s -9 $file"
hostile longer "hello: more than $size bytes" "echo >> $file"
hostile changed 'hello: SHA-256 differs from the index' \
  "printf x | dd of=$file bs=1 seek=700 conv=notrunc 2> /dev/null"
finish
