#!/bin/sh
# shellcheck disable=SC2016 # commands run later
# The queries; mirrors over HTTP, hostile ones dropped in turn.
. "$VESK_SOURCE_DIR/tests/support/lib.sh"
. "$VESK_SOURCE_DIR/tests/vesk/world.sh"

port=$((20000 + $$ % 20000))
url=http://127.0.0.1:$port good=http://127.0.0.1:$port/w/repo
mkdir "$TEST_TMP/cgi-bin" "$TEST_TMP/h" && cd "$TEST_TMP" || exit
printf '#!/bin/sh\necho\n[ "${0##*/}" = stall ] && sleep 3\nexec yes\n' > cgi-bin/endless
chmod +x cgi-bin/endless && ln -s endless cgi-bin/stall
busybox httpd -f -p "127.0.0.1:$port" -h "$TEST_TMP" & server=$!
trap 'kill "$server"; rm -rf "$TEST_TMP"' EXIT

fresh && vesk install hello > /dev/null
expect 'the queries' 'vesk list; vesk files hello; vesk owner /usr/bin/hello
  vesk info hello | grep dep; vesk search HEL; vesk owner etc; vesk info nil' <<'EOF'
hello	1
usr/bin/hello
usr/share/doc/hello/NEWS
usr/share/doc/hello/OLD
hello
depends	-
hello	1	d
refused at owner: etc belongs to no package
refused at info: no nil in the index
[status 1]
EOF
expect 'verify after an edit, a removal and a mode change' 'vesk verify && cd root &&
  echo 3 >> usr/bin/hello && rm usr/share/doc/hello/OLD && chmod 600 usr/share/doc/hello/NEWS &&
  cd .. && vesk verify hello' <<'EOF'
usr/bin/hello	changed size digest
usr/share/doc/hello/NEWS	changed mode
usr/share/doc/hello/OLD	missing
[status 1]
EOF
[ -z "${VESK_TARGET_BUILD:-}" ] || { finish; exit; }
export VESK_TIMEOUT=2
bad="mirror $url/cgi-bin/endless:"
fresh && size=$(wc -c < "repo/$file")
expect 'a fresh root, the first mirror hostile' 'rm -r root/var && echo "$url/cgi-bin/endless
  $good" > root/etc/vesk/mirrors && vesk update && vesk install hello && hello 2 - NEW &&
  publish 2 && vesk update && vesk upgrade && vesk remove hello' <<EOF
$bad delegation: more than 16384 bytes
updated to epoch 1 serial 1 from $good
$bad hello: more than $size bytes
installed hello 1
$bad delegation: more than 16384 bytes
updated to epoch 1 serial 2 from $good
$bad hello: more than $size bytes
installed hello 2
removed hello
EOF

hostile() { # MIRROR SETUP REASON: alone refused, changing nothing; then dropped
  [ -e "../$1" ] || { cp -r repo "../$1" && (cd "../$1" && eval "$2"); }
  echo "$url/$1" > root/etc/vesk/mirrors
  line="mirror $url/$1: $3" before=$(snapshot)
  expect "$1" "vesk $run; [ \"\$(snapshot)\" = '$before' ] || echo root changed
    echo $good >> root/etc/vesk/mirrors && vesk $run" <<EOF
$line
refused at $refusal
$line
$done
EOF
}
fresh && cp -r repo ../h/old && hello 2 - NEW && publish 2 && vesk update > /dev/null
refusal='update: no good mirror' done="updated to epoch 1 serial 2 from $good" run=update
hostile cgi-bin/endless : 'delegation: more than 16384 bytes'
hostile cgi-bin/stall : 'delegation: not done in 2 seconds'
hostile h/old : 'epoch 1 serial 1 is older than epoch 1 serial 2'
hostile h/wrong 'rm index.sig && ssh-keygen -q -Y sign -f ../../w/other.key -n vesk index' \
  "not signed by the delegation's signer"
hostile h/short 'truncate -s -1 index' "not signed by the delegation's signer"
while read -r meta limit fate; do # a signature may end in padding
  hostile "h/$meta-over" "truncate -s $((limit + 1)) $meta" "$meta: more than $limit bytes"
  cp -r repo "../h/$meta" && truncate -s "$limit" "../h/$meta/$meta"
  expect "$meta at its limit" "echo $url/h/$meta > root/etc/vesk/mirrors && vesk update 2>&1 |
    sed -n 1p" <<EOF
$fate
EOF
done <<EOF
delegation 16384 mirror $url/h/delegation: not signed by the pinned root key
delegation.sig 4096 updated to epoch 1 serial 2 from $url/h/delegation.sig
index 262144 mirror $url/h/index: not signed by the delegation's signer
index.sig 4096 updated to epoch 1 serial 2 from $url/h/index.sig
EOF
refusal='package: hello: no good mirror' done="installed hello 2
removed hello" run='install hello && vesk remove hello'
hostile h/truncated "truncate -s -9 $file" 'hello: size differs from the index'
hostile h/longer "echo >> $file" "hello: more than $size bytes"
hostile h/changed "printf x | dd of=$file bs=1 seek=700 conv=notrunc 2> /dev/null" \
  'hello: SHA-256 differs from the index'
finish
