#!/bin/sh
# A package's life, timed three ways on one payload in one run: vesk, the
# floor under it, and dpkg.
#
#   sh bench/lifecycle.sh      # as root; prints a Markdown table
#
# The payload: 1,024 files in 64 directories below usr/share/lifecycle (a
# log-uniform spread of sizes from 64 bytes to 64 KiB, the same every run)
# and 8 of them executables in usr/bin (static i386 programs from
# `cc -m32 -static -nostdlib`, 1 to 57 KiB). Version 2 differs from version 1
# in one text file. Both are packed with vesk-pack and published with
# vesk-publish in the walkthrough's scratch world (tools/scratch.sh), and
# written as .deb files by dpkg-deb from the same trees.
#
# Timed, each once, as wall time of the whole command:
# - vesk: `vesk install lifecycle`, `vesk upgrade`, `vesk remove lifecycle`,
#   in a scratch root whose only mirror is the repository directory, each
#   after an untimed `vesk update`;
# - the floor: only the vesk-io calls a manager must make, in a shell loop.
#   Install: unpack and manifest2 of the archive, per file parents2 and
#   prepare2 on the root and observe of the staged file, elf2 per
#   executable, owned of the owned list. Upgrade: unpack, manifest2, the
#   per-file calls for the changed file only, owned. Remove: observe per
#   installed file, owned;
# - dpkg: `dpkg --root=ROOT -i` of version 1, of version 2, `-r`, in a
#   scratch root of its own (dpkg's default flushing included).
#
# Environment: VESK_MANAGER the manager to time (default manager/vesk, run
# with sh); BENCH_DIR the scratch directory (default: a new one in TMPDIR,
# removed at the end).
set -eu
cd "$(dirname "$0")/.."
manager=$(cd "$(dirname "${VESK_MANAGER:-manager/vesk}")" && pwd)/$(basename "${VESK_MANAGER:-manager/vesk}")
[ "$(id -u)" = 0 ] || { echo "bench/lifecycle.sh: run as root" >&2; exit 1; }
for tool in dpkg dpkg-deb cc ssh-keygen tar; do
  command -v "$tool" >/dev/null || { echo "bench/lifecycle.sh: needs $tool" >&2; exit 1; }
done
if [ -n "${BENCH_DIR:-}" ]; then
  w=$BENCH_DIR && mkdir -p "$w"
else
  w=$(mktemp -d) && trap 'rm -rf "$w"' EXIT
fi
w=$(cd "$w" && pwd)
umask 022
. tools/scratch.sh
scratch_init "$w"

# The payload, version 1.
t=$w/tree
mkdir -p "$t/data/usr/bin"
echo format=2 > "$t/meta"
for i in 1 2 3 4 5 6 7 8; do
  printf 'static const char pad[%d] = {1};\nvoid _start(void) { for (;;) (void)pad[0]; }\n' \
    $((i * i * 900)) | cc -m32 -static -nostdlib -O1 -x c - -o "$t/data/usr/bin/tool$i"
done
awk 'BEGIN { srand(17); for (i = 0; i < 1016; i++)
  printf "usr/share/lifecycle/d%02d/f%04d %d\n", i % 64, i, int(exp(rand() * log(1024))) * 64 }' |
  while read -r path size; do
    mkdir -p "$t/data/${path%/*}"
    head -c "$size" /dev/urandom | od -An -tx1 | head -c "$size" > "$t/data/$path"
  done
changed=usr/share/lifecycle/d07/f0007
desc() { printf 'name=lifecycle\nversion=%s\nrank=%s\ndepends=-\ndescription=benchmark payload\n' "$1" "$1"
  printf 'upstream=https://lifecycle.example.org/\ndate=0\n'; }
deb() { # VERSION: the .deb of the tree as it is now
  rm -rf "$w/deb" && mkdir -p "$w/deb/DEBIAN" && cp -R "$t/data/." "$w/deb/"
  printf 'Package: lifecycle\nVersion: %s\nArchitecture: all\nMaintainer: bench <bench@example.org>\n' "$1" \
    > "$w/deb/DEBIAN/control"
  printf 'Description: benchmark payload\n' >> "$w/deb/DEBIAN/control"
  dpkg-deb --root-owner-group -Zgzip -b "$w/deb" "$w/lifecycle_$1.deb" >/dev/null
}
archive1=$(desc 1 | scratch_pack "$t")
cp "$t/files" "$w/files1"
deb 1
echo changed >> "$t/data/$changed"
archive2=$(desc 2 | scratch_pack "$t")
deb 2
mkdir "$w/later" && mv "$w/repo/$archive2" "$w/repo/${archive2%.vesk}.desc" "$w/later/"
scratch_publish 1 >/dev/null

