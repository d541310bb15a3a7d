#!/bin/sh
# The walkthrough: vesk packaged as vesk for the target, through its whole
# life with the installed tools. Builds the static i586 programs, and the host
# programs that it installs with vesk-pack, vesk-publish and vesk under a
# scratch prefix (cmake --install); packs the target programs with the manual
# pages as vesk 1 and as vesk 2 (one file differs), publishes the repository
# with throwaway keys (the repository directory is the root's only mirror),
# then updates, installs, upgrades and removes vesk in a scratch root, asks
# the queries, and checks the owned-file manifest with vesk-io owned after each step.
# Run as root.
set -eu
cd "$(dirname "$0")/.."
umask 022
sh tools/install-packages.sh cmake make g++ libgtest-dev tar coreutils openssh-client >/dev/null
sh tools/target-sysroot.sh >/dev/null
cmake --preset i586-musl-static >/dev/null && cmake --build --preset i586-musl-static >/dev/null
w=$(mktemp -d)
trap 'rm -rf "$w"' EXIT
. tools/scratch.sh
scratch_init "$w"
run() { printf '\n$ %s\n' "$*" && "$@"; }
owned() { vesk-io owned "$VESK_ROOT/var/lib/vesk/owned" && echo "owned list valid:" &&
  cut -f2,7,8 "$VESK_ROOT/var/lib/vesk/owned"; }

echo "== installed under the scratch prefix $w/prefix"
(cd "$w/prefix" && find . -type f | sort)
echo "keys: the repository's root key (pinned in the target root) and its signer key"

echo
echo "== vesk 1: the static i586 programs and the manual pages, packed"
t=$w/tree
mkdir -p "$t/data/usr/bin" "$t/data/usr/share/man/man1" "$t/data/usr/share/man/man5" \
  "$t/data/usr/share/doc/vesk"
cp examples/vesk/meta "$t/meta"
cp build/i586-musl-static/vesk-io build/i586-musl-static/vesk-index "$t/data/usr/bin/"
cp man/vesk-io.1 man/vesk-index.1 "$t/data/usr/share/man/man1/" && cp man/*.5 "$t/data/usr/share/man/man5/"
echo "vesk 1" > "$t/data/usr/share/doc/vesk/NEWS"
a=$(scratch_pack "$t" < examples/vesk/desc)
echo "vesk-pack: $a, its manifest:" && cat "$t/files"
scratch_publish 1
ls "$w/repo"

echo
echo "== install vesk 1"
run vesk update
run vesk install vesk
owned
run vesk list
run vesk info vesk
run vesk owner /usr/bin/vesk-io
run vesk verify vesk && echo "vesk verify: no file changed"

echo
echo "== vesk 2 (NEWS differs), published as serial 2, updated and upgraded"
echo "vesk 2" > "$t/data/usr/share/doc/vesk/NEWS"
a=$({ cat examples/vesk/desc; printf 'version=2\nrank=2\n'; } | scratch_pack "$t")
echo "vesk-pack: $a"
scratch_publish 2
run vesk update
run vesk upgrade
owned
run cat "$VESK_ROOT/usr/share/doc/vesk/NEWS"

echo
echo "== remove vesk"
run vesk remove vesk
owned
