#!/bin/sh
# shellcheck disable=SC2016 # commands run later
# The manager as an administrator runs it (also under BusyBox alone): refusals, lock, flushes.
. "$VESK_SOURCE_DIR/tests/support/lib.sh"
. "$VESK_SOURCE_DIR/tests/vesk/world.sh"

mkdir "$TEST_TMP/bb" && busybox --install -s "$TEST_TMP/bb"
for program in ssh-keygen ${IO%% *}; do ln -sf "$(command -v "$program")" "$TEST_TMP/bb/"; done
for shell in "env PATH=$TEST_TMP/bb busybox sh" sh; do
  fresh
  expect "install ($shell)" 'vesk install hello && state' <<'EOF'
installed hello 1
delegation delegation.sig hello.owned hello.row index index.sig owned serial
1 1
bin/hello:755 share/doc/hello/NEWS:644 share/doc/hello/OLD:644
EOF
  expect "upgrade, pulling a dependency ($shell)" 'greet - && hello 2 greet=1 NEW && publish 2 &&
    vesk update > /dev/null && vesk upgrade && state' <<'EOF'
installed greet 1
installed hello 2
delegation delegation.sig greet.owned greet.row hello.owned hello.row index index.sig owned serial
1 2
bin/hello:755 local/share/greet/README:644 share/doc/hello/NEW:644 share/doc/hello/NEWS:644
EOF
  expect "remove ($shell)" 'vesk remove hello && state' <<'EOF'
removed hello
delegation delegation.sig greet.owned greet.row index index.sig owned serial
1 2
local/share/greet/README:644
EOF
done

refused() { # TITLE SETUP COMMAND STEP:REASON...: COMMAND fails with status 1, changing nothing
  fresh && vesk install hello > /dev/null && eval "$2" > /dev/null
  vesk update > /dev/null 2>&1; before=$(snapshot) title=$1 command=$3 && shift 3
  expect "$title" "$command; [ \$? = 1 ] || echo status not 1
    [ \"\$(snapshot)\" = '$before' ] || echo root changed" <<EOF
$(printf 'refused at %s\n' "$@")
EOF
}
refused 'an index expired since the update' : 'VESK_NOW=99999 vesk install hello' \
  'index: vesk-index: delegation time/epoch'
refused 'a missing dependency' 'hello 2 greet=1 NEW && publish 2' \
  'vesk install hello' 'resolve: no greet version 1 in the index'
refused 'a dependency cycle' 'greet hello=2 && hello 2 greet=1 NEW && publish 2' \
  'vesk install hello' 'resolve: dependency cycle'
refused 'a changed file' 'echo 3 >> root/usr/bin/hello &&
  hello 2 - OLD && publish 2' 'vesk upgrade; vesk remove hello' \
  'upgrade: usr/bin/hello changed since it was installed' \
  'remove: usr/bin/hello changed since it was installed'
refused 'a file of no package' 'hello 2 - NEW && publish 2 &&
  echo mine > root/usr/share/doc/hello/NEW' 'vesk install hello' \
  'install: usr/share/doc/hello/NEW is not hello'\''s'
refused 'two packages shipping one path' 'greet - && echo 2 >> greet/meta &&
  package clash 1 - greet && publish 2' 'vesk install greet clash' \
  'install: usr/local/share/greet/README is shipped by both greet and clash'
refused 'a dependent left behind' 'package beta 1 hello=1 greet &&
  publish 2 && vesk update && vesk install beta && hello 2 - NEW && publish 3' \
  'vesk install hello; vesk remove hello' 'depends: beta needs hello=1' \
  'depends: beta needs hello=1'
expect 'unless the same run upgrades the dependent' 'echo 2 >> greet/meta &&
  package beta 2 hello=2 greet && publish 4 && vesk update > /dev/null &&
  vesk install hello beta' <<'EOF'
installed hello 2
installed beta 2
EOF

fresh
expect 'a second run waits for the lock, then refuses' 'mkdir -p root/var/lib/vesk/lock &&
  echo $$ > root/var/lib/vesk/lock/pid && VESK_LOCK_WAIT=1 vesk remove hello' <<EOF
refused at lock: run $$ is in progress
[status 1]
EOF

fresh
expect 'a flush before the renames and after them' \
  'strace -f -o trace -e "trace=/rename|sync" sh "$tools/vesk" install hello
  grep -o "rename\|sync" trace | uniq | xargs' <<'EOF'
installed hello 1
sync rename sync
EOF
finish