now() { date +%s%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b - a) / 1e9 }'; }
timed() { # VARIABLE COMMAND...: runs COMMAND, its output to the log, and sets VARIABLE to its seconds
  variable=$1 && shift
  start=$(now)
  "$@" >> "$w/log" 2>&1 || { echo "bench/lifecycle.sh: failed: $*" >&2; cat "$w/log" >&2; exit 1; }
  eval "$variable=$(seconds "$start" "$(now)")"
}

# vesk
sh "$manager" update >> "$w/log"
timed vesk_install sh "$manager" install lifecycle
cp "$VESK_ROOT/var/lib/vesk/owned" "$w/owned"
mv "$w/later/"* "$w/repo/" && scratch_publish 2 >/dev/null
sh "$manager" update >> "$w/log"
timed vesk_upgrade sh "$manager" upgrade
timed vesk_remove sh "$manager" remove lifecycle

# The floor: the vesk-io calls alone, against a root and a stage of its own.
floor=$w/floor
mkdir -m 0755 "$floor" "$floor/root" "$floor/stage1" "$floor/stage2"
floor_files() { # STAGE FILES: the per-file calls for the rows of FILES
  while IFS=$(printf '\t') read -r _ mode _ _ path; do
    [ "$mode" = 0644 ] || vesk-io elf2 "$1/data/$path" "$floor/root"
    vesk-io parents2 "$floor/root" "$path"
    vesk-io prepare2 "$floor/root" "$path"
    vesk-io observe "$1/data" "$path" >/dev/null
  done < "$2"
}
floor_install() {
  (cd "$floor/stage1" && vesk-io unpack < "$w/repo/$archive1")
  vesk-io manifest2 "$floor/stage1/files"
  floor_files "$floor/stage1" "$floor/stage1/files"
  vesk-io owned "$w/owned"
}
floor_upgrade() {
  (cd "$floor/stage2" && vesk-io unpack < "$w/repo/$archive2")
  vesk-io manifest2 "$floor/stage2/files"
  grep "	$changed\$" "$floor/stage2/files" > "$floor/changed"
  floor_files "$floor/stage2" "$floor/changed"
  vesk-io owned "$w/owned"
}
floor_remove() {
  while IFS=$(printf '\t') read -r _ _ _ _ path; do
    vesk-io observe "$floor/stage2/data" "$path" >/dev/null
  done < "$floor/stage2/files"
  vesk-io owned "$w/owned"
}
timed floor_install floor_install
timed floor_upgrade floor_upgrade
timed floor_remove floor_remove

# dpkg
droot=$w/dpkg
mkdir -p "$droot/var/lib/dpkg/info" "$droot/var/lib/dpkg/updates"
: > "$droot/var/lib/dpkg/status" && : > "$droot/var/lib/dpkg/available"
timed dpkg_install dpkg --root="$droot" --log=/dev/null -i "$w/lifecycle_1.deb"
timed dpkg_upgrade dpkg --root="$droot" --log=/dev/null -i "$w/lifecycle_2.deb"
timed dpkg_remove dpkg --root="$droot" --log=/dev/null -r lifecycle

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "| operation | vesk s | floor s | dpkg s | vesk/floor |"
echo "|---|---:|---:|---:|---:|"
for op in install upgrade remove; do
  eval "v=\$vesk_$op f=\$floor_$op d=\$dpkg_$op"
  # shellcheck disable=SC2154 # set by eval
  echo "| $op | $v | $f | $d | $(ratio "$v" "$f") |"
done
echo
echo "Payload: $(wc -l < "$w/files1") files, $(du -sk "$t/data" | cut -f1) KiB;" \
  "archive $(wc -c < "$w/repo/$archive1") bytes; manager ${VESK_MANAGER:-manager/vesk};" \
  "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)."
