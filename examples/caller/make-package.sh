#!/bin/sh
# Writes a package archive from a package tree (meta, files, data/) so that
# the same tree always gives the same bytes: owner, group and time fixed,
# each file named on its own (no directory members), members in manifest
# order with the manifest's modes, one 512-byte block per record (the
# archive ends after two zero blocks). The archive is named after its
# SHA-256 digest, as a repository index names it; the name is printed.
#
# usage: make-package.sh PACKAGE_TREE OUTPUT_DIRECTORY
set -eu
[ $# -eq 2 ] || { echo "usage: make-package.sh PACKAGE_TREE OUTPUT_DIRECTORY" >&2; exit 2; }
tree=$1
out=$(cd "$2" && pwd)
tmp=$out/package.tmp
tab=$(printf '\t')

fixed() {
  tar --format=ustar --numeric-owner --owner=0 --group=0 --mtime=@0 \
      --blocking-factor=1 "$@"
}

cd "$tree"
rm -f "$tmp"
fixed --mode=0644 -cf "$tmp" meta files
while IFS="$tab" read -r type mode size digest path; do
  fixed --mode="$mode" -rf "$tmp" "data/$path"
done < files

set -- $(sha256sum < "$tmp")
mv "$tmp" "$out/$1.vesk"
echo "$1.vesk"
