#!/bin/sh
# Builds the programs and runs them on the bundled example data, showing
# what a caller sees: exit status and the one line on standard error.
set -u
cd "$(dirname "$0")/.."

cmake --preset default >/dev/null && cmake --build --preset default --target vesk-io vesk-index >/dev/null || exit 1
io=build/default/vesk-io

step() {
  printf '$ %s\n' "$*"
  "$@" 2>&1
  printf '  -> exit status %s\n' "$?"
}

echo "== package manifest: valid, then a duplicate path"
step "$io" manifest examples/package/files
step "$io" manifest examples/package/files-refused
