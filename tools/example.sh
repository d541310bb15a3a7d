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

# The repository example is valid from NOW 450 (its generation time) up to,
# not including, 700 (its expiry). The caller computes the delegation digest.
index=build/default/vesk-index
abi=74a4aa28d1cf9901d2d82f018cfe57f608d6c43905af89734b0f6ba7f76bf387
deleg_sha=$(sha256sum examples/repo/delegation | cut -c1-64)

echo
echo "== repository index at NOW 500: valid, then a row the delegation does not list"
step "$index" delegation 500 examples/repo/delegation
step "$index" index 500 core "$abi" "$deleg_sha" examples/repo/delegation examples/repo/index
step "$index" index 500 core "$abi" "$deleg_sha" examples/repo/delegation examples/repo/index-undelegated

echo
echo "== package archive: examples/package/hello.tar written with GNU tar"
# The packaging recipe: modes from the manifest, members in manifest order,
# a strict ustar stream owned by root with no trailing record padding.
out="$PWD/examples/package/hello.tar"
(
  set -e
  cd examples/package
  chmod 0644 meta files
  tab=$(printf '\t')
  while IFS=$tab read -r _ mode _ _ path; do chmod "$mode" "data/$path"; done < files
  { echo meta; echo files; cut -f5 files | sed 's|^|data/|'; } |
    tar --format=ustar --owner=0 --group=0 --numeric-owner --no-recursion --hard-dereference -b1 -cf "$out" -T -
) || exit 1
tar -tvf "$out"

echo
echo "== unpack < examples/package/hello.tar in a fresh stage directory, then again in the same one"
scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
stage="$scratch/stage"
mkdir -m 0755 "$stage"
io_path="$PWD/$io"
(cd "$stage" && step "$io_path" unpack < "$out")
(cd "$stage" && find . -mindepth 1 -printf '%P  %M %u %s\n' | LC_ALL=C sort)
(cd "$stage" && step "$io_path" unpack < "$out")

echo
echo "== examples/install.sh: install hello from examples/caller/repo into a fresh target root, then at NOW 700"
root="$scratch/root"
mkdir -m 0755 "$root"
index_path="$PWD/$index"
step env VESK_IO="$io_path" VESK_INDEX="$index_path" sh examples/install.sh -n 500 examples/caller/repo hello "$root"
step env VESK_IO="$io_path" VESK_INDEX="$index_path" sh examples/install.sh -n 700 examples/caller/repo hello "$root"
