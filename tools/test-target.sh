#!/bin/sh
# Builds the target programs (i586 musl, dynamic and static) and runs the
# host-built test suite against each pair under qemu-i386 -cpu pentium, a CPU
# without cmov or SSE. Needs the default preset built (tools/test.sh does
# that) and, as root, sets up the i386 musl sysroot (tools/target-sysroot.sh).
#
#   build/i586-musl/vesk-io         build/i586-musl/vesk-index
#   build/i586-musl-static/vesk-io  build/i586-musl-static/vesk-index
set -eu
cd "$(dirname "$0")/.."

sh tools/target-sysroot.sh >/dev/null
for preset in i586-musl i586-musl-static; do
  echo "== target build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

# Both suites run even when the first fails.
failed=""
for preset in i586-musl-test i586-musl-static-test; do
  echo "== the suite against the target programs: $preset"
  ctest --preset "$preset" || failed="$failed $preset"
done
if [ -n "$failed" ]; then
  echo "== failed:$failed" >&2
  exit 1
fi
