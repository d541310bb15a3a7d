#!/bin/sh
# Builds the target programs (i586 musl, dynamic and static) and runs the
# whole test suite against each pair under qemu-i386 -cpu pentium, a CPU
# without cmov or SSE. As root it first sets up what it needs (packages and
# the i386 musl sysroot, see tools/target-sysroot.sh).
#
#   build/i586-musl/vesk-io         build/i586-musl/vesk-index
#   build/i586-musl-static/vesk-io  build/i586-musl-static/vesk-index
set -eu
cd "$(dirname "$0")/.."
started=$(date +%s)

sh tools/target-sysroot.sh >/dev/null

for preset in i586-musl i586-musl-static; do
  echo "== target build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

echo "== stripped sizes"
for program in build/i586-musl/vesk-io build/i586-musl/vesk-index \
               build/i586-musl-static/vesk-io build/i586-musl-static/vesk-index; do
  strip -o "$program.stripped" "$program"
  printf '%8d  %s\n' "$(wc -c <"$program.stripped")" "$program"
  rm -f "$program.stripped"
done

# The tests are host programs; they run the target programs through the
# emulator. Both suites run even when the first fails.
failed=""
for preset in i586-musl-test i586-musl-static-test; do
  echo "== tests of the target programs: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" || failed="$failed $preset"
done

echo "== target stage: $(($(date +%s) - started)) s"
if [ -n "$failed" ]; then
  echo "== failed:$failed" >&2
  exit 1
fi
