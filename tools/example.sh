#!/bin/sh
# The walkthrough: vesk packaged as vesk for the target, through its whole
# life with the example scripts. Builds the static i586 programs (and the
# host programs the caller runs), packs them with the manual pages as vesk 1
# and as vesk 2 (one file differs), publishes the repository with throwaway
# keys, then installs, upgrades and removes vesk in a scratch root, checking
# the owned-file manifest with vesk-io owned after each step. Run as root.
set -eu
cd "$(dirname "$0")/.."
umask 022
sh tools/install-packages.sh cmake make g++ libgtest-dev tar coreutils openssh-client >/dev/null
sh tools/target-sysroot.sh >/dev/null
cmake --preset i586-musl-static >/dev/null && cmake --build --preset i586-musl-static >/dev/null
cmake --preset default >/dev/null && cmake --build --preset default --target vesk-io vesk-index >/dev/null
export VESK_IO="$PWD/build/default/vesk-io" VESK_INDEX="$PWD/build/default/vesk-index"
w=$(mktemp -d)
trap 'rm -rf "$w"' EXIT
VESK_NOW=$(date +%s) VESK_ROOT=$w/root
export VESK_NOW VESK_ROOT
abi=$(printf 'i586 musl pentium-mmx-audited\n' | sha256sum | cut -c1-64)
run() { printf '\n$ %s\n' "$*" && "$@"; }
owned() { "$VESK_IO" owned "$VESK_ROOT/var/lib/vesk/owned" && echo "owned list valid:" &&
  cut -f2,7,8 "$VESK_ROOT/var/lib/vesk/owned"; }

echo "== vesk 1: the static i586 programs and the manual pages, packed"
t=$w/tree
mkdir -p "$t/data/usr/bin" "$t/data/usr/share/man/man1" "$t/data/usr/share/man/man5" \
  "$t/data/usr/share/doc/vesk" "$w/repo"
cp examples/vesk/meta "$t/meta"
cp build/i586-musl-static/vesk-io build/i586-musl-static/vesk-index "$t/data/usr/bin/"
cp man/*.1 "$t/data/usr/share/man/man1/" && cp man/*.5 "$t/data/usr/share/man/man5/"
echo "vesk 1" > "$t/data/usr/share/doc/vesk/NEWS"
a=$(sh examples/pack.sh "$t" "$w/repo")
cp examples/vesk/desc "$w/repo/${a%.vesk}.desc"
echo "sh examples/pack.sh: $a, its manifest:" && cat "$t/files"

echo
echo "== keys: the repository's root key (pinned in the target root) and its signer key"
ssh-keygen -q -t ed25519 -N '' -C vesk-root -f "$w/root.key"
ssh-keygen -q -t ed25519 -N '' -C vesk-signer -f "$w/signer.key"
mkdir -p "$VESK_ROOT/etc/vesk"
printf 'vesk-root %s\n' "$(cat "$w/root.key.pub")" > "$VESK_ROOT/etc/vesk/allowed_signers"
echo "core $abi" > "$VESK_ROOT/etc/vesk/repository"
run sh examples/publish.sh core "$abi" 1 1 "$VESK_NOW" $((VESK_NOW + 31536000)) \
  "$w/root.key" "$w/signer.key" "$w/repo"
ls "$w/repo"

echo
echo "== install vesk 1"
run sh examples/vesk-caller.sh install "$w/repo" vesk
owned

echo
echo "== vesk 2 (NEWS differs), published as serial 2, upgraded"
echo "vesk 2" > "$t/data/usr/share/doc/vesk/NEWS"
a=$(sh examples/pack.sh "$t" "$w/repo") && echo "sh examples/pack.sh: $a"
{ cat examples/vesk/desc; printf 'version=2\nrank=2\n'; } > "$w/repo/${a%.vesk}.desc"
run sh examples/publish.sh core "$abi" 1 2 "$VESK_NOW" $((VESK_NOW + 31536000)) \
  "$w/root.key" "$w/signer.key" "$w/repo"
run sh examples/vesk-caller.sh install "$w/repo" vesk
owned
run cat "$VESK_ROOT/usr/share/doc/vesk/NEWS"

echo
echo "== remove vesk"
run sh examples/vesk-caller.sh remove vesk
owned
